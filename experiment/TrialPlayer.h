#ifndef TRIALPLAYER_H
#define TRIALPLAYER_H

#include "audio/AudioEngine.h"

#include <QObject>
#include <QTimer>
#include <QVector>

// When a trial's sound is due: `referenceNs` (the answer, or "I am ready")
// plus the sound's own length plus the silent interval, on the monotonic
// clock. The length is the sound's frames at its rate, to the nanosecond.
qint64 soundOnsetNs(qint64 referenceNs, qint64 frames, double rateHz, double silentIntervalSeconds);

// The sound of one trial at a time, from the request to its end at the
// device. It hands the samples to the audio engine with their onset time,
// learns where the engine placed them, and tells when the last sample has
// left the device. The end follows what the engine learns: a revised timing
// moves it, and while the device has stalled the sound is not over. A sound
// the engine never places is caught by a watchdog; an engine that fails ends
// the sound with its reason. Reaction times run from the estimated end,
// never from when a notice arrived.
class TrialPlayer : public QObject
{
    Q_OBJECT

public:
    explicit TrialPlayer(QObject *parent = nullptr);
    ~TrialPlayer() override;

    // Takes the engine, which the player then owns; replaces any earlier one.
    void setEngine(AudioEngine *engine);
    AudioEngine *engine() const { return audio; }

    // Opens the engine's stream at rateHz on device, unless it already runs
    // so. On failure returns false with the reason in plain words.
    bool prepare(int rateHz, const QString &device, QString *errorText);

    // Plays samples (converted to 32-bit float, nothing else) so that the
    // first reaches the device at onsetNs. A sound that is still playing is
    // dropped first.
    void play(const QVector<double> &samples, qint64 onsetNs);
    // Drops the sound, wherever it is.
    void cancel();
    // Between runs the engine's stream is held still, so that the program
    // barely wakes and the device may suspend; a run moves it on.
    void setIdle(bool idle);
    // From play() until the sound has ended, failed or been dropped.
    bool isPlaying() const { return playing; }

    // The timing of the last sound placed; hasTiming() tells whether there is
    // one since the last play().
    bool hasTiming() const { return placed; }
    const SoundTiming &timing() const { return last; }
    // From the estimated end of the last sound to answerNs, milliseconds.
    double reactionTimeMs(qint64 answerNs) const;

    // The answer is due this long after the estimated end, so that the
    // listener never hears the buttons come on before the sound is over.
    static constexpr qint64 endMarginNs = 1'000'000;
    // A sound not over this long after its own length is taken as lost: long
    // enough for a loaded machine, short enough that a stalled run is seen.
    qint64 watchdogMarginNs = 10'000'000'000;

signals:
    // The sound has ended at the device (estimated end + endMarginNs).
    void soundEnded(const SoundTiming &timing);
    // Sound cannot be played: the reason in plain words.
    void failed(const QString &reason);

private:
    void soundPlaced(const SoundTiming &timing);
    void soundTimingRevised(const SoundTiming &timing);
    void deviceStalled(bool stalled);
    void armWatchdog();
    void soundStartMaybeLost(quint64 id, qint64 frames);
    void soundPartMaybeLost(quint64 id, qint64 offset, qint64 frames);
    void endTimerFired();
    void engineFailed(const QString &reason);
    void armAt(QTimer &timer, qint64 timeNs);

    AudioEngine *audio = nullptr;
    QTimer endTimer;
    QTimer watchdog;
    qint64 endDueNs = 0;
    qint64 lengthNs = 0;
    quint64 soundId = 0;
    bool placed = false;
    bool playing = false;
    bool stalled = false;   // the engine says the device makes no progress
    SoundTiming last;
};

#endif // TRIALPLAYER_H
