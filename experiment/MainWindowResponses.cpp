// Responses and trial sequencing: the listener's answers, the schedule of
// the next sound and the end of a run.

#include "app/MainWindow.h"

#include "app/LabOptionsPanel.h"
#include "calibration/OutputLevelWatch.h"
#include "experiment/TrialPlayer.h"
#include "subject/SubjectWindow.h"

#include <QDebug>
#include <QMessageBox>

void MainWindow::updateMainwindow(int response)
{
    // When the listener's window timed the message where the input arrived:
    // the reaction time ends at the press, and the next sound's delay counts
    // from the moment the message was given (a click's release, a key's
    // press), so that neither a busy GUI thread nor the loading and drawing
    // below change them. A message from elsewhere is timed as it arrives.
    AnswerTiming timing = subjectWindow ? subjectWindow->lastAnswer() : AnswerTiming();
    if (!timing.valid)
        timing = AnswerTiming::atArrival(monotonicNowNs());
    soundsPlayed = 0;

    if (response == 0) {
        qDebug() << "Test just started";
        // The start of the run, or the end of a break: timing resumes from
        // the press.
        endBreak();
        soundReferenceNs = timing.given.ns;
        scheduleNextSound();
        return;
    }
    if (response != 2 && response != 4) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                        QStringLiteral("Invalid response"), QMessageBox::Ok);
        box.exec();
        return;
    }
    // An answer that arrives when no trial waits for one (after the run has
    // ended or been abandoned) belongs to no sound and is not counted.
    if (!runActive || currentSoundIndex < 0 || currentSoundIndex >= settings.soundFiles.size())
        return;

    const double reactionTimeMs = trialPlayer->reactionTimeMs(timing.press.ns);
    soundReferenceNs = timing.given.ns;
    qDebug().nospace() << "response: " << response;

    // An answer to silence played for a file that broke after the folder was
    // checked is kept in the journal but counted nowhere.
    const bool counted = trialSoundProblem.isEmpty();
    SoundFileRecord &record = settings.soundFiles[currentSoundIndex];
    if (counted) {
        if (response == 2) {
            ++record.nT2;
            trendCounts[currentSoundIndex] = record.nT2;
            trendPoints[currentSoundIndex].setY(record.nT2);
        } else {
            ++record.nT4;
        }
        record.reactionTimeSum += reactionTimeMs;
    }
    runAnswers.append({currentSoundIndex, response, reactionTimeMs, counted});

    // On disk before anything else happens, so that a crash from here on
    // loses no answer.
    journalAnswer(response, reactionTimeMs, timing);

    updateTrendChart();

    if (trialCounter < trialOrder.size()) {
        loadTrialSound();
        updateWaveformChart();
        computeSpectrum();
        updateSpectrumChart();
        showSoundFileName();
        updateProgressText();
        if (breakIsDue())
            startBreak();
        else
            scheduleNextSound();
    } else {
        finishDataCollection();
    }
}

void MainWindow::scheduleNextSound()
{
    // The sound is handed to the audio engine at once, with the time its
    // first sample is due at the device: the answer, plus the sound's own
    // length, plus the silent interval.
    if (trialCounter < trialOrder.size()) {
        scheduledOnsetNs = soundOnsetNs(soundReferenceNs, samples.size(), settings.samplingRate,
                                        settings.silentInterval);
        playOneSound();
    }
    ++trialCounter;
}

void MainWindow::finishDataCollection()
{
    runActive = false;
    trialPlayer->setIdle(true);
    levelWatch->stopRun();
    trialJournal.close();

    // The run's identification summary goes beside its journal first, so
    // that it exists whatever happens to the results file.
    if (!trialJournal.filePath().isEmpty())
        writeSummaryBeside(trialJournal.filePath());

    settings.reactionTime = meanReactionTimeMs(runAnswers);
    emit doneDataCollection(settings.soundDuration, settings.reactionTime, settings.mainParameter);
    if (settings.saveDataToFile)
        writeResultsFile();
}

