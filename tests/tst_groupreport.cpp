#include "analysis/Identification.h"
#include "experiment/TrialJournal.h"
#include "report/GroupReport.h"
#include "report/ReportFigure.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QXmlStreamReader>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtTest>

#include <cmath>
#include <random>

// The group report: journals read back as the program wrote them (and as
// later versions may), every session's counts and fit equal to its summary,
// copies reported once, unreadable files named, the tables' exact form, the
// figure's series, and the command's exit status.
class GroupReportTest : public QObject
{
    Q_OBJECT

private slots:
    void realJournalsEqualTheirSummaries();
    void journalsOfOtherVersions();
    void tables();
    void figure();
    void command();

private:
    // A journal by the program's own writer: files named names, numbered as
    // the program numbers them, answered along a falling curve (or at
    // chance), the first `answered` trials of repetitions per file.
    QString writeJournal(const QString &folder, const QString &subject, const QString &type,
                         const QDateTime &start, const QStringList &names, int repetitions, double boundary,
                         double slope, int answered, quint32 seed, bool withNumbers = true);
};

namespace {

QString dataFolder()
{
    return QStringLiteral(TARQUEL_TEST_DATA "/journals");
}

// The "# key<TAB>values" lines and the rows of a summary file.
struct Summary
{
    QHash<QString, QStringList> keys;
    QVector<QStringList> rows;
};

Summary readSummary(const QString &path)
{
    Summary summary;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return summary;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        QStringList fields = line.split(QLatin1Char('\t'));
        if (line.startsWith(QLatin1String("# "))) {
            const QString key = fields.takeFirst().mid(2);
            summary.keys.insert(key, fields);
        } else if (!line.startsWith(QLatin1String("sound file\t"))) {
            summary.rows.append(fields);
        }
    }
    return summary;
}

// The rows of a report table by their first field and column names.
QVector<QHash<QString, QString>> readTable(const QByteArray &bytes)
{
    QVector<QHash<QString, QString>> rows;
    const QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QStringList columns = lines.value(0).split(QLatin1Char('\t'));
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(QLatin1Char('\t'));
        QHash<QString, QString> row;
        for (int c = 0; c < columns.size(); ++c)
            row.insert(columns[c], fields.value(c));
        rows.append(row);
    }
    return rows;
}

const SessionReport *sessionNamed(const GroupReport &report, const QString &journalName)
{
    for (const SessionReport &session : report.sessions) {
        if (session.journalName() == journalName)
            return &session;
    }
    return nullptr;
}

} // namespace

QString GroupReportTest::writeJournal(const QString &folder, const QString &subject, const QString &type,
                                      const QDateTime &start, const QStringList &names, int repetitions,
                                      double boundary, double slope, int answered, quint32 seed, bool withNumbers)
{
    JournalHeader header;
    header.programVersion = QStringLiteral("Auditory Tarquel (v020)");
    header.startTime = start;
    header.subjectCode = subject;
    header.sessionTypeName = type;
    header.sessionNumber = 1;
    header.soundFolder = QStringLiteral("/lab/stimuli/") + folder;
    header.soundFileNames = names;
    header.soundFileNumbers = soundFileNumbers(names).values;
    header.samplingRate = 40000;
    header.repetitions = repetitions;
    header.trialOrderSeed = seed;
    std::mt19937 random(seed);
    for (int r = 0; r < repetitions; ++r) {
        for (int f = 0; f < names.size(); ++f)
            header.trialOrder.append(f);
    }
    std::shuffle(header.trialOrder.begin(), header.trialOrder.end(), random);
    TrialJournal journal;
    QString error;
    if (!journal.open(folder, header, &error))
        return QString();
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int t = 0; t < answered && t < header.trialOrder.size(); ++t) {
        const int file = header.trialOrder[t];
        const double p = 1.0 / (1.0 + std::exp(slope * (header.soundFileNumbers[file] - boundary)));
        JournalRow row;
        row.trialNumber = t + 1;
        row.soundFileName = names[file];
        row.answer = uniform(random) < p ? 2 : 4;
        row.reactionTimeMs = 300.0 + 400.0 * uniform(random);
        row.sinceRunStartMs = 1000 * (t + 1);
        journal.append(row);
    }
    const QString path = journal.filePath();
    journal.close();
    if (!withNumbers) {
        // As a journal written before the files' numbers came from their
        // names: no "# sound-file numbers" line.
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        QByteArray bytes = file.readAll();
        file.close();
        const int at = bytes.indexOf("# sound-file numbers\t");
        bytes.remove(at, bytes.indexOf('\n', at) - at + 1);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
    return path;
}

