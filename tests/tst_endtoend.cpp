#include "SinkCapture.h"
#include "TestSupport.h"

#include "app/MainWindow.h"
#include "analysis/Identification.h"
#include "experiment/TrialOrder.h"
#include "experiment/TrialPlayer.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

qint64 nowNs()
{
    return SinkCapture::nowNs();
}

struct Stats
{
    double mean = 0, sd = 0, min = 0, max = 0;
};

Stats stats(const QVector<double> &values)
{
    Stats s;
    if (values.isEmpty())
        return s;
    s.min = s.max = values.first();
    for (double v : values) {
        s.mean += v;
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
    }
    s.mean /= values.size();
    for (double v : values)
        s.sd += (v - s.mean) * (v - s.mean);
    s.sd = std::sqrt(s.sd / values.size());
    return s;
}

} // namespace

// Whole sessions as a person runs them, with the audio server's output
// recorded and compared with the files sample for sample.
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void practiceThenExperiment();

private:
    struct Run
    {
        QVector<qint64> referenceNs;       // "I am ready" or the answer the trial's delay counts from
        QVector<qint64> requestedOnsetNs;  // reference + sound + silent interval
        QVector<SoundTiming> timings;      // the engine's estimates, as the buttons came on
        QVector<qint64> buttonsOnNs;       // soundPlaying(-1)
        QVector<qint64> clickNs;           // just before each answer's click
        QVector<bool> buttonsDisabledWhilePlaying;
        QVector<bool> buttonsEnabledAfterSound;
        QStringList progressTexts;
        QVector<int> answers;
    };

    void makeFolder(const QString &folder, int files, int samplesPerFile);
    void runSession(MainWindow &w, ModalDriver &driver, Run &run, int answerDelayMs);
    void checkCapture(MainWindow &w, const Run &run, const QString &folder, qint64 fromIndex,
                      const char *label);

    QTemporaryDir dir;
    SinkCapture capture;
    bool haveAudio = false;
};

void MainWindowTester::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the private audio server of scripts/with-audio-server.sh");
    QVERIFY(dir.isValid());
    QVERIFY(capture.start(dir.filePath(QStringLiteral("capture.fifo")), 40000));
    haveAudio = true;
}

void MainWindowTester::cleanupTestCase()
{
    if (haveAudio)
        capture.stop();
}

// Files whose samples are all non-zero, so that each sound stands out from
// the silence around it in the recording as one unbroken run.
void MainWindowTester::makeFolder(const QString &folder, int files, int samplesPerFile)
{
    QVERIFY(QDir().mkpath(folder));
    for (int f = 0; f < files; ++f) {
        QVector<qint16> frames(samplesPerFile);
        for (int i = 0; i < samplesPerFile; ++i) {
            qint16 v = qint16(std::lround(6000 * std::sin(2 * M_PI * (300.0 + 170 * f) * i / 40000.0)));
            frames[i] = v == 0 ? qint16(f + 1) : v;
        }
        QVERIFY(writeWav16(QDir(folder).filePath(QStringLiteral("s%1.wav").arg(f + 1)), frames, 40000));
    }
}

