// The session panel: how the window shows the settings record, the five
// slots that store what the experimenter edits, the composed results-file
// name and the status line.

#include "app/MainWindow.h"

#include "app/LabOptionsPanel.h"
#include "app/NoticeArea.h"
#include "app/SessionText.h"
#include "common/WindowPlacement.h"
#include "experiment/TrialPlayer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

void MainWindow::initializeState()
{
    // Filling an empty combo box makes index 0 current and emits
    // currentIndexChanged(0): the slots below run now, during construction.
    comboBoxSesType->addItems(settings.sessionTypeNames);
    comboBoxSoundType->addItems(settings.soundTypeNames);
    comboBoxMainParameter->addItems(settings.mainParameterNames);

    settings.sessionType = 0;
    settings.soundType = 0;
    settings.mainParameter = 0;
    comboBoxSesType->setCurrentIndex(settings.sessionType);
    comboBoxSoundType->setCurrentIndex(settings.soundType);
    comboBoxMainParameter->setCurrentIndex(settings.mainParameter);

    lineEditSoundDuration->setText(formatSecondsAsMilliseconds(settings.soundDuration));
    lineEditSoundDuration->setEnabled(false);
    checkBoxSaveData->setChecked(settings.saveDataToFile);
    lineEditSilentInterval->setText(formatSecondsAsMilliseconds(settings.silentInterval));
    lineEditSilentInterval->setEnabled(false);
    lineEditWavFilePath->setText(settings.wavPath);
    lineEditWavFileName->setText(settings.wavFileName);
    lineEditWavFilePath->setEnabled(false);
    lineEditWavFileName->setEnabled(false);
    lineEditOutputFilePath->setText(settings.outputPath);
    updateOutputFileName();
    lineEditOutputFilePath->setEnabled(false);
    lineEditOutputFileName->setEnabled(false);
    lineEditStatus->setEnabled(false);
    lineEditSesNum->setText(QString::number(settings.sessionNumber));
    lineEditSubCode->setText(settings.subjectCode);
    lineEditSamplingRate->setText(formatSamplingRate(settings.samplingRate));
    lineEditSamplingRate->setEnabled(false);
    pushButtonPractice->setEnabled(true);
    pushButtonExperiment->setEnabled(false);
    pushButtonGo->setEnabled(false);
    lineEditStatus->setText(QStringLiteral("not started yet"));

    // Playback bookkeeping: one sound per trial, none played yet.
    soundsPerTrial = 1;
    soundsPlayed = 0;

    // Analysis and chart vectors, sized for the default sound.
    timeAxisMs.resize(settings.displaySamples);
    trendFileNumbers.clear();
    trendCounts.clear();
    trendPoints.resize(numSoundFiles);
    settings.showWholeSound = true;
    settings.displaySamples = static_cast<qint32>(std::floor(settings.samplingRate * settings.displayDuration));
    waveformPoints.resize(settings.displaySamples);
    waveformRange.resize(2);
    spectrumRange.resize(2);
    trendRange.resize(2);
    sizeSpectrum();

    axisLabelFont.setPixelSize(10);
    axisLabelFont.setWeight(QFont::Normal);   // 50 on Qt 5's scale
    axisTitleFont.setPixelSize(10);
    axisTitleFont.setWeight(QFont::Normal);   // 50 on Qt 5's scale
    chartTitleFont.setPixelSize(12);
    chartTitleFont.setWeight(QFont::Normal);   // 50 on Qt 5's scale

    reactionTimer = new QElapsedTimer;
    setupPlaybackFormat();
    setupOutputLevel();
    applyRememberedSettings();
}

