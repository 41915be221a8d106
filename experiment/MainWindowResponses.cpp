// Responses and trial sequencing: the listener's answers, the schedule of
// the next sound and the end of a run.

#include "app/MainWindow.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>

namespace {

// How much earlier than the sound's onset the timer fires; the sound itself
// then waits for its exact time (see playOneSound).
constexpr int soundTimerLeadMs = 20;

} // namespace

void MainWindow::updateMainwindow(int response)
{
    // The delay before the next sound counts from this moment, so that the
    // loading and drawing below do not lengthen the silent interval.
    answerClock.start();
    soundsPlayed = 0;

    if (response == 0) {
        qDebug() << "Test just started";
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

    const qint64 reactionTimeMs = reactionTimer->elapsed();
    qDebug().nospace() << "response: " << response;

    SoundFileRecord &record = settings.soundFiles[currentSoundIndex];
    if (response == 2) {
        ++record.nT2;
        trendCounts[currentSoundIndex] = record.nT2;
        trendPoints[currentSoundIndex].setY(record.nT2);
    } else {
        ++record.nT4;
    }
    record.reactionTimeSum += static_cast<double>(reactionTimeMs);

    // On disk before anything else happens, so that a crash from here on
    // loses no answer.
    journalAnswer(response, reactionTimeMs);

    updateTrendChart();

    if (trialCounter < trialOrder.size()) {
        loadTrialSound();
        updateWaveformChart();
        computeSpectrum();
        updateSpectrumChart();
        showSoundFileName();
        updateProgressText();
        scheduleNextSound();
    } else {
        finishDataCollection();
    }
}

void MainWindow::scheduleNextSound()
{
    if (trialCounter < trialOrder.size()) {
        if (!soundTimer) {
            soundTimer = new QTimer(this);
            soundTimer->setSingleShot(true);
            // A coarse timer may fire up to 5 % early or late; the silent
            // interval is part of the stimulus and must hold to the millisecond.
            soundTimer->setTimerType(Qt::PreciseTimer);
            connect(soundTimer, &QTimer::timeout, this, &MainWindow::playOneSound);
        }
        const qint64 delayMs = static_cast<qint64>((settings.soundDuration + settings.silentInterval) * 1000.0);
        const double spentMs = answerClock.isValid() ? answerClock.nsecsElapsed() / 1e6 : 0.0;
        scheduledDelayMs = static_cast<double>(delayMs);
        soundTimer->start(std::max(0, qRound(delayMs - spentMs) - soundTimerLeadMs));
    }
    ++trialCounter;
}

void MainWindow::finishDataCollection()
{
    runActive = false;
    trialJournal.close();

    settings.reactionTime = 1.23;
    emit doneDataCollection(settings.soundDuration, settings.reactionTime, settings.mainParameter);
    if (settings.saveDataToFile)
        writeResultsFile();
}

void MainWindow::journalAnswer(qint32 answer, qint64 reactionTimeMs)
{
    if (!trialJournal.isOpen())
        return;
    // A trial whose file broke after the folder was checked played silence;
    // the note tells whoever analyses the rows to leave that answer out.
    if (!trialSoundProblem.isEmpty()) {
        trialJournal.appendNote(QStringLiteral("trial %1: %2 %3 when its turn came; silence was played instead")
                                    .arg(trialCounter)
                                    .arg(settings.soundFiles.at(currentSoundIndex).fileName, trialSoundProblem));
    }
    JournalRow row;
    row.trialNumber = trialCounter;
    row.soundFileName = settings.soundFiles.at(currentSoundIndex).fileName;
    row.answer = answer;
    row.reactionTimeMs = reactionTimeMs;
    row.sinceRunStartMs = runClock.isValid() ? runClock.elapsed() : 0;
    if (!trialJournal.append(row))
        qWarning() << "The trial journal could not be written:" << trialJournal.filePath();
}