// From "Go" to the last answer, clicking as the listener would: "I am ready",
// then an answer a little after every sound has ended.
void MainWindowTester::runSession(MainWindow &w, ModalDriver &driver, Run &run, int answerDelayMs)
{
    Q_UNUSED(driver)
    QVERIFY(w.pushButtonGo->isEnabled());
    QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
    SubjectWindow *subject = w.subjectWindow;
    QVERIFY(subject && subject->isVisible() && subject->isEnabled());
    QPushButton *tone2 = buttonWithText(subject, QStringLiteral("Tone 2"));
    QPushButton *tone4 = buttonWithText(subject, QStringLiteral("Tone 4"));
    QVERIFY(tone2 && tone4);

    QObject context;
    connect(&w, &MainWindow::soundPlaying, &context, [&](int index) {
        if (index == 1) {
            run.referenceNs.append(w.soundReferenceNs);
            run.requestedOnsetNs.append(w.scheduledOnsetNs);
            run.buttonsDisabledWhilePlaying.append(!tone2->isEnabled() && !tone4->isEnabled());
            return;
        }
        run.buttonsOnNs.append(nowNs());
        run.timings.append(w.trialPlayer->timing());
        run.buttonsEnabledAfterSound.append(tone2->isEnabled() && tone4->isEnabled());
        QTimer::singleShot(answerDelayMs, &context, [&] {
            const int trial = run.answers.size();
            const int answer = (trial % 3 == 1) ? 4 : 2;
            run.answers.append(answer);
            run.progressTexts.append(w.lineEditStatus->text());
            run.clickNs.append(nowNs());
            QTest::mouseClick(answer == 2 ? tone2 : tone4, Qt::LeftButton);
        });
    });
    QSignalSpy done(&w, &MainWindow::doneDataCollection);

    // The run goes on in an event loop of its own, as in the program: the
    // test's own waiting (QTRY_*) sleeps 10 ms between turns, which would
    // hold every timer of the run up by as much.
    QEventLoop loop;
    connect(&w, &MainWindow::doneDataCollection, &loop, &QEventLoop::quit);
    const int trials = w.trialOrder.size();
    QTimer::singleShot(30000 + trials * 1500, &loop, &QEventLoop::quit);
    QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
    loop.exec();
    QCOMPARE(done.count(), 1);
    QCOMPARE(run.answers.size(), trials);
    QCOMPARE(run.requestedOnsetNs.size(), trials);
    QCOMPARE(run.buttonsOnNs.size(), trials);
    // The run's mean reaction time, over the answers the journal holds.
    QCOMPARE(done.first().at(1).toDouble(), meanReactionTimeMs(w.runAnswers));
    QVERIFY(done.first().at(1).toDouble() > 0.0);
}

