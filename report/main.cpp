// tarquel-report: the group report over many sessions' trial journals, from
// the command line. The same report as the main window's "Group report".

#include "report/GroupReport.h"
#include "report/ReportFigure.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

namespace {

const char *const helpText = R"(Usage: tarquel-report [-o DIR] PATH...

The group report of Auditory Tarquel: every session's identification curve,
from the trial journals the program keeps, in two tables and a figure.

Each PATH is a trial journal, or a folder searched for them recursively
(the program's own journals are in ~/.local/share/tarquel/sessions/). A trial
journal is known by its first line, "# Trial journal", so summaries, results
files and other files in a folder are passed over. For each session the
counted answers are recounted per sound file and the identification curve is
fitted by the program's own code, so that every count and fit equals the
session's summary file. Reaction times come from the journal's two-decimal
values, so means and medians may differ from the summary's by up to
0.005 ms. The same session found twice (a journal and its "_trials.tsv" copy
beside a results file) is reported once, known by its start time, subject
code, session type, number and trial-order seed. A run that was abandoned is
reported with its counted trials and marked incomplete. A journal written
before the files' numbers came from their names is numbered in listing order.

Written into DIR (default: the current folder), each file replaced
atomically:
  report.tsv        one row per session, sorted by sound folder, subject code
                    and start time: journal, subject code, session type,
                    session number, start time, sound folder, counted trials,
                    complete (yes/no), numbers from (file names/listing
                    order), fit (ok, flat, separated, not estimable),
                    boundary, boundary low, boundary high (the 95 % interval;
                    for "separated", the two files the boundary lies between),
                    slope, slope low, slope high, mean reaction time (ms)
  report_files.tsv  one row per session and sound file: journal, sound file,
                    number, n, nT2, nT4, proportion Tone 2, mean reaction
                    time (ms), median reaction time (ms)
  report.svg        the figure: per sound folder, every session's proportions
  report.png        and fitted curve (one colour per subject code, practice
                    dashed), and beside it each session's boundary with its
                    interval, one row per session
The tables are tab-separated, CR LF, UTF-8, with NA where nothing is known and
no '#' lines: read them without a comment character (in R,
read.delim("report.tsv")).

A file that cannot be read as a journal (cut short, another program's file)
is named on standard error with the reason; the others are still reported.
Without a display (no DISPLAY and no WAYLAND_DISPLAY) the figure is drawn
off screen, so the command runs over SSH and in scripts.

Options:
  -o DIR       write the report into DIR (created when missing)
  -h, --help   show this text

Exit status: 0 when every journal was read, 1 when some file was skipped,
2 for a usage error or a file that could not be written.
)";

// Qt's own remarks about the platform (a runtime folder it had to make up
// off screen) are no business of the report's reader; everything else is
// passed on.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg && message.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    std::fputs(qFormatLogMessage(type, context, message).toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

void say(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

int main(int argc, char *argv[])
{
    // Options first, before any Qt object: --help and usage errors need no
    // display.
    QString outputFolder = QStringLiteral(".");
    QStringList paths;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (!endOfOptions && (argument == QLatin1String("-h") || argument == QLatin1String("--help"))) {
            std::fputs(helpText, stdout);
            return 0;
        }
        if (!endOfOptions && argument == QLatin1String("--")) {
            endOfOptions = true;
        } else if (!endOfOptions && argument == QLatin1String("-o")) {
            if (i + 1 >= argc) {
                say(stderr, QStringLiteral("tarquel-report: -o needs a folder\nTry tarquel-report --help\n"));
                return 2;
            }
            outputFolder = QString::fromLocal8Bit(argv[++i]);
        } else if (!endOfOptions && argument.startsWith(QLatin1String("-o")) && argument.size() > 2) {
            outputFolder = argument.mid(2);
        } else if (!endOfOptions && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            say(stderr, QStringLiteral("tarquel-report: unknown option %1\nTry tarquel-report --help\n").arg(argument));
            return 2;
        } else {
            paths.append(argument);
        }
    }
    if (paths.isEmpty()) {
        say(stderr, QStringLiteral("tarquel-report: no journal or folder given\n"
                                   "Usage: tarquel-report [-o DIR] PATH...\nTry tarquel-report --help\n"));
        return 2;
    }

    // Charts need a GUI application; without a display it draws off screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarquel-report"));

    const GroupReport report = buildGroupReport(paths);
    for (const SkippedFile &skipped : report.skipped)
        say(stderr, QStringLiteral("tarquel-report: skipped %1: %2\n").arg(skipped.path, skipped.reason));
    for (const QString &note : report.notes)
        say(stderr, QStringLiteral("tarquel-report: note: %1\n").arg(note));
    if (report.sessions.isEmpty())
        say(stderr, QStringLiteral("tarquel-report: no trial journal was read\n"));

    QString error;
    if (!QDir().mkpath(outputFolder)) {
        say(stderr, QStringLiteral("tarquel-report: the folder %1 could not be created\n").arg(outputFolder));
        return 2;
    }
    if (!writeReportTables(report, outputFolder, &error)) {
        say(stderr, QStringLiteral("tarquel-report: %1\n").arg(error));
        return 2;
    }
    ReportFigure figure(report);
    if (!writeReportFigure(figure, outputFolder, &error)) {
        say(stderr, QStringLiteral("tarquel-report: %1\n").arg(error));
        return 2;
    }
    int incomplete = 0;
    for (const SessionReport &session : report.sessions)
        incomplete += session.journal.complete() ? 0 : 1;
    say(stdout, QStringLiteral("%1 session(s) (%2 incomplete), %3 copy(ies) left out, %4 file(s) skipped; "
                               "written to %5: %6, %7, %8, %9\n")
                    .arg(report.sessions.size())
                    .arg(incomplete)
                    .arg(report.duplicates.size())
                    .arg(report.skipped.size())
                    .arg(QDir::toNativeSeparators(outputFolder), QLatin1String(reportTableName),
                         QLatin1String(reportFilesTableName), QLatin1String(reportSvgName),
                         QLatin1String(reportPngName)));
    return report.skipped.isEmpty() ? 0 : 1;
}
