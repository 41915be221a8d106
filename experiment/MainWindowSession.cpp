// Session start and trial order: "Practice", "Experiment", "Go" and the
// return of the main window when the listener's window closes.

#include "app/MainWindow.h"

#include "app/LabOptionsPanel.h"
#include "app/NoticeArea.h"
#include "calibration/OutputLevelWatch.h"
#include "common/WindowPlacement.h"
#include "experiment/TrialOrder.h"
#include "experiment/TrialPlayer.h"
#include "subject/KeyboardFocusWatch.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

bool askToGoOnWithoutListenerScreen(QWidget *parent, const QString &listenerScreen)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), listenerFallbackQuestion(listenerScreen),
                    QMessageBox::Yes | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEnabled(true);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

void MainWindow::on_pushButtonPractice_clicked()
{
    // A new session starts with no notice of the last one.
    noticeArea->clear();
    repetitions = practiceRepetitions;
    comboBoxSesType->setCurrentIndex(0);
    startSession();
    pushButtonPractice->setEnabled(true);
    pushButtonExperiment->setEnabled(false);
    pushButtonGo->setEnabled(numSoundFiles > 0);
}

void MainWindow::on_pushButtonExperiment_clicked()
{
    // A new session starts with no notice of the last one.
    noticeArea->clear();
    repetitions = experimentRepetitions;
    comboBoxSesType->setCurrentIndex(1);
    startSession();
    pushButtonPractice->setEnabled(true);
    pushButtonExperiment->setEnabled(true);
    pushButtonGo->setEnabled(numSoundFiles > 0);
}