void MainWindow::applyRememberedSettings()
{
    remembered = loadRememberedSettings();
    // A remembered folder that is not there now is not used, but it stays
    // remembered.
    if (!existingFolderOr(remembered.outputFolder, QString()).isEmpty()) {
        settings.outputPath = remembered.outputFolder;
        lineEditOutputFilePath->setText(settings.outputPath);
    }
    const QVector<ScreenDescription> screens = describeScreens();
    const int experimenterScreen = screenIndexOf(this);
    labOptions->setListenerScreens(listenerScreenChoices(screens, experimenterScreen), remembered.listenerScreen);
    if (listenerPlacement(remembered.listenerScreen, screens, experimenterScreen).fellBack) {
        noticeArea->addNotice(missingListenerScreenText(remembered.listenerScreen), NoticeArea::Level::Warning,
                              QStringLiteral("listener screen"));
    }
    labOptions->setAudioOutputs(trialPlayer->engine() ? trialPlayer->engine()->outputDevices()
                                                      : QVector<AudioDeviceDescription>(),
                                remembered.audioOutput);
    labOptions->setBreakEvery(remembered.breakEvery);
    if (chooseAudioDevice())
        tellMissingAudioOutput();
    connect(labOptions, &LabOptionsPanel::changed, this, &MainWindow::rememberSettings);
    connect(labOptions, &LabOptionsPanel::groupReportRequested, this, &MainWindow::makeGroupReport);
    showTimingCheckOfOutput();
    connect(labOptions, &LabOptionsPanel::changed, this, &MainWindow::showTimingCheckOfOutput);
}

void MainWindow::rememberSettings()
{
    remembered.listenerScreen = labOptions->listenerScreen();
    remembered.audioOutput = labOptions->audioOutput();
    remembered.breakEvery = labOptions->breakEvery();
    audioDevice = remembered.audioOutput;
    saveRememberedSettings(remembered);
}

bool MainWindow::chooseAudioDevice()
{
    QStringList listed;
    if (trialPlayer->engine()) {
        for (const AudioDeviceDescription &output : trialPlayer->engine()->outputDevices())
            listed.append(output.name);
    }
    const AudioOutputChoice choice = chooseAudioOutput(labOptions->audioOutput(), listed);
    audioDevice = choice.device;
    // Connected again since it was said: no longer so.
    if (!choice.missing)
        noticeArea->removeNotice(QStringLiteral("audio output"));
    return choice.missing;
}

void MainWindow::tellMissingAudioOutput()
{
    const AudioEngine *engine = trialPlayer->engine();
    const QString playing = engine && engine->isOpen() ? engine->outputInfo().device : QString();
    noticeArea->addNotice(missingAudioOutputText(labOptions->audioOutput(), playing), NoticeArea::Level::Warning,
                          QStringLiteral("audio output"));
}

void MainWindow::on_comboBoxSesType_currentIndexChanged(int index)
{
    settings.sessionType = index;
    updateOutputFileName();
}

void MainWindow::on_comboBoxSoundType_currentIndexChanged(int index)
{
    settings.soundType = index;
    updateOutputFileName();
}

void MainWindow::on_comboBoxMainParameter_currentIndexChanged(int index)
{
    settings.mainParameter = index;
    updateOutputFileName();
}

void MainWindow::on_lineEditSubCode_textChanged(const QString &arg1)
{
    settings.subjectCode = arg1;
    updateOutputFileName();
}

void MainWindow::on_lineEditSesNum_textChanged(const QString &arg1)
{
    settings.sessionNumber = parseSessionNumber(arg1);
    updateOutputFileName();
}

void MainWindow::updateOutputFileName()
{
    settings.outputFileName = composeOutputFileName(
        settings.subjectCode, settings.sessionTypeNames.value(settings.sessionType),
        settings.sessionNumber);
    lineEditOutputFileName->setText(settings.outputFileName);
}

void MainWindow::updateProgressText()
{
    progressText = composeProgressText(
        settings.sessionTypeNames.value(comboBoxSesType->currentIndex()),
        trialCounter + 1, trialOrder.size());
    QStringList filesPlayedSilent;
    for (const SoundFileRecord &record : std::as_const(settings.soundFiles)) {
        if (record.silentTrials > 0)
            filesPlayedSilent.append(record.fileName);
    }
    lineEditStatus->setText(composeStatusText(progressText, filesPlayedSilent));
}
