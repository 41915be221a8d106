// The output device's level around a run: "Calibrate level", the checks at
// "Go", the journal's lines and notes, and the notices of a change.

#include "app/MainWindow.h"

#include "app/LabOptionsPanel.h"
#include "app/NoticeArea.h"
#include "audio/AudioEngine.h"
#include "calibration/CalibrationDialog.h"
#include "calibration/OutputLevelWatch.h"
#include "experiment/TrialPlayer.h"
#ifdef TARQUEL_HAVE_LIBPULSE
#include "audio/OutputDeviceMonitor.h"
#endif

#include <QMessageBox>
#include <QPushButton>

void MainWindow::setupOutputLevel()
{
    levelWatch = new OutputLevelWatch(this);
    connect(levelWatch, &OutputLevelWatch::changed, this, [this](const QString &text) {
        noticeArea->addNotice(text, NoticeArea::Level::Warning);
    });
    connect(labOptions->addTaskButton(QStringLiteral("Calibrate level")), &QPushButton::clicked, this,
            &MainWindow::calibrateLevel);
}

void MainWindow::calibrateLevel()
{
    // The session's output at the session's rate, as the stimuli play.
    readParameters();
    if (!openAudioOutput())
        return;
    AudioEngine *engine = trialPlayer->engine();
    OutputDeviceState device;
#ifdef TARQUEL_HAVE_LIBPULSE
    device = OutputDeviceMonitor::read(engine->outputInfo().deviceName);
#endif
    CalibrationDialog dialog(engine, device, this);
    dialog.exec();
}

bool MainWindow::checkOutputLevel()
{
    const AudioEngine *engine = trialPlayer->engine();
    levelWatch->startRun(engine ? engine->outputInfo().deviceName : QString());
    const QString refusal = levelWatch->refusal();
    if (!refusal.isEmpty()) {
        levelWatch->stopRun();
        showWarning(refusal);
        return false;
    }
    const QString mismatch = levelWatch->calibrationMismatch();
    if (mismatch.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), mismatch, QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setDefaultButton(QMessageBox::No);
    box.setEnabled(true);
    if (box.exec() == QMessageBox::Yes)
        return true;
    levelWatch->stopRun();
    return false;
}

void MainWindow::journalLevelNotes()
{
    for (const QString &note : levelWatch->takeNotes())
        trialJournal.appendNote(QStringLiteral("trial ") + QString::number(trialCounter) + QStringLiteral(": ") + note);
}
