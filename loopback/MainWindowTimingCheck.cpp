// The loop-back timing check from the main window: "Check timing" opens its
// window on the output that plays the stimuli, at the session's rate; the
// panel shows the output's last result.

#include "app/MainWindow.h"

#include "app/LabOptionsPanel.h"
#include "experiment/TrialPlayer.h"
#include "loopback/InputRecorder.h"
#include "loopback/TimingCheckControl.h"
#include "loopback/TimingCheckDialog.h"

void MainWindow::checkTiming()
{
    readParameters();
    // The output the next run plays on: the panel's, or the server's default
    // while that one is not connected, which the window then says.
    const bool outputMissing = chooseAudioDevice();
    QString reason;
    const bool opened = trialPlayer->prepare(static_cast<int>(settings.samplingRate), audioDevice, &reason);
    if (outputMissing)
        tellMissingAudioOutput();
    if (!opened) {
        showWarning(QStringLiteral("Sound cannot be played: ") + reason
                    + QStringLiteral(".\n\nThe timing check needs the audio output. Check that the sound system "
                                     "runs and the output device is connected."));
        return;
    }
    trialPlayer->setIdle(true);
    const QString output = playingOutputName();
    TimingCheckDialog dialog(trialPlayer->engine(), output, trialPlayer->engine()->outputInfo().device, this);
    connect(&dialog, &TimingCheckDialog::checked, this, &MainWindow::showTimingCheckOfOutput);
    dialog.exec();
}

void MainWindow::showTimingCheckOfOutput()
{
    // The server is asked for its default output's name only when a check
    // was stored at all.
    if (!anyTimingCheckStored()) {
        timingCheckControl->showResult(TimingCheckResult());
        return;
    }
    const QString chosen = labOptions->audioOutput();
    timingCheckControl->showResult(storedTimingCheck(chosen.isEmpty() ? InputRecorder::defaultOutput() : chosen));
}

QString MainWindow::playingOutputName() const
{
    return audioDevice.isEmpty() ? InputRecorder::defaultOutput() : audioDevice;
}