// The committed journals of real runs: each session's counts, fit and
// intervals in the report equal its own summary file; the copy beside the
// results is reported once; the abandoned run is incomplete; the journal
// cut short is skipped, with its name and why.
void GroupReportTest::realJournalsEqualTheirSummaries()
{
    const GroupReport report = buildGroupReport({dataFolder()});
    QCOMPARE(report.sessions.size(), 3);
    QCOMPARE(report.duplicates.size(), 1);
    QVERIFY(report.duplicates.first().endsWith(QLatin1String("results/S01_experiment_trials.tsv")));
    QCOMPARE(report.skipped.size(), 1);
    QVERIFY(report.skipped.first().path.endsWith(QLatin1String("20261208-131853_S01_experiment_1_cut-short.tsv")));
    QVERIFY(report.skipped.first().reason.startsWith(QLatin1String("cut short")));

    const QVector<QHash<QString, QString>> rows = readTable(reportTableBytes(report));
    const QVector<QHash<QString, QString>> fileRows = readTable(reportFilesTableBytes(report));
    QCOMPARE(rows.size(), 3);
    for (const QString &name : {QStringLiteral("20261208-131825_S01_experiment_1.tsv"),
                                QStringLiteral("20261208-131844_S03_experiment_1.tsv")}) {
        const Summary summary = readSummary(dataFolder() + QStringLiteral("/sessions/")
                                            + summaryPathBeside(name));
        QVERIFY(!summary.rows.isEmpty());
        QHash<QString, QString> row;
        for (const auto &r : rows) {
            if (r.value(QStringLiteral("journal")) == name)
                row = r;
        }
        QCOMPARE(row.value(QStringLiteral("complete")), QStringLiteral("yes"));
        QCOMPARE(row.value(QStringLiteral("numbers from")), QStringLiteral("file names"));
        const QString fit = summary.keys.value(QStringLiteral("fit")).value(0);
        QCOMPARE(row.value(QStringLiteral("fit")), fit.startsWith(QLatin1String("flat")) ? QStringLiteral("flat") : fit);
        QCOMPARE(row.value(QStringLiteral("slope")), summary.keys.value(QStringLiteral("slope (per sound file)")).value(0));
        const QStringList slopeInterval = summary.keys.value(QStringLiteral("slope 95% confidence interval"));
        QCOMPARE(row.value(QStringLiteral("slope low")), slopeInterval.value(0));
        QCOMPARE(row.value(QStringLiteral("slope high")), slopeInterval.value(1));
        if (fit == QLatin1String("ok")) {
            QCOMPARE(row.value(QStringLiteral("boundary")),
                     summary.keys.value(QStringLiteral("boundary (sound-file number)")).value(0));
            const QStringList interval =
                summary.keys.value(QStringLiteral("boundary 95% confidence interval (sound-file number)"));
            QCOMPARE(row.value(QStringLiteral("boundary low")), interval.value(0));
            QCOMPARE(row.value(QStringLiteral("boundary high")), interval.value(1));
        } else {
            QCOMPARE(row.value(QStringLiteral("boundary")), QStringLiteral("NA"));
        }
        // Per file: the same counts; reaction times from two decimals.
        int counted = 0;
        for (const QStringList &file : summary.rows) {
            QHash<QString, QString> fileRow;
            for (const auto &r : fileRows) {
                if (r.value(QStringLiteral("journal")) == name && r.value(QStringLiteral("sound file")) == file[0])
                    fileRow = r;
            }
            QCOMPARE(fileRow.value(QStringLiteral("number")), file[1]);
            QCOMPARE(fileRow.value(QStringLiteral("n")), file[2]);
            QCOMPARE(fileRow.value(QStringLiteral("nT2")), file[3]);
            QCOMPARE(fileRow.value(QStringLiteral("nT4")), file[4]);
            QCOMPARE(fileRow.value(QStringLiteral("proportion Tone 2")), file[5]);
            QVERIFY(std::abs(fileRow.value(QStringLiteral("mean reaction time (ms)")).toDouble() - file[6].toDouble())
                    <= 0.005);
            QVERIFY(std::abs(fileRow.value(QStringLiteral("median reaction time (ms)")).toDouble()
                             - file[7].toDouble()) <= 0.005);
            counted += file[2].toInt();
        }
        QCOMPARE(row.value(QStringLiteral("counted trials")).toInt(), counted);
    }
    const SessionReport *abandoned = sessionNamed(report, QStringLiteral("20261208-131909_S04_experiment_1.tsv"));
    QVERIFY(abandoned);
    QVERIFY(!abandoned->journal.complete());
    QCOMPARE(abandoned->countedTrials, 40);
    // Sorted by sound folder, then subject code: tone-steps S01, S03, then vot S04.
    QCOMPARE(rows[0].value(QStringLiteral("subject code")), QStringLiteral("S01"));
    QCOMPARE(rows[1].value(QStringLiteral("subject code")), QStringLiteral("S03"));
    QCOMPARE(rows[2].value(QStringLiteral("complete")), QStringLiteral("no"));
}

