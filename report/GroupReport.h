#ifndef GROUPREPORT_H
#define GROUPREPORT_H

#include "analysis/Identification.h"
#include "report/SessionJournal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The group report: every session's identification curve from its trial
// journal, fitted by the same code as the program's own summary, in two
// tables (one row per session; one per session and sound file) and a figure
// (report/ReportFigure.h).

// One session of the report.
struct SessionReport
{
    SessionJournal journal;
    QVector<FileSummary> files;   // counted answers per file, listing order
    LogisticFit fit;
    int countedTrials = 0;
    double meanReactionTimeMs = 0.0;   // over the counted answers; meaningful when countedTrials > 0

    QString journalName() const;
    bool practice() const;
};

struct SkippedFile
{
    QString path;
    QString reason;
};

struct GroupReport
{
    QVector<SessionReport> sessions;   // sorted by sound folder, subject code and start time
    QVector<SkippedFile> skipped;      // files that could not be read
    QStringList duplicates;            // journals left out as copies of a reported one
    QStringList notes;                 // what a reader should know about a journal that was read
};

// The trial journals among paths: each file given that is one (a file that is
// not is skipped with its reason), and every file under each folder given,
// searched recursively, whose first line says it is one. Sorted by path.
QStringList findTrialJournals(const QStringList &paths, QVector<SkippedFile> *skipped);

// Reads and fits every journal found; a session found twice is reported once
// (the journal itself rather than its "_trials.tsv" copy).
GroupReport buildGroupReport(const QStringList &paths);

// The word of the summary's "# fit" line: ok, flat, separated, not estimable.
QString fitWord(const LogisticFit &fit);

// The two tables: tab-separated, CR LF, UTF-8, "NA" where nothing is known,
// no "#" lines.
QByteArray reportTableBytes(const GroupReport &report);
QByteArray reportFilesTableBytes(const GroupReport &report);

// The file names in the output folder.
constexpr const char *reportTableName = "report.tsv";
constexpr const char *reportFilesTableName = "report_files.tsv";
constexpr const char *reportSvgName = "report.svg";
constexpr const char *reportPngName = "report.png";

// Writes both tables into folder (created when missing), each replaced
// atomically. Returns false with the reason in *errorText on failure.
bool writeReportTables(const GroupReport &report, const QString &folder, QString *errorText);

#endif // GROUPREPORT_H
