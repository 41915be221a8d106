// Audio playback of one trial's sound, through the audio engine that runs one
// output stream for the whole session (audio/), by way of the trial player
// that times each sound (experiment/TrialPlayer).

#include "app/MainWindow.h"

#include "audio/AudioEngineFactory.h"
#include "experiment/TrialPlayer.h"
#include "subject/SubjectWindow.h"

#include <QDebug>
#include <QMessageBox>

void MainWindow::setupPlaybackFormat()
{
    // Mono 32-bit float at the session's rate: the stream opens when the
    // stimulus folder, and with it the rate, is known.
    QString backendNote;
    trialPlayer = new TrialPlayer(this);
    trialPlayer->setEngine(createAudioEngine(&backendNote));
    if (!backendNote.isEmpty())
        qInfo().noquote() << "Audio engine:" << backendNote;
    connect(trialPlayer, &TrialPlayer::soundEnded, this, &MainWindow::endOfSound);
    connect(trialPlayer, &TrialPlayer::failed, this, &MainWindow::audioFailed);
}

bool MainWindow::openAudioOutput()
{
    // The panel's output, or the server's default while that one is not
    // connected, which the window then says.
    const bool outputMissing = chooseAudioDevice();
    QString reason;
    const bool opened = trialPlayer->prepare(static_cast<int>(settings.samplingRate), audioDevice, &reason);
    if (outputMissing)
        tellMissingAudioOutput();
    if (opened) {
        // Held still until a run needs it.
        trialPlayer->setIdle(true);
        return true;
    }
    showWarning(QStringLiteral("Sound cannot be played: ") + reason
                + QStringLiteral(".\n\nA run cannot start until the audio output works. Check that the "
                                 "sound system runs and the output device is connected, then press "
                                 "\"Go\" again."));
    return false;
}

void MainWindow::playOneSound()
{
    if (soundsPlayed >= soundsPerTrial)
        return;
    // Exactly the loaded sound, at the session's rate, placed by the engine
    // at its onset; nothing waits here.
    trialPlayer->play(samples, scheduledOnsetNs);
    ++soundsPlayed;
    emit soundPlaying(soundsPlayed);
}

void MainWindow::doNothing()
{
}

void MainWindow::handleStateChanged(QAudio::State audioState)
{
    // The engine reports its own failures (audioFailed); a stopped state with
    // an error that reaches this slot is only logged.
    if (audioState == QAudio::StoppedState)
        qWarning() << "Audio stopped unexpectedly";
}

void MainWindow::endOfSound(const SoundTiming &timing)
{
    Q_UNUSED(timing)
    if (soundsPlayed != soundsPerTrial)
        return;
    // The answer is due from now; its reaction time is taken from the
    // sound's estimated end at the device (TrialPlayer::reactionTimeMs).
    if (reactionTimerStarts == 0)
        reactionTimer->start();
    else
        reactionTimer->restart();
    ++reactionTimerStarts;
    emit soundPlaying(-1);
}

void MainWindow::audioFailed(const QString &reason)
{
    if (!runActive) {
        // Nothing plays; the next folder or "Go" opens the output again and
        // says so if it still fails.
        qWarning().noquote() << "Audio output failed:" << reason;
        return;
    }
    // Every answer given, counted or not (an answer to a broken file's
    // silence is still an answered trial).
    const int answered = runAnswers.size();
    const QString journalPath = trialJournal.isOpen() ? trialJournal.filePath() : QString();
    trialJournal.appendNote(QStringLiteral("audio output failed after %1 answered trials: ").arg(answered) + reason
                            + QStringLiteral("; the run was stopped"));

    stopRunFromMainWindow();

    QString text = QStringLiteral("Sound could not be played: ") + reason
                   + QStringLiteral(".\n\nThe run was stopped after %1 of %2 trials; no results file was written.")
                         .arg(answered)
                         .arg(trialOrder.size());
    if (!journalPath.isEmpty())
        text += QStringLiteral("\nEvery answer given so far is kept in the trial journal:\n") + journalPath;
    showWarning(text);
}