// Journals as other versions of the program write them: more columns after
// "counted" (and one before it), more header lines, notes among the rows, a
// journal without the files' numbers, one whose last row was never
// finished, and files that are no journal at all.
void GroupReportTest::journalsOfOtherVersions()
{
    QTemporaryDir dir;
    const QStringList names{"step1.wav", "step10.wav", "step11.wav", "step2.wav", "step3.wav", "step4.wav",
                            "step5.wav", "step6.wav", "step7.wav", "step8.wav", "step9.wav"};
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 30), QTimeZone(3600));
    const QString plain = writeJournal(dir.filePath(QStringLiteral("a")), QStringLiteral("S01"),
                                       QStringLiteral("experiment"), start, names, 10, 6.0, 1.2, 110, 11);
    QVERIFY(!plain.isEmpty());
    const QString old = writeJournal(dir.filePath(QStringLiteral("a")), QStringLiteral("S02"),
                                     QStringLiteral("experiment"), start.addSecs(600), names, 10, 6.0, 1.2, 110, 12,
                                     false);

    // The same session as a later version writes it.
    QFile file(plain);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    file.close();
    QStringList later;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("# audio output\t"))) {
            later << line + QStringLiteral("\tPipeWire 1.2\t48000 Hz") << QStringLiteral("# output device\tHDMI 2")
                  << QStringLiteral("# output device rate (Hz)\t48000") << QStringLiteral("# answer times\tmonotonic")
                  << QStringLiteral("# listener screen\tDP-1 (1920x1080)") << QStringLiteral("# break every\t40");
        } else if (line.startsWith(QLatin1String("trial\t"))) {
            QStringList columns = line.split(QLatin1Char('\t'));
            columns.insert(1, QStringLiteral("block"));
            later << columns.join(QLatin1Char('\t')) + QStringLiteral("\theld (ms)");
        } else if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            QStringList fields = line.split(QLatin1Char('\t'));
            if (fields[0] == QLatin1String("5"))
                later << QStringLiteral("# trial 5: the first 9.43 ms of %1 may not have been played (late)").arg(fields[1]);
            fields.insert(1, QStringLiteral("1"));
            later << fields.join(QLatin1Char('\t')) + QStringLiteral("\t84.20");
        } else {
            later << line;
        }
    }
    while (later.last().isEmpty())
        later.removeLast();   // and its last row without a line end, as if cut by a power cut
    const QString laterPath = dir.filePath(QStringLiteral("b/later.tsv"));
    QDir().mkpath(dir.filePath(QStringLiteral("b")));
    QFile laterFile(laterPath);
    QVERIFY(laterFile.open(QIODevice::WriteOnly));
    laterFile.write(later.join(QLatin1Char('\n')).toUtf8());
    laterFile.close();

    // Files that are no journal: in a folder passed over, given by name skipped.
    const QString other = dir.filePath(QStringLiteral("a/notes.txt"));
    QFile otherFile(other);
    QVERIFY(otherFile.open(QIODevice::WriteOnly));
    otherFile.write("trial\tsound file\n1\tx.wav\n");
    otherFile.close();

    // One run finished, as a later version wrote it (and its last row unfinished).
    GroupReport report = buildGroupReport({dir.filePath(QStringLiteral("a"))});
    QCOMPARE(report.sessions.size(), 2);
    QVERIFY(report.skipped.isEmpty());
    report = buildGroupReport({laterPath, other});
    QCOMPARE(report.sessions.size(), 1);
    QCOMPARE(report.skipped.size(), 1);
    QCOMPARE(report.skipped.first().path, other);
    QVERIFY(report.skipped.first().reason.startsWith(QLatin1String("not a trial journal")));
    // The later version's journal gives the same session as the program's.
    const GroupReport plainReport = buildGroupReport({plain});
    QCOMPARE(report.sessions.first().journal.answers.size(), 109);   // the last row was never finished
    QCOMPARE(report.notes.size(), 1);
    QCOMPARE(plainReport.sessions.first().journal.answers.size(), 110);
    const SessionReport &laterSession = report.sessions.first();
    const SessionReport &plainSession = plainReport.sessions.first();
    QCOMPARE(laterSession.journal.numbers.values, plainSession.journal.numbers.values);
    QVERIFY(laterSession.journal.numbers.fromNames);
    for (int i = 0; i < 109; ++i) {
        QCOMPARE(laterSession.journal.answers[i].fileIndex, plainSession.journal.answers[i].fileIndex);
        QCOMPARE(laterSession.journal.answers[i].answer, plainSession.journal.answers[i].answer);
        QCOMPARE(laterSession.journal.answers[i].reactionTimeMs, plainSession.journal.answers[i].reactionTimeMs);
    }
    QVERIFY(!laterSession.journal.complete());

    // The journal without numbers: listing order, and said so.
    report = buildGroupReport({old});
    QCOMPARE(report.sessions.size(), 1);
    QVERIFY(!report.sessions.first().journal.numbers.fromNames);
    QCOMPARE(report.sessions.first().files[1].number, 2.0);   // step10.wav, second in the listing
    QVERIFY(reportTableBytes(report).contains("\tyes\tlisting order\t"));
    QCOMPARE(plainReport.sessions.first().files[1].number, 10.0);
    QVERIFY(reportTableBytes(plainReport).contains("\tyes\tfile names\t"));
    // Equal to what the program would have summarized.
    const QVector<FileSummary> files = summarizeFiles(names, soundFileNumbers(names).values,
                                                      plainSession.journal.answers);
    QCOMPARE(summaryFileBytes(plainSession.files, plainSession.fit, true),
             summaryFileBytes(files, fitLogistic(binomialRows(files)), true));
}

