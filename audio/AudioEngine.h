#ifndef AUDIOENGINE_H
#define AUDIOENGINE_H

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

// Times here are nanoseconds on the monotonic clock, the clock QElapsedTimer
// and std::chrono::steady_clock read (CLOCK_MONOTONIC on Linux); frames are
// sample positions on the one mono stream.
qint64 monotonicNowNs();

// Where one sound went on the device's timeline. The engine fixes it when it
// writes the sound to the stream, and revises it when it learns that the
// device's timeline has moved since (a device that stalled or restarted): the
// onset and end are then its best knowledge, the planned ones what was first
// fixed.
struct SoundTiming
{
    quint64 soundId = 0;
    qint64 frames = 0;             // length of the sound
    qint64 requestedOnsetNs = 0;   // when its first sample was asked to reach the device
    qint64 onsetNs = 0;            // estimate: when its first sample reaches the device
    qint64 endNs = 0;              // estimate: when its last sample has left the device
    qint64 plannedOnsetNs = 0;     // the onset and end as first fixed
    qint64 plannedEndNs = 0;
    qint64 latencyNs = 0;          // the output latency in use when it was placed
    // Frames at its start that the server had already passed when the sound
    // reached it (a write delayed on a busy computer): they may not have
    // been played. 0 for a sound that arrived in time.
    qint64 framesMaybeLost = 0;
    // The same for later stretches of a long sound, written in pieces: how
    // many frames in all, and from which frame of the sound on the first.
    qint64 laterFramesMaybeLost = 0;
    qint64 laterLossFromFrame = 0;
    // The output device stalled (or its timeline jumped) while the sound was
    // due or playing, and moved its onset or end by more than
    // AudioEngine::revisionToleranceNs from the plan.
    bool deviceStalled = false;

    // Estimated onset minus requested onset: 0 for a sound placed on time (up
    // to one frame, never early), positive for a late one.
    qint64 onsetErrorNs() const { return onsetNs - requestedOnsetNs; }
    // How much later than planned the sound started, and ended.
    qint64 onsetDelayNs() const { return onsetNs - plannedOnsetNs; }
    qint64 endDelayNs() const { return endNs - plannedEndNs; }
};
Q_DECLARE_METATYPE(SoundTiming)

// What plays the sounds, in words for the journal and the log.
struct AudioOutputInfo
{
    QString backend;          // "libpipewire", "libpulse" or "Qt Multimedia"
    QString server;           // the audio server and its version, where known
    QString device;           // the output device, in words for a person: its name, then its description
    double deviceRateHz = 0;  // the device's own rate; 0 where unknown
    bool resampled = false;   // the server converts the stream's rate for the device
    QString volume;           // the stream's volume as set, e.g. "100 %"
    int graphRateHz = 0;      // the rate the server's processing graph runs at; 0 where it has none
    int cycleFrames = 0;      // frames per processing cycle of that graph; 0 where it has none
    QString deviceName;       // the output device's name alone, as the server names it; empty where unknown
};

// An output device the audio server offers.
struct AudioDeviceDescription
{
    QString name;          // what open() takes
    QString description;   // what a person recognises it by
    bool isDefault = false;   // the server's default output, where the engine can tell
};

// One output stream, opened once at a rate and running from then on, playing
// silence between sounds. Each sound is placed so that its first sample
// reaches the device at a requested time; the engine reports where it went.
// A sound whose time has passed, or that cannot be written in time, starts as
// soon as it can and reports how late it is.
//
// Every call is made from the thread the engine lives in, and every signal is
// delivered there.
class AudioEngine : public QObject
{
    Q_OBJECT

public:
    explicit AudioEngine(QObject *parent = nullptr);
    ~AudioEngine() override;

    // Opens a mono 32-bit float stream at rateHz on the device (empty: the
    // server's default output) and starts it. Blocks until the stream runs or
    // fails, a few seconds at most. On failure returns false with a plain
    // description in *errorText.
    virtual bool open(int rateHz, const QString &device, QString *errorText) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual int rateHz() const = 0;
    virtual QString device() const = 0;

    // Plays samples (full scale +-1, sent unchanged) so that the first one
    // reaches the device at onsetNs. Returns the sound's id; soundPlaced
    // follows once with its timing, or failed.
    virtual quint64 play(const QVector<float> &samples, qint64 onsetNs) = 0;
    // Drops every sound not yet played and silences one that plays.
    virtual void cancel() = 0;

    virtual AudioOutputInfo outputInfo() const = 0;
    // The output latency of the stream as it runs now: how long a sample
    // written now takes to reach the device.
    virtual qint64 outputLatencyNs() const = 0;
    // The highest rate open() can accept, Hz.
    virtual int maximumRateHz() const = 0;
    // The outputs that open() can be given; empty when none can be listed
    // (no audio server).
    virtual QVector<AudioDeviceDescription> outputDevices() const = 0;

    // Outside a run the stream is held still (corked, or inactive), so that
    // the program barely wakes and the device may suspend; the engine finds
    // its clock again when the stream moves on. A sound played while idle
    // moves the stream on by itself. The default does nothing.
    virtual void setIdle(bool idle);

    // Whether the server's latest word shows the device moving on: false as
    // soon as a cycle is overdue or a report lies off the device's timeline,
    // long before a stall is declared. A sound is not taken as over while
    // this is false. The default (an engine that knows nothing of the
    // device) says true.
    virtual bool deviceProgressing() const;

    // A sound whose onset or end the device's timeline moved by more than
    // this since it was placed is said to have been moved by a stall.
    static constexpr qint64 revisionToleranceNs = 500'000;
    // A device that makes no progress this long while a sound is due or
    // playing has stalled; one that makes none for stallFailureNs has failed
    // (long enough that a loaded machine is not taken for one).
    static constexpr qint64 stallNs = 500'000'000;
    static constexpr qint64 stallFailureNs = 10'000'000'000;

signals:
    void soundPlaced(const SoundTiming &timing);
    // After soundPlaced: the engine learnt that the sound plays elsewhere than
    // placed (the device stalled, or its timeline jumped). The timing holds
    // the engine's best knowledge, with the plan unchanged.
    void soundTimingRevised(const SoundTiming &timing);
    // The device has made no progress for stallNs while a sound is due or
    // playing (true), or has made progress again (false).
    void deviceStalled(bool stalled);
    // After soundPlaced: the sound reached the server late, and up to
    // `frames` of its first frames may not have been played.
    void soundStartMaybeLost(quint64 soundId, qint64 frames);
    // The same for a later stretch of a long sound, written in pieces: up to
    // `frames` frames from frame `offset` of the sound on.
    void soundPartMaybeLost(quint64 soundId, qint64 offset, qint64 frames);
    // The stream stopped for good (the server went away, the device was
    // removed): no further sound will play until open() succeeds again.
    void failed(const QString &reason);
};

#endif // AUDIOENGINE_H
