#include "TestSupport.h"

#include "app/MainWindow.h"
#include "analysis/Identification.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>

// Whole sessions of the program, played through the audio server and
// answered by scripted listeners along identification curves of their own,
// over two continua whose files are numbered by their names: the summaries
// as a lab gets them. With TARQUEL_KEEP_RUN_FILES set, the journals,
// results and summaries are copied there (the group report's examples and
// test data come from such runs).
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionsOverTwoContinua();

private:
    // A listener who answers "Tone 2" with probability
    // 1 / (1 + exp(slope * (number - boundary))): falling for slope > 0,
    // at chance for slope 0.
    struct Listener
    {
        QString subjectCode;
        bool experiment = true;      // false: practice (3 repetitions)
        double boundary = 0.0;
        double slope = 0.0;
        int stopAfter = 0;           // > 0: the listener's window is closed after this many answers
        bool saveResults = false;    // the results file (and a copy of the journal) beside the others
        quint32 seed = 1;            // trial order and answers
    };

    void makeContinuum(const QString &folder, const QStringList &names);
    // Runs one session on folder; *journal is set to its journal's path.
    void runSession(MainWindow &w, ModalDriver &driver, const QString &folder, const Listener &listener,
                    QString *journal);

    QTemporaryDir dir;
};

void MainWindowTester::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the private audio server of scripts/with-audio-server.sh");
    QVERIFY(dir.isValid());
}

// A pitch glide per file, from rising (the first file, Tone 2-like) to
// falling (the last, Tone 4-like), 30 ms at 40 kHz with soft edges.
void MainWindowTester::makeContinuum(const QString &folder, const QStringList &names)
{
    QVERIFY(QDir().mkpath(folder));
    const int samples = 1200;
    for (int f = 0; f < names.size(); ++f) {
        const double glide = 80.0 * (1.0 - 2.0 * f / (names.size() - 1));
        QVector<qint16> frames(samples);
        double phase = 0.0;
        for (int i = 0; i < samples; ++i) {
            const double t = double(i) / samples;
            phase += 2 * M_PI * (220.0 + glide * (t - 0.5)) / 40000.0;
            const double edge = std::min({1.0, i / 200.0, (samples - 1 - i) / 200.0});
            frames[i] = qint16(std::lround(8000 * edge * std::sin(phase)));
        }
        QVERIFY(writeWav16(QDir(folder).filePath(names[f]), frames, 40000));
    }
}