// The tables' exact form: columns in order, CR LF, NA, no '#', sorting, and
// replaced atomically when written again.
void GroupReportTest::tables()
{
    QTemporaryDir dir;
    const QStringList names{"vot10ms.wav", "vot20ms.wav", "vot30ms.wav", "vot40ms.wav", "vot50ms.wav"};
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 30), QTimeZone::utc());
    writeJournal(dir.filePath(QStringLiteral("j")), QStringLiteral("S02"), QStringLiteral("experiment"), start,
                 names, 8, 30.0, 0.15, 40, 21);
    writeJournal(dir.filePath(QStringLiteral("j")), QStringLiteral("S01"), QStringLiteral("experiment"),
                 start.addSecs(3600), names, 8, 30.0, 0.15, 40, 22);
    writeJournal(dir.filePath(QStringLiteral("j")), QStringLiteral("S01"), QStringLiteral("practice"), start,
                 names, 3, 30.0, 0.15, 2, 23);   // abandoned after two answers: no fit
    const GroupReport report = buildGroupReport({dir.path()});
    QCOMPARE(report.sessions.size(), 3);
    const QByteArray table = reportTableBytes(report);
    const QList<QByteArray> lines = table.split('\n');
    QCOMPARE(lines[0], QByteArray("journal\tsubject code\tsession type\tsession number\tstart time\tsound folder\t"
                                  "counted trials\tcomplete\tnumbers from\tfit\tboundary\tboundary low\t"
                                  "boundary high\tslope\tslope low\tslope high\tmean reaction time (ms)\r"));
    QVERIFY(!table.contains('#'));
    QCOMPARE(table.count("\r\n"), 4);
    QCOMPARE(table.count('\n'), 4);
    // S01 practice (09:30), S01 experiment (10:30), S02.
    QVERIFY(lines[1].contains("\tS01\tpractice\t1\t2026-03-02T09:30:00.000Z\t/lab/stimuli/"));
    QVERIFY(lines[1].contains("\t2\tno\tfile names\tnot estimable\tNA\tNA\tNA\tNA\tNA\tNA\t"));
    QVERIFY(lines[2].contains("\tS01\texperiment\t"));
    QVERIFY(lines[3].contains("\tS02\texperiment\t"));
    const QByteArray files = reportFilesTableBytes(report);
    QCOMPARE(files.split('\n')[0], QByteArray("journal\tsound file\tnumber\tn\tnT2\tnT4\tproportion Tone 2\t"
                                              "mean reaction time (ms)\tmedian reaction time (ms)\r"));
    QCOMPARE(files.count("\r\n"), 1 + 3 * 5);
    QVERIFY(files.contains("\tvot10ms.wav\t10\t"));
    QVERIFY(files.contains("\t0\t0\t0\tNA\tNA\tNA\r\n"));   // a file the abandoned run never reached

    QString error;
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(writeReportTables(report, out, &error));
    QFile written(QDir(out).filePath(QStringLiteral("report.tsv")));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), table);
    written.close();
    QVERIFY(writeReportTables(GroupReport(), out, &error));   // replaced
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll().count("\r\n"), 1);
}

