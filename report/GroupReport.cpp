#include "report/GroupReport.h"

#include "experiment/ResultsFile.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

const QString missing = QStringLiteral("NA");

QString numberOrMissing(double value, bool known)
{
    return known ? summaryNumber(value) : missing;
}

QByteArray tableBytes(const QStringList &columns, const QVector<QStringList> &rows)
{
    QString text = columns.join(QLatin1Char('\t')) + QStringLiteral("\r\n");
    for (const QStringList &row : rows)
        text += row.join(QLatin1Char('\t')) + QStringLiteral("\r\n");
    return text.toUtf8();
}

// A field never holds a tab or a line end, whatever a header said.
QString field(QString text)
{
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.isEmpty() ? missing : text;
}

QDateTime startOf(const SessionReport &session)
{
    return QDateTime::fromString(session.journal.startTime, Qt::ISODateWithMs);
}

} // namespace

QString SessionReport::journalName() const
{
    return QFileInfo(journal.path).fileName();
}

bool SessionReport::practice() const
{
    return journal.sessionType == QLatin1String("practice");
}

QStringList findTrialJournals(const QStringList &paths, QVector<SkippedFile> *skipped)
{
    QStringList journals;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                if (isTrialJournal(file))
                    journals.append(QDir::cleanPath(file));
            }
        } else if (!info.exists()) {
            skipped->append({path, QStringLiteral("no such file or folder")});
        } else if (!isTrialJournal(path)) {
            QFile file(path);
            skipped->append({path, file.open(QIODevice::ReadOnly)
                                       ? QStringLiteral("not a trial journal (its first line is not \"# Trial journal\")")
                                       : QStringLiteral("cannot be opened (%1)").arg(file.errorString())});
        } else {
            journals.append(QDir::cleanPath(path));
        }
    }
    std::sort(journals.begin(), journals.end());
    journals.erase(std::unique(journals.begin(), journals.end()), journals.end());
    return journals;
}

QString fitWord(const LogisticFit &fit)
{
    switch (fit.status) {
    case LogisticFit::Status::Ok:
        return QStringLiteral("ok");
    case LogisticFit::Status::Flat:
        return QStringLiteral("flat");
    case LogisticFit::Status::Separated:
        return QStringLiteral("separated");
    case LogisticFit::Status::NotEstimable:
        break;
    }
    return QStringLiteral("not estimable");
}

GroupReport buildGroupReport(const QStringList &paths)
{
    GroupReport report;
    const QStringList journals = findTrialJournals(paths, &report.skipped);
    // The journal itself before a copy of it beside a results file.
    QStringList ordered = journals;
    std::stable_sort(ordered.begin(), ordered.end(), [](const QString &a, const QString &b) {
        return !a.endsWith(QLatin1String("_trials.tsv")) && b.endsWith(QLatin1String("_trials.tsv"));
    });
    QHash<QString, int> seen;
    for (const QString &path : std::as_const(ordered)) {
        SessionReport session;
        QString reason;
        if (!readSessionJournal(path, &session.journal, &reason)) {
            report.skipped.append({path, reason});
            continue;
        }
        const QString identity = session.journal.identity();
        if (seen.contains(identity)) {
            report.duplicates.append(path);
            continue;
        }
        seen.insert(identity, report.sessions.size());
        if (session.journal.lastLineCut)
            report.notes.append(path + QStringLiteral(": its last line is unfinished and was left out"));
        session.files = summarizeFiles(session.journal.soundFiles, session.journal.numbers.values,
                                       session.journal.answers);
        session.fit = fitLogistic(binomialRows(session.files));
        for (const FileSummary &file : std::as_const(session.files))
            session.countedTrials += file.n;
        session.meanReactionTimeMs = meanReactionTimeMs(session.journal.answers);
        report.sessions.append(session);
    }
    std::stable_sort(report.sessions.begin(), report.sessions.end(),
                     [](const SessionReport &a, const SessionReport &b) {
                         if (a.journal.soundFolder != b.journal.soundFolder)
                             return a.journal.soundFolder < b.journal.soundFolder;
                         if (a.journal.subjectCode != b.journal.subjectCode)
                             return a.journal.subjectCode < b.journal.subjectCode;
                         const QDateTime ta = startOf(a), tb = startOf(b);
                         if (ta.isValid() && tb.isValid() && ta != tb)
                             return ta < tb;
                         return a.journal.startTime < b.journal.startTime;
                     });
    return report;
}

QByteArray reportTableBytes(const GroupReport &report)
{
    const QStringList columns{"journal", "subject code", "session type", "session number", "start time",
                              "sound folder", "counted trials", "complete", "numbers from", "fit", "boundary",
                              "boundary low", "boundary high", "slope", "slope low", "slope high",
                              "mean reaction time (ms)"};
    QVector<QStringList> rows;
    for (const SessionReport &session : report.sessions) {
        const SessionJournal &j = session.journal;
        const LogisticFit &fit = session.fit;
        const bool ok = fit.status == LogisticFit::Status::Ok;
        const bool separated = fit.status == LogisticFit::Status::Separated;
        const bool curve = fit.hasCurve();
        rows.append({field(session.journalName()), field(j.subjectCode), field(j.sessionType),
                     field(j.sessionNumber), field(j.startTime), field(j.soundFolder),
                     QString::number(session.countedTrials),
                     j.complete() ? QStringLiteral("yes") : QStringLiteral("no"),
                     j.numbers.fromNames ? QStringLiteral("file names") : QStringLiteral("listing order"),
                     fitWord(fit), numberOrMissing(fit.boundary, ok),
                     numberOrMissing(ok ? fit.boundaryCILow : fit.boundaryLow, ok || separated),
                     numberOrMissing(ok ? fit.boundaryCIHigh : fit.boundaryHigh, ok || separated),
                     numberOrMissing(fit.slope, curve), numberOrMissing(fit.slopeLow, curve),
                     numberOrMissing(fit.slopeHigh, curve),
                     numberOrMissing(session.meanReactionTimeMs, session.countedTrials > 0)});
    }
    return tableBytes(columns, rows);
}

QByteArray reportFilesTableBytes(const GroupReport &report)
{
    const QStringList columns{"journal", "sound file", "number", "n", "nT2", "nT4", "proportion Tone 2",
                              "mean reaction time (ms)", "median reaction time (ms)"};
    QVector<QStringList> rows;
    for (const SessionReport &session : report.sessions) {
        for (const FileSummary &file : session.files) {
            rows.append({field(session.journalName()), field(file.fileName), formatSoundFileNumber(file.number),
                         QString::number(file.n), QString::number(file.nT2), QString::number(file.nT4),
                         numberOrMissing(file.proportionTone2, file.n > 0),
                         numberOrMissing(file.meanReactionTimeMs, file.n > 0),
                         numberOrMissing(file.medianReactionTimeMs, file.n > 0)});
        }
    }
    return tableBytes(columns, rows);
}

bool writeReportTables(const GroupReport &report, const QString &folder, QString *errorText)
{
    const QDir dir(folder);
    QString reason;
    for (const auto &[name, bytes] : {std::make_pair(reportTableName, reportTableBytes(report)),
                                      std::make_pair(reportFilesTableName, reportFilesTableBytes(report))}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        if (!saveFileAtomically(path, bytes, &reason)) {
            *errorText = QStringLiteral("%1 could not be written (%2)").arg(path, reason);
            return false;
        }
    }
    return true;
}
