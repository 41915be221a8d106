#include "loopback/TimingCheck.h"

#include "loopback/ClickTrain.h"
#include "loopback/InputRecorder.h"
#include "loopback/TimingCheckAnalysis.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The whole check is given up when it has not ended this long after its
// last click was due: the engine stopped placing sounds.
constexpr qint64 watchdogMarginNs = 15'000'000'000;

int millisecondsUntil(qint64 timeNs)
{
    const qint64 waitNs = std::max<qint64>(timeNs - monotonicNowNs(), 0);
    return int(std::min<qint64>((waitNs + 999'999) / 1'000'000, std::numeric_limits<int>::max()));
}

} // namespace

TimingCheck::TimingCheck(AudioEngine *audioEngine, QObject *parent)
    : QObject(parent)
    , engine(audioEngine)
{
    qRegisterMetaType<TimingCheckResult>();
    for (QTimer *timer : {&nextTimer, &endTimer, &watchdog}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&nextTimer, &QTimer::timeout, this, &TimingCheck::playNext);
    connect(&endTimer, &QTimer::timeout, this, &TimingCheck::finish);
    connect(&watchdog, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("the audio output did not play the clicks (%1 of %2 were placed)")
                 .arg(std::count_if(timings.begin(), timings.end(), [](const SoundTiming &t) { return t.soundId != 0; }))
                 .arg(ClickTrain::clickCount));
    });
}

TimingCheck::~TimingCheck()
{
    cancel();
}

bool TimingCheck::start(const AudioInputDescription &checkedInput, QString *errorText)
{
    cancel();
    if (!engine || !engine->isOpen()) {
        if (errorText)
            *errorText = QStringLiteral("the audio output is not open");
        return false;
    }
    input = checkedInput;
    recorder = std::make_unique<InputRecorder>();
    if (!recorder->start(input.name, errorText)) {
        recorder.reset();
        return false;
    }
    connections.push_back(connect(engine, &AudioEngine::soundPlaced, this, &TimingCheck::soundPlaced));
    connections.push_back(connect(engine, &AudioEngine::soundTimingRevised, this, &TimingCheck::soundTimingRevised));
    connections.push_back(connect(engine, &AudioEngine::failed, this, [this](const QString &reason) { stop(reason); }));
    engine->setIdle(false);
    running = true;

    const double rate = engine->rateHz();
    peakHz = ClickTrain::peakFrequencyHz(rate);
    click = ClickTrain::samples(rate, peakHz, clickAmplitude);
    requestedNs.assign(1, monotonicNowNs() + leadNs);
    for (qint64 gap : ClickTrain::onsetGapsNs(ClickTrain::clickCount))
        requestedNs.push_back(requestedNs.back() + gap);
    timings.assign(requestedNs.size(), SoundTiming());
    ids.clear();
    watchdog.start(millisecondsUntil(requestedNs.back() + watchdogMarginNs));
    playNext();
    return true;
}

void TimingCheck::cancel()
{
    if (!running)
        return;
    running = false;
    nextTimer.stop();
    endTimer.stop();
    watchdog.stop();
    disconnectEngine();
    engine->cancel();
    engine->setIdle(true);
    if (recorder)
        recorder->stop();
    recorder.reset();
}

void TimingCheck::disconnectEngine()
{
    for (const QMetaObject::Connection &connection : connections)
        disconnect(connection);
    connections.clear();
}

void TimingCheck::playNext()
{
    if (!running || ids.size() >= requestedNs.size())
        return;
    ids.push_back(engine->play(click, requestedNs[ids.size()]));
}

void TimingCheck::soundPlaced(const SoundTiming &timing)
{
    if (!running || ids.empty() || timing.soundId != ids.back())
        return;
    const size_t k = ids.size() - 1;
    timings[k] = timing;
    emit progress(int(k + 1), int(requestedNs.size()));
    if (recorder && !recorder->failure().isEmpty()) {
        stop(recorder->failure());
        return;
    }
    if (ids.size() < requestedNs.size())
        nextTimer.start(millisecondsUntil(timing.endNs + nextClickAfterNs));
    else
        endTimer.start(millisecondsUntil(timing.endNs + tailNs));
}

void TimingCheck::soundTimingRevised(const SoundTiming &timing)
{
    for (size_t k = 0; k < ids.size(); ++k) {
        if (ids[k] == timing.soundId)
            timings[k] = timing;
    }
    // The check ends only once the last click has ended by the latest word.
    if (running && endTimer.isActive() && !ids.empty() && timing.soundId == ids.back())
        endTimer.start(millisecondsUntil(timing.endNs + tailNs));
}

void TimingCheck::stop(const QString &reason)
{
    if (!running)
        return;
    cancel();
    qWarning().noquote() << "Loop-back check failed:" << reason;
    emit failed(reason);
}

void TimingCheck::finish()
{
    if (!running)
        return;
    const QString recorderFailure = recorder->failure();
    if (!recorderFailure.isEmpty()) {
        stop(recorderFailure);
        return;
    }
    const CheckRecording recording = recorder->recording();
    cancel();

    std::vector<qint64> onsets;
    for (const SoundTiming &timing : timings)
        onsets.push_back(timing.onsetNs);
    TimingCheckDelays delays;
    QString problem;
    if (!measureClickDelays(recording, onsets, peakHz, &delays, &problem)) {
        const QString reason = problem + QStringLiteral(" (recorded from ") + input.name + QLatin1Char(')');
        qWarning().noquote() << "Loop-back check failed:" << reason;
        emit failed(reason);
        return;
    }
    TimingCheckResult result;
    result.time = QDateTime::currentDateTime();
    result.input = input.name;
    result.throughMonitor = input.isMonitor();
    result.played = int(onsets.size());
    result.sinkLatencyMs = input.isMonitor() ? delays.sinkLatencyMs : 0.0;
    setDelayStatistics(result, delays.delaysMs);
    qInfo().noquote() << "Loop-back check: recording at" << recording.rateHz << "Hz," << recording.reports.size()
                      << "timing reports, the timeline's rate" << delays.timeline.timeline.framesPerSecond
                      << "Hz, reports within" << delays.timeline.largestGapMs << "ms of it,"
                      << recording.holeFrames << "frames not delivered";
    emit finished(result);
}