// One curve per fitted session, in its panel; the SVG well-formed; the PNG
// the figure's size.
void GroupReportTest::figure()
{
    QTemporaryDir dir;
    const QStringList steps{"step1.wav", "step2.wav", "step3.wav", "step4.wav", "step5.wav", "step6.wav", "step7.wav"};
    const QStringList vot{"vot10ms.wav", "vot20ms.wav", "vot30ms.wav", "vot40ms.wav", "vot50ms.wav"};
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 0), QTimeZone::utc());
    int fitted[2] = {0, 0};
    // 40 subjects over two continua, a practice and an experiment each on
    // the first, and some at chance.
    for (int s = 0; s < 40; ++s) {
        const QString code = QStringLiteral("S%1").arg(s + 1, 2, 10, QLatin1Char('0'));
        const double slope = s % 10 == 9 ? 0.0 : 1.5;
        writeJournal(dir.filePath(QStringLiteral("steps")), code, QStringLiteral("experiment"), start.addSecs(60 * s),
                     steps, 10, 3.5 + (s % 5) * 0.2, slope, 70, 1000 + s);
        if (s < 5) {
            writeJournal(dir.filePath(QStringLiteral("steps")), code, QStringLiteral("practice"),
                         start.addSecs(60 * s - 30), steps, 3, 3.5, 1.5, 21, 2000 + s);
        }
        writeJournal(dir.filePath(QStringLiteral("vot")), code, QStringLiteral("experiment"), start.addSecs(60 * s + 5),
                     vot, 8, 30.0, 0.2, 40, 3000 + s);
    }
    const GroupReport report = buildGroupReport({dir.path()});
    QCOMPARE(report.sessions.size(), 85);
    for (const SessionReport &session : report.sessions) {
        if (session.fit.hasCurve())
            ++fitted[session.journal.soundFolder.endsWith(QLatin1String("vot")) ? 1 : 0];
    }
    QVERIFY(fitted[0] > 30 && fitted[1] > 30);

    ReportFigure figure(report);
    QCOMPARE(figure.panels().size(), 2);
    for (int p = 0; p < 2; ++p) {
        const ReportFigure::Panel &panel = figure.panels()[p];
        QVERIFY(panel.soundFolder.endsWith(p == 0 ? QLatin1String("steps") : QLatin1String("vot")));
        int curves = 0;
        for (QtCharts::QAbstractSeries *series : panel.curves->series()) {
            if (qobject_cast<QtCharts::QLineSeries *>(series) && series->type() == QtCharts::QAbstractSeries::SeriesTypeLine)
                ++curves;
        }
        QCOMPARE(curves, fitted[p]);
    }
    const QByteArray svg = figure.svgBytes();
    QXmlStreamReader xml(svg);
    int elements = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement)
            ++elements;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(elements > 100);
    QVERIFY(svg.contains("<svg"));
    const QImage image = QImage::fromData(figure.pngBytes(), "PNG");
    QCOMPARE(image.size(), figure.size());
    QVERIFY(figure.size().height() > 40 * 20);   // room for every session's row

    // Distinct colours for 40 subjects.
    QSet<QRgb> colours;
    for (int i = 0; i < 40; ++i)
        colours.insert(ReportFigure::subjectColour(i, 40).rgb());
    QCOMPARE(colours.size(), 40);
}

