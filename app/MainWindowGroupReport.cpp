// "Group report" on the lab-options panel: the same report as
// tarquel-report, over a folder of journals, shown in a window of its own.

#include "app/MainWindow.h"

#include "app/GroupReportDialog.h"
#include "app/SessionSettings.h"
#include "report/GroupReport.h"
#include "report/ReportFigure.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QStandardPaths>

QString MainWindow::journalFolder() const
{
    if (!trialJournalFolder.isEmpty())
        return trialJournalFolder;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("sessions"));
}

void MainWindow::makeGroupReport()
{
    const auto choose = [this](const QString &title, const QString &start) {
        return chooseReportFolder ? chooseReportFolder(title, start)
                                  : QFileDialog::getExistingDirectory(this, title, start);
    };
    // The journals: by default the program's own.
    const QString journals = choose(QStringLiteral("Folder of trial journals for the group report"), journalFolder());
    if (journals.isEmpty())
        return;
    const QString reportStart = remembered.outputFolder.isEmpty() ? desktopFolder() : remembered.outputFolder;
    const QString folder = choose(QStringLiteral("Folder to write the group report into"), reportStart);
    if (folder.isEmpty())
        return;

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const GroupReport report = buildGroupReport({journals});
    ReportFigure figure(report);
    QString error;
    const bool written = writeReportTables(report, folder, &error) && writeReportFigure(figure, folder, &error);
    const QImage image = figure.image();
    QGuiApplication::restoreOverrideCursor();
    if (!written) {
        showWarning(QStringLiteral("The group report could not be written:\n") + error);
        return;
    }

    int incomplete = 0;
    for (const SessionReport &session : report.sessions)
        incomplete += session.journal.complete() ? 0 : 1;
    QString summary = QStringLiteral("%1 session(s) from %2 (%3 incomplete, %4 copy(ies) of a journal left out), "
                                     "written to %5: report.tsv, report_files.tsv, report.svg and report.png.")
                          .arg(report.sessions.size())
                          .arg(QDir::toNativeSeparators(journals))
                          .arg(incomplete)
                          .arg(report.duplicates.size())
                          .arg(QDir::toNativeSeparators(folder));
    QStringList problems;
    for (const SkippedFile &skipped : report.skipped)
        problems.append(QStringLiteral("Skipped %1: %2").arg(skipped.path, skipped.reason));
    for (const QString &note : report.notes)
        problems.append(QStringLiteral("Note: %1").arg(note));
    if (!report.skipped.isEmpty())
        summary += QStringLiteral(" %1 file(s) could not be read:").arg(report.skipped.size());
    auto *dialog = new GroupReportDialog(summary, problems, image, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Usable while a run keeps the main window disabled, like its warnings.
    dialog->setEnabled(true);
    dialog->show();
}
