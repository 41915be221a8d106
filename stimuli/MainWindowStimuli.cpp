// Stimuli: the sound-file folder, the loading of each trial's sound, its
// amplitude spectrum and the data of the three charts.

#include "app/MainWindow.h"

void MainWindow::selectSoundFolder()
{
}

void MainWindow::loadTrialSound()
{
}

void MainWindow::updateDisplaySamples()
{
}

void MainWindow::showSoundFileName()
{
}

void MainWindow::sizeSpectrum()
{
}

void MainWindow::computeSpectrum()
{
}

void MainWindow::updateWaveformChart()
{
}

void MainWindow::updateSpectrumChart()
{
}

void MainWindow::updateTrendChart()
{
}
