// Writes trial journals with the program's own journal writer, for timing
// and trying out tarquel-report without running sessions:
//   tarquel_make_journals FOLDER COUNT
// COUNT sessions of 40 subjects over two continua (11 steps named step1 ...
// step11, 9 named vot10ms ... vot90ms), 10 repetitions each, answered along
// falling curves (every tenth subject at chance), in FOLDER/<continuum>/.

#include "analysis/SoundFileNumbers.h"
#include "experiment/TrialJournal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTimeZone>

#include <cmath>
#include <cstdio>
#include <random>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool ok = false;
    const int count = arguments.value(2).toInt(&ok);
    if (arguments.size() != 3 || !ok || count < 1) {
        std::fputs("usage: tarquel_make_journals FOLDER COUNT\n", stderr);
        return 2;
    }
    QStringList steps, vot;
    for (int i = 1; i <= 11; ++i)
        steps.append(QStringLiteral("step%1.wav").arg(i));
    for (int i = 1; i <= 9; ++i)
        vot.append(QStringLiteral("vot%1ms.wav").arg(10 * i));
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 0), QTimeZone(3600));
    std::mt19937 random(20260302);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int session = 0; session < count; ++session) {
        const int subject = session % 40;
        const bool second = (session / 40) % 2 == 1;
        const QStringList &names = second ? vot : steps;
        JournalHeader header;
        header.programVersion = QStringLiteral("Auditory Tarquel (v020)");
        header.startTime = start.addSecs(600 * session);
        header.subjectCode = QStringLiteral("S%1").arg(subject + 1, 2, 10, QLatin1Char('0'));
        header.sessionTypeName = QStringLiteral("experiment");
        header.sessionNumber = 1 + session / 80;
        header.soundFolder = QStringLiteral("/lab/stimuli/") + (second ? QStringLiteral("vot") : QStringLiteral("steps"));
        header.soundFileNames = names;
        header.soundFileNumbers = soundFileNumbers(names).values;
        header.samplingRate = 40000;
        header.repetitions = 10;
        header.trialOrderSeed = 1000 + session;
        for (int r = 0; r < 10; ++r)
            for (int f = 0; f < names.size(); ++f)
                header.trialOrder.append(f);
        std::shuffle(header.trialOrder.begin(), header.trialOrder.end(), random);
        const double first = header.soundFileNumbers.first(), last = header.soundFileNumbers.last();
        const double boundary = first + (last - first) * (0.35 + 0.3 * uniform(random));
        const double slope = subject % 10 == 9 ? 0.0 : 8.0 / (last - first) * (0.6 + uniform(random));
        TrialJournal journal;
        QString error;
        if (!journal.open(QDir(arguments[1]).filePath(second ? QStringLiteral("vot") : QStringLiteral("steps")), header,
                          &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        for (int t = 0; t < header.trialOrder.size(); ++t) {
            const int file = header.trialOrder[t];
            JournalRow row;
            row.trialNumber = t + 1;
            row.soundFileName = names[file];
            row.answer = uniform(random) < 1.0 / (1.0 + std::exp(slope * (header.soundFileNumbers[file] - boundary))) ? 2 : 4;
            row.reactionTimeMs = 350.0 + 300.0 * uniform(random);
            row.sinceRunStartMs = 1200 * (t + 1);
            journal.append(row);
        }
        journal.close();
    }
    return 0;
}