void MainWindowTester::checkCapture(MainWindow &w, const Run &run, const QString &folder,
                                    qint64 fromIndex, const char *label)
{
    // Give the server time to render the last sound into the recording.
    QTest::qWait(300);
    const std::vector<float> recorded = capture.samples();

    // One unbroken run of non-zero samples per trial.
    QVector<QPair<qint64, qint64>> sounds;
    for (const auto &run : SinkCapture::nonZeroRuns(recorded, fromIndex))
        sounds.append({run.first, run.second});
    QCOMPARE(sounds.size(), w.trialOrder.size());

    QVector<QVector<float>> expected;
    for (const SoundFileRecord &record : std::as_const(w.settings.soundFiles)) {
        WavFile file;
        QVERIFY(file.read(QDir(folder).filePath(record.fileName).toStdString()));
        QVector<float> values;
        for (quint32 i = 0; i < file.sampleCount; ++i)
            values.append(float(file.decodedSamples[i]));
        expected.append(values);
    }

    // The journal's reaction times and onset estimates, trial by trial.
    QFile journal(w.trialJournal.filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVector<double> journalReactionMs, journalOnsetMs;
    QHash<int, double> journalStartLostMs;   // trial -> the start it says may not have been played
    const QRegularExpression startLostNote(QStringLiteral("^# trial (\\d+): the first ([0-9.]+) ms of .* may not have been played"));
    for (const QString &line : QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch note = startLostNote.match(line);
        if (note.hasMatch())
            journalStartLostMs.insert(note.captured(1).toInt(), note.captured(2).toDouble());
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (line.startsWith(QLatin1Char('#')) || fields.size() < 9 || fields[0] == QLatin1String("trial"))
            continue;
        journalReactionMs.append(fields[3].toDouble());
        journalOnsetMs.append(fields[5].toDouble());
    }
    QCOMPARE(journalReactionMs.size(), sounds.size());

    QVector<double> onsetMs, reactionMs, buttonsMs, estimateMs, latencyMs;
    int earlyEstimates = 0, buttonsBeforeEstimate = 0, startsLost = 0;
    const double gapMs = w.settings.silentInterval * 1000.0;
    for (int k = 0; k < sounds.size(); ++k) {
        const QVector<float> &want = expected[w.trialOrder[k]];
        const qint64 length = sounds[k].second - sounds[k].first;
        if (length != want.size()) {
            // Which part reached the device says what went wrong: a lost
            // start was written where the server had already read.
            const auto heard = recorded.begin() + sounds[k].first;
            const bool startLost = length < want.size() && std::equal(heard, heard + length, want.end() - length);
            const bool endLost = length < want.size() && std::equal(heard, heard + length, want.begin());
            // A start lost on a busy computer is allowed only where the
            // journal says so, and no more of it than the journal says.
            const double saidMs = journalStartLostMs.value(k + 1, 0.0);
            if (startLost && (want.size() - length) <= std::lround(saidMs * 40.0)) {
                ++startsLost;
                qWarning("%s: trial %d: the first %d samples were not played, as the journal says", label,
                         k + 1, int(want.size() - length));
                continue;
            }
            QFAIL(qPrintable(QStringLiteral("trial %1: %2 of %3 samples (%4)")
                                 .arg(k + 1)
                                 .arg(length)
                                 .arg(want.size())
                                 .arg(startLost ? QStringLiteral("its start is missing")
                                                : endLost ? QStringLiteral("its end is missing")
                                                          : QStringLiteral("not a part of the sound"))));
        }
        QVERIFY(std::equal(want.begin(), want.end(), recorded.begin() + sounds[k].first));

        const qint64 trueOnsetNs = capture.renderTimeNs(sounds[k].first);
        const qint64 trueEndNs = capture.renderTimeNs(sounds[k].second);
        const double soundMs = want.size() / 40.0;
        // (a) onset against answer + sound + interval
        onsetMs.append((trueOnsetNs - run.referenceNs[k]) / 1e6 - (soundMs + gapMs));
        // (b) the journal's reaction time against the answer's time from the true end
        reactionMs.append(journalReactionMs[k] - (run.clickNs[k] - trueEndNs) / 1e6);
        // (c) the buttons against the true end
        buttonsMs.append((run.buttonsOnNs[k] - trueEndNs) / 1e6);
        // (d) the journal's onset estimate against the true onset
        estimateMs.append(journalOnsetMs[k] - (trueOnsetNs - w.runStartNs) / 1e6);
        latencyMs.append(run.timings[k].latencyNs / 1e6);
        if (run.timings[k].onsetNs < run.requestedOnsetNs[k])
            ++earlyEstimates;
        if (run.buttonsOnNs[k] < run.timings[k].endNs)
            ++buttonsBeforeEstimate;
    }

    qInfo("%s: %d trials, every sample played, except the starts of %d sound(s) the journal names; %d "
          "stretch(es) of recording", label, int(sounds.size()), startsLost, capture.stretchCount());
    const auto report = [label](const char *what, const QVector<double> &values) {
        const Stats s = stats(values);
        qInfo("%s: %s: mean %.3f ms, sd %.3f, min %.3f, max %.3f", label, what, s.mean, s.sd, s.min, s.max);
        return s;
    };
    const Stats onset = report("(a) first sample at the sink - (answer + sound + interval)", onsetMs);
    report("(b) journal reaction time - (answer - end at the sink)", reactionMs);
    const Stats buttons = report("(c) buttons on - end at the sink", buttonsMs);
    report("(d) journal onset - onset at the sink", estimateMs);
    report("output latency", latencyMs);

    QCOMPARE(earlyEstimates, 0);
    QCOMPARE(buttonsBeforeEstimate, 0);
    // The recording places a sample on the clock to within its reader's
    // wake-up; a millisecond covers that on a loaded machine. A recording
    // whose timeline has a gap (PipeWire's sink skips a block now and then)
    // cannot tell time that well across it.
    if (capture.stretchCount() > 1)
        return;
    QVERIFY2(onset.min > -1.0, "a sound reached the sink before its time");
    QVERIFY2(buttons.min > -1.0, "the answer buttons came on before the sound had ended at the sink");
}

void MainWindowTester::practiceThenExperiment()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    w.trialOrderSeedFixed = true;
    w.trialOrderSeed = referenceTrialOrderSeed;
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    w.lineEditSubCode->setText(QStringLiteral("S07"));
    w.lineEditOutputFilePath->setText(dir.filePath(QStringLiteral("results")));

    // Practice: 3 files of 100 ms, 3 repetitions, results saved.
    const QString practiceFolder = dir.filePath(QStringLiteral("practice"));
    makeFolder(practiceFolder, 3, 4000);
    driver.chooseFolder(practiceFolder);
    QTest::mouseClick(w.pushButtonPractice, Qt::LeftButton);
    QCOMPARE(w.trialOrder, (QVector<qint32>{0, 1, 2, 0, 1, 0, 2, 1, 2}));
    w.lineEditSilentInterval->setText(QStringLiteral("300"));
    w.checkBoxSaveData->setChecked(true);
    const QString resultsPath = dir.filePath(QStringLiteral("results/S07_practice_1.txt"));
    driver.chooseSavePath(resultsPath);

    const qint64 practiceStart = qint64(capture.samples().size());
    Run practice;
    runSession(w, driver, practice, 40);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(practice.buttonsDisabledWhilePlaying.count(true) == 9);
    QVERIFY(practice.buttonsEnabledAfterSound.count(true) == 9);
    for (int k = 0; k < 9; ++k)
        QCOMPARE(practice.progressTexts[k], QStringLiteral("practice %1/9").arg(k + 1));
    QVector<int> nT2(3), nT4(3);
    for (int k = 0; k < 9; ++k)
        (practice.answers[k] == 2 ? nT2 : nT4)[w.trialOrder[k]]++;
    for (int f = 0; f < 3; ++f) {
        QCOMPARE(w.settings.soundFiles[f].nT2, nT2[f]);
        QCOMPARE(w.settings.soundFiles[f].nT4, nT4[f]);
    }
    QTRY_COMPARE(driver.pending(), 0);
    QVERIFY(QFile::exists(resultsPath));

    // The identification summary, beside the results and beside the
    // journal, the same bytes in both.
    QFile summary(dir.filePath(QStringLiteral("results/S07_practice_1_summary.tsv")));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    const QByteArray summaryBytes = summary.readAll();
    QFile journalSummary(summaryPathBeside(w.trialJournal.filePath()));
    QVERIFY(journalSummary.open(QIODevice::ReadOnly));
    QCOMPARE(journalSummary.readAll(), summaryBytes);
    const QList<QByteArray> summaryLines = summaryBytes.split('\n');
    QVERIFY(summaryLines.first().startsWith("# fit\t"));
    QVERIFY(summaryBytes.contains("\r\ns1.wav\t1\t3\t" + QByteArray::number(nT2[0]) + "\t"));
    checkCapture(w, practice, practiceFolder, practiceStart, "practice");

    // The listener closes the window with "Done"; the experimenter gets the
    // main window back, with "Experiment" now available.
    driver.answerMessage(QMessageBox::Yes);
    QTest::mouseClick(buttonWithText(w.subjectWindow, QStringLiteral("Done")), Qt::LeftButton);
    QTRY_VERIFY(w.isEnabled());
    QVERIFY(w.pushButtonExperiment->isEnabled());
    QVERIFY(!w.pushButtonGo->isEnabled());

    // Experiment: 5 files of 10 ms, 40 repetitions, a short silent interval.
    const QString experimentFolder = dir.filePath(QStringLiteral("experiment"));
    makeFolder(experimentFolder, 5, 400);
    driver.chooseFolder(experimentFolder);
    QTest::mouseClick(w.pushButtonExperiment, Qt::LeftButton);
    QCOMPARE(w.trialOrder.size(), 200);
    w.lineEditSilentInterval->setText(QStringLiteral("30"));
    w.checkBoxSaveData->setChecked(false);
    const qint64 experimentStart = qint64(capture.samples().size());
    Run experiment;
    runSession(w, driver, experiment, 5);
    if (QTest::currentTestFailed())
        return;
    for (const SoundFileRecord &record : std::as_const(w.settings.soundFiles))
        QCOMPARE(record.nT2 + record.nT4, 40);
    checkCapture(w, experiment, experimentFolder, experimentStart, "experiment");

    // Keep one real journal and results file where a person can look at them.
    const QString keep = qEnvironmentVariable("TARQUEL_KEEP_RUN_FILES");
    if (!keep.isEmpty()) {
        QDir().mkpath(keep);
        for (const QFileInfo &info : QDir(dir.filePath(QStringLiteral("results"))).entryInfoList(QDir::Files))
            QFile::copy(info.filePath(), QDir(keep).filePath(info.fileName()));
        for (const QFileInfo &info : QDir(dir.filePath(QStringLiteral("sessions"))).entryInfoList(QDir::Files))
            QFile::copy(info.filePath(), QDir(keep).filePath(info.fileName()));
    }
}

TARQUEL_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_endtoend.moc"