void MainWindow::on_pushButtonGo_clicked()
{
    readParameters();
    // A run that could not play its sounds would stall at the first one.
    if (!openAudioOutput())
        return;
    // The chosen output is not connected: the server's default plays the
    // sounds, which the experimenter learns before the run starts.
    if (audioDevice != labOptions->audioOutput()) {
        showWarning(missingAudioOutputText(labOptions->audioOutput(),
                                           trialPlayer->engine() ? trialPlayer->engine()->outputInfo().device
                                                                 : QString()));
    }
    // The chosen screen is not connected: the default window would show the
    // listener the experimenter's screen, so nothing opens unless the
    // experimenter says so.
    const QString listenerScreen = labOptions->listenerScreen();
    if (listenerPlacement(listenerScreen, describeScreens(), screenIndexOf(this)).fellBack
        && !askToGoOnWithoutListenerScreen(this, listenerScreen))
        return;
    // A muted device, or one at 0 %, would play the run to nobody.
    if (!checkOutputLevel())
        return;
    // The stream moves from here, so that its clock is known well before the
    // first sound is due.
    trialPlayer->setIdle(false);
    setEnabled(false);

    subjectWindow = new SubjectWindow(this);
    // Disabling the main window also disables the windows it owns; the
    // listener's window is a window of its own and takes input throughout.
    subjectWindow->setEnabled(true);

    connect(subjectWindow, SIGNAL(subjectResponded(int)), this, SLOT(updateMainwindow(int)));
    connect(subjectWindow, SIGNAL(subjectWindowClosed()), this, SLOT(refreshMainWindow()));
    connect(this, SIGNAL(soundPlaying(int)), subjectWindow, SLOT(updateSubjectWindow(int)));
    connect(this, SIGNAL(doneDataCollection(qreal,qreal,qint32)),
            subjectWindow, SLOT(finishExperiment(qreal,qreal,qint32)));
    connect(subjectWindow->keyboardFocus(), &KeyboardFocusWatch::focusChanged, this,
            &MainWindow::listenerFocusChanged);

    runActive = true;
    runAnswers.clear();
    breakStartNs = 0;
    runStartNs = monotonicNowNs();
    answerTimes = subjectWindow->answerTimeSource();
    openTrialJournal();
    showListenerWindow(subjectWindow, listenerScreen, this);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!runActive) {
        QMainWindow::closeEvent(event);
        return;
    }
    QMessageBox question(QMessageBox::Question, QStringLiteral("Question"),
                         QStringLiteral("A run is in progress. Do you want to stop it and quit?\n"
                                        "No results file is written; every answer given so far is kept "
                                        "in the trial journal."),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    question.setEnabled(true);
    if (question.exec() != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    const QString journalPath = trialJournal.filePath();
    stopRunFromMainWindow();
    if (!journalPath.isEmpty()) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                        QStringLiteral("The run was stopped. Every answer given is kept in the trial journal:\n")
                            + journalPath,
                        QMessageBox::Ok, this);
        box.exec();
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::listenerFocusChanged(bool hasFocus)
{
    if (!runActive)
        return;
    // Said at once, in the notice area, so that the run is never held up.
    const QString key = QStringLiteral("listener focus");
    const QString trial = QStringLiteral("Trial %1: ").arg(std::max(trialCounter, 1));
    if (!hasFocus) {
        noticeArea->addNotice(trial + QStringLiteral("the listener's window does not have the keyboard focus, so the "
                                                     "keys 2 and 4 do not reach it. Click into the listener's "
                                                     "window."),
                              NoticeArea::Level::Warning, key);
    } else if (noticeArea->hasNotice(key)) {
        noticeArea->addNotice(trial + QStringLiteral("the listener's window has the keyboard focus again."),
                              NoticeArea::Level::Information, key);
    }
}

void MainWindow::refreshMainWindow()
{
    // Closing the listener's window before the last answer abandons the run:
    // nothing more may sound, and nothing of it may reach the next session.
    if (runActive)
        abandonRun();

    // The closed window is kept (hidden) until the main window goes, but it
    // no longer hears from this one nor speaks to it.
    if (subjectWindow) {
        disconnect(this, nullptr, subjectWindow, nullptr);
        disconnect(subjectWindow, SIGNAL(subjectResponded(int)), this, SLOT(updateMainwindow(int)));
    }

    setEnabled(true);
    pushButtonPractice->setEnabled(true);
    pushButtonExperiment->setEnabled(true);
    pushButtonGo->setEnabled(false);
}

// The run ends from this side (the output failed, the window is closing):
// exactly as when the listener's window closes mid-run, that window going
// first, without its question, so that what follows is in plain view.
void MainWindow::stopRunFromMainWindow()
{
    abandonRun();
    if (subjectWindow)
        subjectWindow->dismiss();
    refreshMainWindow();
}

void MainWindow::abandonRun()
{
    runActive = false;
    trialPlayer->cancel();
    trialPlayer->setIdle(true);
    levelWatch->stopRun();
    soundsPlayed = 0;
    trialJournal.close();
}

void MainWindow::startSession()
{
    settings.soundFiles.clear();
    runAnswers.clear();
    trialOrder.clear();
    currentWavFilePath.clear();

    trialCounter = 0;
    currentSoundIndex = 0;
    numSoundFiles = 0;

    settings.sessionType = comboBoxSesType->currentIndex();
    readParameters();
    selectSoundFolder();
    if (numSoundFiles <= 0)
        return;

    makeTrialOrder();
    loadTrialSound();
    updateWaveformChart();
    computeSpectrum();
    updateSpectrumChart();
    updateTrendChart();
    showSoundFileName();
    updateProgressText();
}

void MainWindow::readParameters()
{
    settings.sessionType = comboBoxSesType->currentIndex();
    settings.soundType = comboBoxSoundType->currentIndex();
    settings.mainParameter = comboBoxMainParameter->currentIndex();
    settings.samplingRate = lineEditSamplingRate->text().toDouble();
    settings.soundDuration = lineEditSoundDuration->text().toDouble() / 1000.0;
    settings.silentInterval = lineEditSilentInterval->text().toDouble() / 1000.0;
    settings.saveDataToFile = checkBoxSaveData->isChecked();
    settings.wavPath = lineEditWavFilePath->text();
    settings.wavFileName = lineEditWavFileName->text();
    settings.subjectCode = lineEditSubCode->text();
    settings.sessionNumber = lineEditSesNum->text().toInt(nullptr, 10);
    settings.outputPath = lineEditOutputFilePath->text();
    settings.outputFileName = lineEditOutputFileName->text();

    // The panel shows rounded milliseconds; once a sound is loaded its own
    // sample count is what plays and what the charts show.
    if (!samples.isEmpty() && numSoundFiles > 0)
        settings.numSamples = samples.size();
    else
        settings.numSamples = static_cast<qint32>(std::floor(settings.samplingRate * settings.soundDuration));
    updateDisplaySamples();
}

void MainWindow::makeTrialOrder()
{
    if (!trialOrderSeedFixed)
        trialOrderSeed = drawTrialOrderSeed();
    trialOrder = buildTrialOrder(numSoundFiles, repetitions, trialOrderSeed);
}

void MainWindow::openTrialJournal()
{
    if (trialJournalFolder.isEmpty())
        trialJournalFolder = journalFolder();

    JournalHeader header;
    header.programVersion = QStringLiteral("Auditory Tarquel (v020)");
    header.startTime = QDateTime::currentDateTime();
    header.subjectCode = settings.subjectCode;
    header.sessionTypeName = settings.sessionTypeNames.value(settings.sessionType);
    header.sessionNumber = settings.sessionNumber;
    header.soundFolder = settings.wavPath;
    for (const SoundFileRecord &record : std::as_const(settings.soundFiles))
        header.soundFileNames.append(record.fileName);
    header.soundFileNumbers = soundFileNumbering().values;
    header.samplingRate = settings.samplingRate;
    header.repetitions = repetitions;
    header.breakEvery = labOptions->breakEvery();
    header.listenerScreen = describeListenerPlacement(labOptions->listenerScreen(), describeScreens(),
                                                      screenIndexOf(this));
    header.trialOrderSeed = trialOrderSeed;
    header.trialOrder = trialOrder;
    header.audioOutput = trialPlayer->engine() ? trialPlayer->engine()->outputInfo() : AudioOutputInfo();
    header.outputDevice = levelWatch->stateAtStart();
    if (levelWatch->calibration().isValid())
        header.calibration = levelWatch->calibration().headerFields();
    header.answerTimes = inputTimeSourceName(answerTimes);
    // The server is asked for its default output's name only when a check
    // was stored at all.
    if (anyTimingCheckStored())
        header.loopbackCheck = storedTimingCheck(playingOutputName());

    QString reason;
    if (!trialJournal.open(trialJournalFolder, header, &reason)) {
        showWarning(QStringLiteral("The trial journal could not be created in\n%1\n(%2).\n"
                                   "The run goes on; its answers are kept in memory only "
                                   "until the results file is saved.")
                        .arg(trialJournalFolder, reason));
    }
}
