// Session start and trial order: "Practice", "Experiment", "Go" and the
// return of the main window when the listener's window closes.

#include "app/MainWindow.h"

void MainWindow::on_pushButtonPractice_clicked()
{
}

void MainWindow::on_pushButtonExperiment_clicked()
{
}

void MainWindow::on_pushButtonGo_clicked()
{
}

void MainWindow::refreshMainWindow()
{
}

void MainWindow::startSession()
{
}

void MainWindow::readParameters()
{
}

void MainWindow::makeTrialOrder()
{
}
