// The results file written at the end of a run, with its two companions:
// the copy of the trial journal and the identification summary.

#include "app/MainWindow.h"

#include "calibration/OutputLevelWatch.h"
#include "experiment/ResultsFile.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// Asked once for the files of one stem, so that they are replaced together
// or not at all.
bool askToReplace(QWidget *parent, const QStringList &existing)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"),
                    (existing.size() == 1 ? QStringLiteral("This file already exists:\n")
                                          : QStringLiteral("These files already exist:\n"))
                        + existing.join(QLatin1Char('\n'))
                        + QStringLiteral("\n\nDo you want to replace them? The results file, the copy of the "
                                         "trial journal and the summary are written together under one name."),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEnabled(true);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

void MainWindow::writeResultsFile()
{
    const QByteArray bytes = resultsFileBytes(settings.soundFiles);
    // Never the name of an earlier session's file or of its companions: the
    // first name under which all three are free ("-2", "-3" ...); the
    // session number stays as typed.
    QString proposedPath =
        freeResultsFilePath(settings.outputPath + QStringLiteral("/") + settings.outputFileName);

    for (;;) {
        // The main window stays disabled until the listener's window closes;
        // the dialogs it owns take input all the same.
        QFileDialog dialog(this, tr("Save a file"), proposedPath,
                           QStringLiteral("All files (*.*);; Text files (*.txt)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.selectNameFilter(QStringLiteral("Text files (*.txt)"));
        // Replacing is asked below, once for the results file and its
        // companions together.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
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

            const ResultsFileSet set = resultsFileSet(chosen);
            const QStringList existing = existingFilesOf(set);
            if (!existing.isEmpty() && !askToReplace(this, existing)) {
                proposedPath = freeResultsFilePath(chosen);
                continue;
            }

            // The companions first and the results file last: a save that
            // fails halfway leaves an earlier results file whole.
            const QString journalPath = trialJournal.filePath();
            QFile journal(journalPath);
            const bool journalReadable = !journalPath.isEmpty() && journal.open(QIODevice::ReadOnly);
            QVector<PlannedFile> files;
            // Without a journal to copy, an earlier copy of this name must not
            // stay beside the new results.
            files.append(journalReadable ? PlannedFile{set.trials, journal.readAll()}
                                         : PlannedFile{set.trials, QByteArray(), true});
            files.append({set.summary, runSummaryBytes()});
            files.append({set.results, bytes});
            const SaveOutcome outcome = saveFilesInOrder(files);
            if (outcome.ok()) {
                remembered.outputFolder = settings.outputPath;
                saveRememberedSettings(remembered);
                if (!journalReadable && !journalPath.isEmpty()) {
                    showWarning(QStringLiteral("The results were saved, but the trial journal could not be copied "
                                               "to\n")
                                + set.trials + QStringLiteral("\nIt stays in\n") + journalPath);
                }
                return;
            }
            showWarning(saveFailureText(QStringLiteral("could not open file for writing \r\n") + settings.outputPath
                                            + settings.outputFileName,
                                        chosen, outcome));
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

void MainWindow::writeSummaryBeside(const QString &path)
{
    // Never over an earlier summary.
    const QString summaryPath = freeFilePath(summaryPathBeside(path));
    QString reason;
    if (saveFileAtomically(summaryPath, runSummaryBytes(), &reason))
        return;
    showWarning(QStringLiteral("The identification summary could not be written to\n") + summaryPath
                + QStringLiteral("\n(") + reason + QStringLiteral(")."));
}

QByteArray MainWindow::runSummaryBytes() const
{
    const QVector<FileSummary> files = runFileSummaries();
    return summaryFileBytes(files, fitLogistic(binomialRows(files)), soundFileNumbering().fromNames);
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
    QVector<FileSummary> files = summarizeFiles(soundFileNames(), soundFileNumbering().values, runAnswers);
    // Levels hold where the output was calibrated at the volume and port it
    // had throughout the run.
    for (int i = 0; i < files.size() && i < settings.soundFiles.size(); ++i) {
        files[i].rmsDbfs = settings.soundFiles[i].rmsDbfs;
        if (levelWatch->levelsHold())
            files[i].levelDbSpl = levelWatch->calibration().levelDbSpl(files[i].rmsDbfs);
    }
    return files;
}
