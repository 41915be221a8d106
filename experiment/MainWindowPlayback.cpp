// Audio playback of one trial's sound.

#include "app/MainWindow.h"

void MainWindow::setupPlaybackFormat()
{
}

void MainWindow::playOneSound()
{
}

void MainWindow::doNothing()
{
}

void MainWindow::handleStateChanged(QAudio::State audioState)
{
    Q_UNUSED(audioState)
}
