// The results file written at the end of a run.

#include "app/MainWindow.h"
#include "experiment/ResultsFile.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::writeResultsFile()
{
    const QByteArray bytes = resultsFileBytes(settings.soundFiles);
    // An earlier session's file of the same name is never proposed: the
    // next free name is ("-2", "-3" ...); the session number stays as typed.
    QString proposedPath = freeFilePath(settings.outputPath + QStringLiteral("/") + settings.outputFileName);

    for (;;) {
        // The main window stays disabled until the listener's window closes;
        // the dialogs it owns take input all the same.
        QFileDialog dialog(this, tr("Save a file"), proposedPath,
                           QStringLiteral("All files (*.*);; Text files (*.txt)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.selectNameFilter(QStringLiteral("Text files (*.txt)"));
        dialog.setEnabled(true);
        const QString chosen = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0)
                                                                   : QString();

        if (chosen.isEmpty()) {
            settings.outputPath.clear();
            settings.outputFileName.clear();
        } else {
            const QFileInfo info(chosen);
            settings.outputPath = info.path();
            settings.outputFileName = info.fileName();
            proposedPath = chosen;

            QString reason;
            if (saveFileAtomically(chosen, bytes, &reason)) {
                remembered.outputFolder = settings.outputPath;
                saveRememberedSettings(remembered);
                copyJournalBeside(chosen);
                writeSummaryBeside(chosen);
                return;
            }
            showWarning(QStringLiteral("could not open file for writing \r\n") + settings.outputPath
                        + settings.outputFileName);
        }

        if (!askToRetrySaving())
            return;
    }
}

bool MainWindow::askToRetrySaving()
{
    QString text = QStringLiteral("The results have not been saved.\nDo you want to try saving them again?");
    if (trialJournal.holdsEverything()) {
        text += QStringLiteral("\n\nEvery answer of this run is also kept in the trial journal:\n")
                + trialJournal.filePath();
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEnabled(true);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::copyJournalBeside(const QString &resultsFilePath)
{
    const QString journalPath = trialJournal.filePath();
    if (journalPath.isEmpty())
        return;
    QFile journal(journalPath);
    QString reason;
    // Beside a results file the experimenter chose to replace, an earlier
    // copy is kept: the new one takes the next free name.
    const QString copyPath = freeFilePath(journalCopyPath(resultsFilePath));
    if (journal.open(QIODevice::ReadOnly) && saveFileAtomically(copyPath, journal.readAll(), &reason))
        return;
    showWarning(QStringLiteral("The results were saved, but the trial journal could not be copied to\n") + copyPath
                + QStringLiteral("\nIt stays in\n") + journalPath);
}

void MainWindow::writeSummaryBeside(const QString &path)
{
    const QVector<FileSummary> files = runFileSummaries();
    // Never over an earlier summary: beside the results that of an earlier
    // session may be there.
    const QString summaryPath = freeFilePath(summaryPathBeside(path));
    QString reason;
    const QByteArray bytes = summaryFileBytes(files, fitLogistic(binomialRows(files)), soundFileNumbering().fromNames);
    if (saveFileAtomically(summaryPath, bytes, &reason))
        return;
    showWarning(QStringLiteral("The identification summary could not be written to\n") + summaryPath
                + QStringLiteral("\n(") + reason + QStringLiteral(")."));
}

QStringList MainWindow::soundFileNames() const
{
    QStringList names;
    for (const SoundFileRecord &record : settings.soundFiles)
        names.append(record.fileName);
    return names;
}

// The numbers the session's files stand at: from their names where the
// names give them, their places in the listing otherwise.
SoundFileNumbers MainWindow::soundFileNumbering() const
{
    return soundFileNumbers(soundFileNames());
}

// Per file of the session, in folder order: this run's counted answers.
QVector<FileSummary> MainWindow::runFileSummaries() const
{
    return summarizeFiles(soundFileNames(), soundFileNumbering().values, runAnswers);
}