void MainWindowTester::runSession(MainWindow &w, ModalDriver &driver, const QString &folder,
                                  const Listener &listener, QString *journal)
{
    w.trialOrderSeedFixed = true;
    w.trialOrderSeed = listener.seed;
    w.experimentRepetitions = 10;
    w.lineEditSubCode->setText(listener.subjectCode);
    w.chooseSoundFolder = [folder](const QString &) { return folder; };
    QVERIFY((listener.experiment ? w.pushButtonExperiment : w.pushButtonPractice)->isEnabled());
    QTest::mouseClick(listener.experiment ? w.pushButtonExperiment : w.pushButtonPractice, Qt::LeftButton);
    QVERIFY(w.numSoundFiles > 0);
    w.lineEditSesNum->setText(QStringLiteral("1"));
    w.lineEditSilentInterval->setText(QStringLiteral("20"));
    w.checkBoxSaveData->setChecked(listener.saveResults);
    if (listener.saveResults) {
        driver.chooseSavePath(dir.filePath(QStringLiteral("results/%1_%2.txt")
                                               .arg(listener.subjectCode, listener.experiment ? "experiment"
                                                                                              : "practice")));
    }

    QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
    SubjectWindow *subject = w.subjectWindow;
    QVERIFY(subject);
    QPushButton *tone2 = buttonWithText(subject, QStringLiteral("Tone 2"));
    QPushButton *tone4 = buttonWithText(subject, QStringLiteral("Tone 4"));
    *journal = w.trialJournal.filePath();

    std::mt19937 random(listener.seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    int answered = 0;
    QObject context;
    QEventLoop loop;
    connect(&w, &MainWindow::soundPlaying, &context, [&](int index) {
        if (index == 1)
            return;
        QTimer::singleShot(2, &context, [&] {
            if (listener.stopAfter > 0 && answered == listener.stopAfter) {
                // The listener's window is closed mid-run, and the question
                // answered "Yes": the run is abandoned.
                driver.answerMessage(QMessageBox::Yes);
                subject->close();
                return;
            }
            const double number = w.trendFileNumbers.value(w.currentSoundIndex);
            const double p = 1.0 / (1.0 + std::exp(listener.slope * (number - listener.boundary)));
            ++answered;
            QTest::mouseClick(uniform(random) < p ? tone2 : tone4, Qt::LeftButton);
        });
    });
    connect(&w, &MainWindow::doneDataCollection, &loop, &QEventLoop::quit);
    connect(subject, &SubjectWindow::subjectWindowClosed, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000 + w.trialOrder.size() * 1500, &loop, &QEventLoop::quit);
    QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
    loop.exec();

    if (listener.stopAfter > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(w.isEnabled(), 10000);
        QCOMPARE(answered, listener.stopAfter);
    } else {
        QCOMPARE(answered, w.trialOrder.size());
        QTRY_COMPARE(driver.pending(), 0);
        // "Done" closes the listener's window; the main window comes back.
        driver.answerMessage(QMessageBox::Yes);
        QTest::mouseClick(buttonWithText(subject, QStringLiteral("Done")), Qt::LeftButton);
        QTRY_VERIFY(w.isEnabled());
    }
}

void MainWindowTester::sessionsOverTwoContinua()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    w.lineEditOutputFilePath->setText(dir.filePath(QStringLiteral("results")));

    // Two continua: 11 steps listed by name (step1, step10, step11, step2
    // ...), and 9 voice-onset times.
    const QString steps = dir.filePath(QStringLiteral("tone-steps"));
    QStringList stepNames;
    for (int i = 1; i <= 11; ++i)
        stepNames.append(QStringLiteral("step%1.wav").arg(i));
    makeContinuum(steps, stepNames);
    const QString vot = dir.filePath(QStringLiteral("vot"));
    QStringList votNames;
    for (int i = 1; i <= 9; ++i)
        votNames.append(QStringLiteral("vot%1ms.wav").arg(i * 10));
    makeContinuum(vot, votNames);

    // A first session (practice) opens the way to the experiment sessions.
    QString s01Journal, other, flatJournal, cutJournal;
    const Listener s01Practice{QStringLiteral("S01"), false, 6.0, 1.5, 0, false, 104};
    runSession(w, driver, steps, s01Practice, &other);
    const Listener s01{QStringLiteral("S01"), true, 6.0, 1.5, 0, true, 101};
    runSession(w, driver, steps, s01, &s01Journal);
    const Listener s02{QStringLiteral("S02"), true, 5.0, 1.0, 0, false, 102};
    runSession(w, driver, steps, s02, &other);
    const Listener s03{QStringLiteral("S03"), true, 6.0, 0.0, 0, false, 103};
    runSession(w, driver, steps, s03, &flatJournal);
    const Listener s01Vot{QStringLiteral("S01"), true, 45.0, 0.15, 0, false, 105};
    runSession(w, driver, vot, s01Vot, &other);
    if (QTest::currentTestFailed())
        return;
    const Listener s02Vot{QStringLiteral("S02"), true, 55.0, 0.1, 0, false, 106};
    runSession(w, driver, vot, s02Vot, &other);
    const Listener s04Vot{QStringLiteral("S04"), true, 50.0, 0.12, 40, false, 107};
    runSession(w, driver, vot, s04Vot, &cutJournal);
    if (QTest::currentTestFailed())
        return;

    // The 11 steps: numbered by their names in the journal, the results in
    // listing order, the fit on the steps' own numbers.
    QFile journal(s01Journal);
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QByteArray journalText = journal.readAll();
    QVERIFY(journalText.contains("\n# sound-file numbers\t1\t10\t11\t2\t3\t4\t5\t6\t7\t8\t9\n"));
    QFile results(dir.filePath(QStringLiteral("results/S01_experiment.txt")));
    QVERIFY(results.open(QIODevice::ReadOnly));
    const QList<QByteArray> resultRows = results.readAll().split('\n');
    QVERIFY(resultRows[1].startsWith("step1.wav\t"));
    QVERIFY(resultRows[2].startsWith("step10.wav\t"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("results/S01_experiment_trials.tsv"))));

    QFile summary(summaryPathBeside(s01Journal));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    const QString summaryText = QString::fromUtf8(summary.readAll());
    qInfo("%s", qPrintable(QStringLiteral("S01 on 11 steps:\n") + summaryText));
    QVERIFY(summaryText.startsWith(QLatin1String("# fit\tok\r\n")));
    QVERIFY(summaryText.contains(QLatin1String("# sound-file number\tfrom the file names\r\n")));
    QVERIFY(summaryText.contains(QLatin1String("\r\nstep10.wav\t10\t10\t")));
    double boundary = 0, low = 0, high = 0;
    for (const QString &line : summaryText.split(QStringLiteral("\r\n"))) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields[0] == QLatin1String("# boundary (sound-file number)"))
            boundary = fields[1].toDouble();
        if (fields[0] == QLatin1String("# boundary 95% confidence interval (sound-file number)")) {
            low = fields[1].toDouble();
            high = fields[2].toDouble();
        }
    }
    // The listener's own boundary, 6, within the interval; the interval
    // around the estimate.
    QVERIFY2(low < 6.0 && 6.0 < high, qPrintable(summaryText));
    QVERIFY(low < boundary && boundary < high);

    // The listener at chance: flat, no boundary.
    QFile flatSummary(summaryPathBeside(flatJournal));
    QVERIFY(flatSummary.open(QIODevice::ReadOnly));
    const QString flatText = QString::fromUtf8(flatSummary.readAll());
    qInfo("%s", qPrintable(QStringLiteral("S03 (at chance) on 11 steps:\n") + flatText));
    QVERIFY2(flatText.startsWith(QLatin1String("# fit\tflat: the answers do not change reliably with the sound file\r\n")),
             qPrintable(flatText));
    QVERIFY(!flatText.contains(QLatin1String("boundary")));

    // The run cut short has its journal and no summary.
    QVERIFY(QFile::exists(cutJournal));
    QVERIFY(!QFile::exists(summaryPathBeside(cutJournal)));

    const QString keep = qEnvironmentVariable("TARQUEL_KEEP_RUN_FILES");
    if (!keep.isEmpty()) {
        for (const QString &sub : {QStringLiteral("sessions"), QStringLiteral("results")}) {
            QDir().mkpath(QDir(keep).filePath(sub));
            for (const QFileInfo &info : QDir(dir.filePath(sub)).entryInfoList(QDir::Files))
                QFile::copy(info.filePath(), QDir(QDir(keep).filePath(sub)).filePath(info.fileName()));
        }
    }
}

TARQUEL_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_identificationruns.moc"
