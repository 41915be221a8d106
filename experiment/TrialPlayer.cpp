#include "experiment/TrialPlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

qint64 soundOnsetNs(qint64 referenceNs, qint64 frames, double rateHz, double silentIntervalSeconds)
{
    return referenceNs + std::llround(double(frames) * 1e9 / rateHz) + std::llround(silentIntervalSeconds * 1e9);
}

TrialPlayer::TrialPlayer(QObject *parent)
    : QObject(parent)
{
    // Precise timers never fire before their time; the remainder below a
    // millisecond is checked on firing.
    endTimer.setSingleShot(true);
    endTimer.setTimerType(Qt::PreciseTimer);
    watchdog.setSingleShot(true);
    connect(&endTimer, &QTimer::timeout, this, &TrialPlayer::endTimerFired);
    connect(&watchdog, &QTimer::timeout, this, [this] {
        cancel();
        emit failed(QStringLiteral("the audio output did not play the sound: it was still not over %1 s after "
                                   "its time (the audio server may have stopped)")
                        .arg(watchdogMarginNs / 1e9));
    });
}

TrialPlayer::~TrialPlayer()
{
    delete audio;
}

void TrialPlayer::setEngine(AudioEngine *engine)
{
    cancel();
    delete audio;
    audio = engine;
    if (!audio)
        return;
    audio->setParent(nullptr);
    connect(audio, &AudioEngine::soundPlaced, this, &TrialPlayer::soundPlaced);
    connect(audio, &AudioEngine::soundTimingRevised, this, &TrialPlayer::soundTimingRevised);
    connect(audio, &AudioEngine::deviceStalled, this, &TrialPlayer::deviceStalled);
    connect(audio, &AudioEngine::soundStartMaybeLost, this, &TrialPlayer::soundStartMaybeLost);
    connect(audio, &AudioEngine::soundPartMaybeLost, this, &TrialPlayer::soundPartMaybeLost);
    connect(audio, &AudioEngine::failed, this, &TrialPlayer::engineFailed);
}

bool TrialPlayer::prepare(int rateHz, const QString &device, QString *errorText)
{
    if (!audio) {
        if (errorText)
            *errorText = QStringLiteral("this program was built without an audio output");
        return false;
    }
    if (audio->isOpen() && audio->rateHz() == rateHz && audio->device() == device)
        return true;
    return audio->open(rateHz, device, errorText);
}

void TrialPlayer::play(const QVector<double> &samples, qint64 onsetNs)
{
    cancel();
    if (!audio)
        return;
    QVector<float> floats(samples.size());
    for (int i = 0; i < samples.size(); ++i)
        floats[i] = float(samples[i]);
    playing = true;
    const double rate = audio->rateHz() > 0 ? audio->rateHz() : 1.0;
    lengthNs = std::llround(double(samples.size()) * 1e9 / rate);
    armAt(watchdog, std::max(onsetNs, monotonicNowNs()) + lengthNs + watchdogMarginNs);
    soundId = audio->play(floats, onsetNs);
}

void TrialPlayer::cancel()
{
    const bool wasPlaying = playing;
    playing = false;
    placed = false;
    soundId = 0;
    lengthNs = 0;
    endTimer.stop();
    watchdog.stop();
    if (wasPlaying && audio)
        audio->cancel();
}

void TrialPlayer::setIdle(bool idle)
{
    if (audio && audio->isOpen())
        audio->setIdle(idle);
}

double TrialPlayer::reactionTimeMs(qint64 answerNs) const
{
    return double(answerNs - last.endNs) / 1e6;
}

void TrialPlayer::soundPlaced(const SoundTiming &timing)
{
    if (!playing || timing.soundId != soundId)
        return;   // a sound dropped since
    last = timing;
    placed = true;
    endDueNs = timing.endNs + endMarginNs;
    if (!stalled)
        armAt(endTimer, endDueNs);
}

void TrialPlayer::soundTimingRevised(const SoundTiming &timing)
{
    // The answer's row holds the best knowledge even after the sound ended;
    // the end timer follows it while the sound plays.
    if (!placed || timing.soundId != last.soundId)
        return;
    const SoundTiming before = last;
    last = timing;
    last.framesMaybeLost = std::max(before.framesMaybeLost, timing.framesMaybeLost);
    last.laterFramesMaybeLost = before.laterFramesMaybeLost;
    last.laterLossFromFrame = before.laterLossFromFrame;
    if (!playing)
        return;
    endDueNs = timing.endNs + endMarginNs;
    armWatchdog();
    if (!stalled)
        armAt(endTimer, endDueNs);
}

void TrialPlayer::deviceStalled(bool nowStalled)
{
    stalled = nowStalled;
    if (!playing)
        return;
    if (stalled) {
        // Nothing is over while the device stands still; the engine gives up
        // on a device that never moves again, and says so.
        endTimer.stop();
        watchdog.stop();
        return;
    }
    armWatchdog();
    if (placed)
        armAt(endTimer, endDueNs);
}

void TrialPlayer::armWatchdog()
{
    const qint64 fromNs = placed ? last.onsetNs : monotonicNowNs();
    armAt(watchdog, std::max(fromNs, monotonicNowNs()) + lengthNs + watchdogMarginNs);
}

void TrialPlayer::soundStartMaybeLost(quint64 id, qint64 frames)
{
    // Kept with the sound's timing, for its answer's journal row.
    if (placed && id == last.soundId)
        last.framesMaybeLost = frames;
}

void TrialPlayer::soundPartMaybeLost(quint64 id, qint64 offset, qint64 frames)
{
    if (!placed || id != last.soundId)
        return;
    if (last.laterFramesMaybeLost == 0)
        last.laterLossFromFrame = offset;
    last.laterFramesMaybeLost += frames;
}

void TrialPlayer::endTimerFired()
{
    if (stalled)
        return;
    if (monotonicNowNs() < endDueNs) {
        armAt(endTimer, endDueNs);
        return;
    }
    // A device that may have stopped since its last word: looked at again
    // shortly, until it is seen moving or the engine says it stalled.
    if (!audio->deviceProgressing()) {
        endTimer.start(2);
        return;
    }
    playing = false;
    watchdog.stop();
    emit soundEnded(last);
}

void TrialPlayer::engineFailed(const QString &reason)
{
    cancel();
    emit failed(reason);
}

void TrialPlayer::armAt(QTimer &timer, qint64 timeNs)
{
    const qint64 waitNs = std::max<qint64>(timeNs - monotonicNowNs(), 0);
    timer.start(int(std::min<qint64>((waitNs + 999'999) / 1'000'000, std::numeric_limits<int>::max())));
}
