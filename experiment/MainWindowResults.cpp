// The results file written at the end of a run.

#include "app/MainWindow.h"

void MainWindow::writeResultsFile()
{
}
