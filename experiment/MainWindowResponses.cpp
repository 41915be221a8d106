// Responses and trial sequencing: the listener's answers, the schedule of
// the next sound and the end of a run.

#include "app/MainWindow.h"

void MainWindow::updateMainwindow(int response)
{
    Q_UNUSED(response)
}

void MainWindow::scheduleNextSound()
{
}

void MainWindow::finishDataCollection()
{
}
