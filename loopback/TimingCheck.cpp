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

// A level in dBFS, for the log; none at all is digital silence.
QString decibels(double level)
{
    return level > 0.0 ? QString::number(20.0 * std::log10(level), 'f', 1) + QStringLiteral(" dBFS")
                       : QStringLiteral("none (digital silence)");
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
    connections.push_back(connect(engine, &AudioEngine::soundStartMaybeLost, this,
                                  [this](quint64 id, qint64) { soundMaybeLost(id); }));
    connections.push_back(connect(engine, &AudioEngine::soundPartMaybeLost, this,
                                  [this](quint64 id, qint64, qint64) { soundMaybeLost(id); }));
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
    maybeLost.assign(requestedNs.size(), false);
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

// A click whose samples did not all reach the server in time is not timed:
// what the recording holds of it is not the whole click.
void TimingCheck::soundMaybeLost(quint64 soundId)
{
    for (size_t k = 0; k < ids.size(); ++k) {
        if (ids[k] == soundId)
            maybeLost[k] = true;
    }
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
    // The check has stopped: what fails now is said here.
    const auto fail = [this](const QString &reason) {
        qWarning().noquote() << "Loop-back check failed:" << reason;
        emit failed(reason);
    };
    if (!measureClickDelays(recording, onsets, peakHz, &delays, &problem)) {
        fail(problem + QStringLiteral(" (recorded from ") + input.name + QLatin1Char(')'));
        return;
    }
    std::vector<double> timed;
    for (size_t i = 0; i < delays.foundClicks.size(); ++i) {
        if (!maybeLost[size_t(delays.foundClicks[i])])
            timed.push_back(delays.delaysMs[i]);
    }
    const int lostCount = int(std::count(maybeLost.begin(), maybeLost.end(), true));
    if (lostCount > 0) {
        qWarning().noquote() << "Loop-back check:" << lostCount
                             << "clicks reached the audio server too late to be played whole; they are not timed";
    }
    if (timed.empty()) {
        fail(QStringLiteral("no click was played whole: the computer was too busy"));
        return;
    }
    TimingCheckResult result;
    result.time = QDateTime::currentDateTime();
    result.input = input.name;
    result.throughMonitor = input.isMonitor();
    result.played = int(onsets.size());
    result.sinkLatencyMs = input.isMonitor() ? delays.sinkLatencyMs : 0.0;
    setDelayStatistics(result, timed);
    qInfo().noquote() << QStringLiteral("Loop-back check: recording at %1 Hz, %2 timing reports, within %3 ms of the "
                                        "recording's timeline; its rate %4 Hz by the reports, %5 Hz %6; %7 frames not "
                                        "delivered; the clicks at %8, the input's noise through their filter at %9")
                             .arg(recording.rateHz)
                             .arg(recording.reports.size())
                             .arg(delays.timeline.largestGapMs, 0, 'f', 3)
                             .arg(delays.reportsRateHz, 0, 'f', 3)
                             .arg(delays.timeline.timeline.framesPerSecond, 0, 'f', 3)
                             .arg(delays.rateFromClicks ? QStringLiteral("by the clicks") : QStringLiteral("used"))
                             .arg(recording.holeFrames)
                             .arg(decibels(delays.clickLevel), decibels(delays.noiseLevel));
    emit finished(result);
}