// The command: its files, its exit status, the skipped file named.
void GroupReportTest::command()
{
#ifndef TARQUEL_REPORT_PROGRAM
    QSKIP("the tarquel-report program's path is not known to this build");
#else
    QTemporaryDir dir;
    QProcess report;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    report.setProcessEnvironment(environment);
    report.start(QStringLiteral(TARQUEL_REPORT_PROGRAM), {QStringLiteral("-o"), dir.path(), dataFolder()});
    QVERIFY(report.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(report.readAllStandardError());
    QCOMPARE(report.exitCode(), 1);   // the journal cut short was skipped
    QVERIFY2(errors.contains(QLatin1String("skipped ")) && errors.contains(QLatin1String("_cut-short.tsv: cut short")),
             qPrintable(errors));
    QCOMPARE(errors.count(QLatin1String("tarquel-report: skipped ")), 1);
    for (const char *name : {reportTableName, reportFilesTableName, reportSvgName, reportPngName})
        QVERIFY(QFile::exists(QDir(dir.path()).filePath(QString::fromLatin1(name))));
    QFile table(QDir(dir.path()).filePath(QStringLiteral("report.tsv")));
    QVERIFY(table.open(QIODevice::ReadOnly));
    QCOMPARE(table.readAll(), reportTableBytes(buildGroupReport({dataFolder()})));

    report.start(QStringLiteral(TARQUEL_REPORT_PROGRAM),
                 {QStringLiteral("-o"), dir.path(), dataFolder() + QStringLiteral("/sessions/20261208-131825_S01_experiment_1.tsv")});
    QVERIFY(report.waitForFinished(60000));
    QCOMPARE(report.exitCode(), 0);
    report.start(QStringLiteral(TARQUEL_REPORT_PROGRAM), QStringList());
    QVERIFY(report.waitForFinished(60000));
    QCOMPARE(report.exitCode(), 2);
    report.start(QStringLiteral(TARQUEL_REPORT_PROGRAM), {QStringLiteral("--help")});
    QVERIFY(report.waitForFinished(60000));
    QCOMPARE(report.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(report.readAllStandardOutput());
    QVERIFY(help.startsWith(QLatin1String("Usage: tarquel-report [-o DIR] PATH...")));
    QVERIFY(help.contains(QLatin1String("report_files.tsv")));
    // A folder that cannot be written: status 2.
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    report.start(QStringLiteral(TARQUEL_REPORT_PROGRAM),
                 {QStringLiteral("-o"), dir.filePath(QStringLiteral("blocker/out")), dataFolder()});
    QVERIFY(report.waitForFinished(60000));
    QCOMPARE(report.exitCode(), 2);
#endif
}

QTEST_MAIN(GroupReportTest)
#include "tst_groupreport.moc"