void MainWindow::journalAnswer(qint32 answer, double reactionTimeMs, const AnswerTiming &answerTiming)
{
    if (!trialJournal.isOpen())
        return;
    // An answer timed less precisely than the header says: made inside the
    // program (no time of its own), or missed by the better source.
    if (answerTiming.press.source > answerTimes) {
        trialJournal.appendNote(QStringLiteral("trial ") + QString::number(trialCounter)
                                + (answerTiming.press.source == InputTimeSource::Arrival
                                       ? QStringLiteral(": answer timed at its arrival in the program")
                                       : QStringLiteral(": answer timed by ")
                                             + inputTimeSourceName(answerTiming.press.source)));
    }
    // A trial whose file broke after the folder was checked played silence;
    // the note tells whoever analyses the rows to leave that answer out.
    if (!trialSoundProblem.isEmpty()) {
        trialJournal.appendNote(QStringLiteral("trial ") + QString::number(trialCounter) + QStringLiteral(": ")
                                + settings.soundFiles.at(currentSoundIndex).fileName + QLatin1Char(' ')
                                + trialSoundProblem
                                + QStringLiteral(" when its turn came; silence was played instead"));
    }
    // A sound whose start reached the audio server too late to be played in
    // full (the computer was too busy): said beside its row, so that the
    // answer can be judged.
    const SoundTiming &timing = trialPlayer->timing();
    if (timing.framesMaybeLost > 0) {
        trialJournal.appendNote(
            QStringLiteral("trial ") + QString::number(trialCounter) + QStringLiteral(": the first ")
            + QString::number(double(timing.framesMaybeLost) * 1000.0 / settings.samplingRate, 'f', 2)
            + QStringLiteral(" ms of ") + settings.soundFiles.at(currentSoundIndex).fileName
            + QStringLiteral(" may not have been played (the computer was too busy: the sound reached the audio "
                             "server after it had passed that point)"));
    }
    if (timing.laterFramesMaybeLost > 0) {
        const auto ms = [this](qint64 frames) {
            return QString::number(double(frames) * 1000.0 / settings.samplingRate, 'f', 2);
        };
        trialJournal.appendNote(
            QStringLiteral("trial ") + QString::number(trialCounter) + QStringLiteral(": ")
            + ms(timing.laterFramesMaybeLost) + QStringLiteral(" ms of ")
            + settings.soundFiles.at(currentSoundIndex).fileName + QStringLiteral(", from ")
            + ms(timing.laterLossFromFrame)
            + QStringLiteral(" ms into it on, may not have been played (the computer was too busy: that part "
                             "reached the audio server after it had passed that point)"));
    }
    // A device that stalled (or whose timeline jumped) while the sound was
    // due or playing: the row's times are the engine's best knowledge, and
    // the note says how far the sound moved from its plan.
    if (const QString note = deviceStallNote(timing, settings.soundFiles.at(currentSoundIndex).fileName);
        !note.isEmpty()) {
        trialJournal.appendNote(QStringLiteral("trial ") + QString::number(trialCounter) + QStringLiteral(": ")
                                + note);
    }
    // The output device's volume, mute state or port changed since the last
    // answer: said before this row, whose sound may have played at the new
    // level.
    journalLevelNotes();
    JournalRow row;
    row.trialNumber = trialCounter;
    row.soundFileName = settings.soundFiles.at(currentSoundIndex).fileName;
    row.answer = answer;
    row.reactionTimeMs = reactionTimeMs;
    row.sinceRunStartMs = double(answerTiming.given.ns - runStartNs) / 1e6;
    row.soundOnsetMs = double(timing.onsetNs - runStartNs) / 1e6;
    row.soundEndMs = double(timing.endNs - runStartNs) / 1e6;
    row.onsetErrorMs = double(timing.onsetErrorNs()) / 1e6;
    row.outputLatencyMs = double(timing.latencyNs) / 1e6;
    row.input = answerTiming.byKey ? QStringLiteral("key") : QStringLiteral("mouse");
    row.counted = trialSoundProblem.isEmpty();
    row.heldMs = answerTiming.heldMs();
    if (trialJournal.append(row))
        return;
    qWarning() << "The trial journal could not be written:" << trialJournal.filePath();
    // Said once per run: the run goes on, but the experimenter must know
    // that only the results file will hold its answers.
    if (trialJournal.failedWrites() == 1) {
        showWarning(QStringLiteral("The trial journal could not be written (") + trialJournal.lastError()
                    + QStringLiteral("):\n") + trialJournal.filePath()
                    + QStringLiteral("\nThe run goes on; its answers are kept in memory until the "
                                     "results file is saved."));
    }
}

bool MainWindow::breakIsDue() const
{
    const int every = labOptions ? labOptions->breakEvery() : 0;
    return every > 0 && !runAnswers.isEmpty() && runAnswers.size() % every == 0;
}

void MainWindow::startBreak()
{
    breakStartNs = monotonicNowNs();
    if (subjectWindow)
        subjectWindow->showBreak();
}

void MainWindow::endBreak()
{
    if (breakStartNs == 0)
        return;
    const double seconds = double(monotonicNowNs() - breakStartNs) / 1e9;
    breakStartNs = 0;
    trialJournal.appendNote(QStringLiteral("break after trial ") + QString::number(runAnswers.size())
                            + QStringLiteral("\tlength (s)\t") + QString::number(seconds, 'f', 1));
}
