#ifndef TIMINGCHECK_H
#define TIMINGCHECK_H

#include "audio/AudioEngine.h"
#include "loopback/TimingCheckInput.h"
#include "loopback/TimingCheckResult.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class InputRecorder;

// The loop-back timing check: plays the click train (ClickTrain) through the
// audio engine exactly as stimuli are played (the same engine, its open
// stream at the session's rate, each click placed by play() at its onset,
// the next one asked for once the one before has ended), records an input
// meanwhile (InputRecorder), and finds each click in the recording against
// the engine's estimate of its onset (measureClickDelays). The stream moves
// from start() on and is held still again at the end, as between runs.
//
// Every call is made from the engine's thread, and every signal is
// delivered there.
class TimingCheck : public QObject
{
    Q_OBJECT

public:
    // The engine stays the caller's; it must be open.
    explicit TimingCheck(AudioEngine *engine, QObject *parent = nullptr);
    ~TimingCheck() override;

    // Starts recording input and playing. Returns false, with the reason in
    // plain words, when it cannot start.
    bool start(const AudioInputDescription &input, QString *errorText);
    // Stops at once; no signal follows.
    void cancel();
    bool isRunning() const { return running; }

    // The recording runs this long before the first click is due: the
    // engine and the recording find their clocks, a device that was idle
    // settles, and the lead of a monitor's recording is covered.
    static constexpr qint64 leadNs = 3'000'000'000;
    // And this long after the last click has ended, for the latest delays.
    static constexpr qint64 tailNs = 1'200'000'000;
    // The clicks' peak, -6 dBFS: clear of a line input's noise, short of
    // clipping where the output's level exceeds the input's range.
    static constexpr double clickAmplitude = 0.5;
    // The next click is asked for this long after the one before has ended.
    static constexpr qint64 nextClickAfterNs = 5'000'000;

signals:
    void progress(int placed, int total);
    // The check is over: the result (time, input, counts and statistics;
    // the output is the caller's to name).
    void finished(const TimingCheckResult &result);
    void failed(const QString &reason);

private:
    void soundPlaced(const SoundTiming &timing);
    void soundTimingRevised(const SoundTiming &timing);
    void soundMaybeLost(quint64 soundId);
    void playNext();
    void finish();
    void stop(const QString &reason);
    void disconnectEngine();

    AudioEngine *engine;
    std::unique_ptr<InputRecorder> recorder;
    AudioInputDescription input;
    QVector<float> click;
    double peakHz = 0.0;
    std::vector<qint64> requestedNs;    // each click's requested onset
    std::vector<SoundTiming> timings;   // each click's timing, as placed or revised
    std::vector<quint64> ids;
    std::vector<bool> maybeLost;        // part of the click may not have been played (a busy computer)
    QTimer nextTimer;
    QTimer endTimer;
    QTimer watchdog;
    bool running = false;
    std::vector<QMetaObject::Connection> connections;
};

#endif // TIMINGCHECK_H
