// Audio playback of one trial's sound.

#include "app/MainWindow.h"
#include "experiment/PcmConversion.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QBuffer>
#include <QDebug>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace {

// Bytes the audio output holds ahead of the device. Small, so that the idle
// report, and with it the reaction clock, follows the real end of the sound
// closely; large enough for the audio server to be fed without gaps.
constexpr int outputBufferMs = 40;

// Extra time granted after the buffered audio should have played, for the
// server's own scheduling before the output is stopped.
constexpr int playOutMarginMs = 10;

} // namespace

void MainWindow::setupPlaybackFormat()
{
    playbackFormat.setSampleRate(static_cast<int>(settings.samplingRate));
    playbackFormat.setChannelCount(1);
    playbackFormat.setSampleSize(32);
    playbackFormat.setCodec(QStringLiteral("audio/pcm"));
    playbackFormat.setByteOrder(QAudioFormat::LittleEndian);
    playbackFormat.setSampleType(QAudioFormat::Float);

    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    if (!device.isFormatSupported(playbackFormat))
        qWarning() << "Raw audio format not supported by backend, cannot play audio.";
}

void MainWindow::playOneSound()
{
    if (soundsPlayed >= soundsPerTrial)
        return;

    // A sound is played at the rate it was recorded at; the session adopts
    // the folder's rate, and the loaded file has the last word.
    const int fileRate = static_cast<int>(wavFile.sampleRate);
    if (fileRate > 0 && fileRate != playbackFormat.sampleRate()) {
        playbackFormat.setSampleRate(fileRate);
        if (!QAudioDeviceInfo::defaultOutputDevice().isFormatSupported(playbackFormat))
            qWarning() << "Raw audio format not supported by backend, cannot play audio.";
    }

    // A set left by a failed sound, or one still playing out its last
    // milliseconds, goes before a new one is made.
    releasePlaybackObjects();

    // Exactly the loaded sound, whatever the panel's rounded duration says.
    audioBytes = new QByteArray(floatPcmBytes(samples));
    audioBuffer = new QBuffer(audioBytes);
    audioBuffer->open(QIODevice::ReadOnly);

    audioOutput = new QAudioOutput(QAudioDeviceInfo::defaultOutputDevice(), playbackFormat, this);
    audioOutput->setBufferSize(playbackFormat.bytesForDuration(outputBufferMs * 1000));
    connect(audioOutput, SIGNAL(stateChanged(QAudio::State)), this, SLOT(handleStateChanged(QAudio::State)));
    // The timer fires a little early, so that a busy event loop cannot
    // delay the sound; the remaining time is waited out here, to the
    // tenth of a millisecond, before the sound is handed to the output.
    if (scheduledDelayMs >= 0.0 && answerClock.isValid()) {
        for (;;) {
            const double remainingMs = scheduledDelayMs - answerClock.nsecsElapsed() / 1e6;
            if (remainingMs <= 0.0)
                break;
            // A sleep may overshoot by a scheduler tick; the last 2 ms are
            // spun out.
            if (remainingMs > 3.0)
                QThread::usleep(static_cast<unsigned long>((remainingMs - 2.0) * 1000.0));
        }
    }
    scheduledDelayMs = -1.0;
    soundHandedOverMs = answerClock.isValid() ? answerClock.nsecsElapsed() / 1e6 : -1.0;
    audioOutput->start(audioBuffer);

    ++soundsPlayed;
    emit soundPlaying(soundsPlayed);
}

void MainWindow::doNothing()
{
}

void MainWindow::handleStateChanged(QAudio::State audioState)
{
    QAudioOutput *output = qobject_cast<QAudioOutput *>(sender());
    if (!output || output != audioOutput)
        return;   // a report from an output already let go

    switch (audioState) {
    case QAudio::StoppedState:
        if (audioOutput->error() != QAudio::NoError)
            qWarning() << "Audio stopped unexpectedly";
        break;
    case QAudio::IdleState: {
        // Idle means the output has handed its last byte to the audio server,
        // which is as close to the end of the sound as the program can know:
        // the answer is due from now. The server may still hold up to one
        // buffer of the sound, so the output plays that out before it is
        // stopped and let go.
        if (playOutTimer && playOutTimer->isActive())
            break;
        if (soundsPlayed == soundsPerTrial) {
            if (reactionTimerStarts == 0)
                reactionTimer->start();
            else
                reactionTimer->restart();
            ++reactionTimerStarts;
        }
        if (!playOutTimer) {
            playOutTimer = new QTimer(this);
            playOutTimer->setSingleShot(true);
            playOutTimer->setTimerType(Qt::PreciseTimer);
            connect(playOutTimer, &QTimer::timeout, this, &MainWindow::releasePlaybackObjects);
        }
        const qint64 bufferedUs = playbackFormat.durationForBytes(audioOutput->bufferSize());
        playOutTimer->start(static_cast<int>(bufferedUs / 1000) + playOutMarginMs);
        if (soundsPlayed == soundsPerTrial)
            emit soundPlaying(-1);
        break;
    }
    default:
        break;
    }
}

// Stops the output (if it still runs) and lets go of the playback objects:
// when the sound has played out, when a new sound needs the output, when a
// run is abandoned.
void MainWindow::releasePlaybackObjects()
{
    if (playOutTimer)
        playOutTimer->stop();
    if (audioOutput)
        audioOutput->stop();
    if (audioBuffer) {
        audioBuffer->close();
        // The buffer lets go of the bytes before they are freed.
        audioBuffer->setBuffer(nullptr);
    }
    delete audioBytes;
    audioBytes = nullptr;

    if (audioOutput) {
        // Deferred: the output may be in the middle of delivering a report.
        disconnect(audioOutput, nullptr, this, nullptr);
        if (audioBuffer)
            audioBuffer->setParent(audioOutput);
        audioOutput->deleteLater();
    } else if (audioBuffer) {
        audioBuffer->deleteLater();
    }
    audioBuffer = nullptr;
    audioOutput = nullptr;
}
