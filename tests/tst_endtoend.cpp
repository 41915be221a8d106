#include "TestSupport.h"

#include "app/MainWindow.h"
#include "experiment/TrialOrder.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cmath>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Records what the audio server mixes: a pipe sink made the default output,
// read from its FIFO on a thread. The sink is paced by the system clock, so
// the capture index of a sample tells when the server rendered it.
class SinkCapture
{
public:
    bool start(const QString &fifo, int rate)
    {
        sampleRate = rate;
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"),
                    {QStringLiteral("load-module"), QStringLiteral("module-pipe-sink"),
                     QStringLiteral("file=") + fifo, QStringLiteral("sink_name=tarquel_capture"),
                     QStringLiteral("format=float32le"), QStringLiteral("rate=%1").arg(rate),
                     QStringLiteral("channels=1"), QStringLiteral("use_system_clock_for_timing=yes")});
        if (!pactl.waitForFinished() || pactl.exitCode() != 0)
            return false;
        moduleIndex = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed();
        if (QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("set-default-sink"),
                                                        QStringLiteral("tarquel_capture")}) != 0)
            return false;
        fd = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        running = true;
        reader = std::thread([this] { readLoop(); });
        return true;
    }

    void stop()
    {
        running = false;
        if (reader.joinable())
            reader.join();
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!moduleIndex.isEmpty())
            QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("unload-module"), moduleIndex});
        moduleIndex.clear();
    }

    std::vector<float> samples() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return captured;
    }

    // When the sample at `index` was rendered, on the steady clock: every
    // read happens at or after its data was written, so the earliest
    // (read time - samples so far / rate) is the best estimate of the start.
    qint64 renderTimeNs(qint64 index) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return originNs + index * 1000000000LL / sampleRate;
    }

private:
    void readLoop()
    {
        std::vector<char> chunk(16384);
        std::vector<char> pending;
        while (running) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd, chunk.data(), chunk.size());
            const qint64 t = nowNs();
            if (n <= 0)
                continue;
            pending.insert(pending.end(), chunk.begin(), chunk.begin() + n);
            const size_t whole = pending.size() / 4 * 4;
            std::lock_guard<std::mutex> lock(mutex);
            const size_t first = captured.size();
            captured.resize(first + whole / 4);
            std::memcpy(captured.data() + first, pending.data(), whole);
            pending.erase(pending.begin(), pending.begin() + long(whole));
            const qint64 origin = t - qint64(captured.size()) * 1000000000LL / sampleRate;
            if (originNs == 0 || origin < originNs)
                originNs = origin;
        }
    }

    int sampleRate = 40000;
    QString moduleIndex;
    int fd = -1;
    std::atomic<bool> running{false};
    std::thread reader;
    mutable std::mutex mutex;
    std::vector<float> captured;
    qint64 originNs = 0;
};

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
        QVector<qint64> readyOrAnswerNs;   // when each trial's delay began
        QVector<qint64> startNs;           // soundPlaying(1)
        QVector<double> handOverErrorMs;   // sound handed to the output - its scheduled time
        QVector<qint64> endNs;             // soundPlaying(-1): the reaction clock starts
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
            run.startNs.append(nowNs());
            run.handOverErrorMs.append(w.soundHandedOverMs - (w.settings.soundDuration + w.settings.silentInterval) * 1000.0);
            run.buttonsDisabledWhilePlaying.append(!tone2->isEnabled() && !tone4->isEnabled());
            return;
        }
        run.endNs.append(nowNs());
        run.buttonsEnabledAfterSound.append(tone2->isEnabled() && tone4->isEnabled());
        QTimer::singleShot(answerDelayMs, &context, [&] {
            const int trial = run.answers.size();
            const int answer = (trial % 3 == 1) ? 4 : 2;
            run.answers.append(answer);
            run.progressTexts.append(w.lineEditStatus->text());
            run.readyOrAnswerNs.append(nowNs());
            QTest::mouseClick(answer == 2 ? tone2 : tone4, Qt::LeftButton);
        });
    });
    QSignalSpy done(&w, &MainWindow::doneDataCollection);

    run.readyOrAnswerNs.append(nowNs());
    QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
    const int trials = w.trialOrder.size();
    QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, 30000 + trials * 1500);
    QCOMPARE(run.answers.size(), trials);
    QCOMPARE(run.startNs.size(), trials);
    QCOMPARE(run.endNs.size(), trials);
    QCOMPARE(done.first().at(1).toDouble(), 1.23);
}

void MainWindowTester::checkCapture(MainWindow &w, const Run &run, const QString &folder,
                                    qint64 fromIndex, const char *label)
{
    // Give the server time to render the last sound into the recording.
    QTest::qWait(300);
    const std::vector<float> recorded = capture.samples();

    // One unbroken run of non-zero samples per trial.
    QVector<QPair<qint64, qint64>> sounds;
    for (qint64 i = fromIndex; i < qint64(recorded.size());) {
        if (recorded[size_t(i)] == 0.0f) {
            ++i;
            continue;
        }
        qint64 end = i;
        while (end < qint64(recorded.size()) && recorded[size_t(end)] != 0.0f)
            ++end;
        sounds.append({i, end});
        i = end;
    }
    QCOMPARE(sounds.size(), w.trialOrder.size());

    QVector<QVector<float>> expected;
    for (const SoundFileRecord &record : qAsConst(w.settings.soundFiles)) {
        WavFile file;
        QVERIFY(file.read(QDir(folder).filePath(record.fileName).toStdString()));
        QVector<float> values;
        for (quint32 i = 0; i < file.sampleCount; ++i)
            values.append(float(file.decodedSamples[i]));
        expected.append(values);
    }

    QVector<double> endOffsetsMs, renderedOnsetMs;
    const double gapMs = w.settings.silentInterval * 1000.0;
    for (int k = 0; k < sounds.size(); ++k) {
        const QVector<float> &want = expected[w.trialOrder[k]];
        const qint64 length = sounds[k].second - sounds[k].first;
        QVERIFY2(length == want.size(), qPrintable(QStringLiteral("trial %1: %2 of %3 samples")
                                                       .arg(k + 1).arg(length).arg(want.size())));
        QVERIFY(std::equal(want.begin(), want.end(), recorded.begin() + sounds[k].first));

        // The reaction clock starts after the server rendered the last sample.
        const double endOffset = (run.endNs[k] - capture.renderTimeNs(sounds[k].second)) / 1e6;
        endOffsetsMs.append(endOffset);
        const double soundMs = want.size() / 40.0;
        renderedOnsetMs.append((capture.renderTimeNs(sounds[k].first) - run.readyOrAnswerNs[k]) / 1e6
                               - (soundMs + gapMs));
    }

    const Stats end = stats(endOffsetsMs), onset = stats(run.handOverErrorMs), rendered = stats(renderedOnsetMs);
    qInfo("%s: %d trials, every sample played", label, int(sounds.size()));
    qInfo("%s: reaction clock start - end of sound rendered at the sink: mean %.2f ms, sd %.2f, min %.2f, max %.2f",
          label, end.mean, end.sd, end.min, end.max);
    qInfo("%s: sound handed to the output - (answer + duration + interval): mean %.2f ms, sd %.2f, min %.2f, max %.2f",
          label, onset.mean, onset.sd, onset.min, onset.max);
    qInfo("%s: first sample rendered - (answer + duration + interval): mean %.2f ms, sd %.2f, min %.2f, max %.2f",
          label, rendered.mean, rendered.sd, rendered.min, rendered.max);
    QStringList handOver;
    for (double e : run.handOverErrorMs)
        handOver.append(QString::number(e, 'f', 2));
    const int late = int(std::count_if(run.handOverErrorMs.begin(), run.handOverErrorMs.end(),
                                       [](double e) { return e > 1.0; }));
    qInfo("%s: %d of %d sounds handed over more than 1 ms late; first errors (ms): %s", label, late,
          int(run.handOverErrorMs.size()), qPrintable(handOver.mid(0, 12).join(QLatin1Char(' '))));
    QVERIFY2(end.min > -2.0, "the reaction clock started before the sound had reached the server's output");
    QVERIFY2(onset.min > -0.01, "a sound was handed over before its time");
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
    // A debug or sanitizer build loads and draws several times slower than
    // the program runs; its timing is reported above, not judged.
    Q_UNUSED(late)
    return;
#endif
    // On an idle machine every sound is on time to a tenth of a millisecond.
    // A test machine shared with compilers can hold the event loop up for a
    // few milliseconds now and then, so only the bulk of the sounds is held
    // to the millisecond here; the figures above are what to look at.
    QVERIFY2(late <= std::max(2, int(run.handOverErrorMs.size()) / 5), "more than a fifth of the sounds were late");
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
    for (const SoundFileRecord &record : qAsConst(w.settings.soundFiles))
        QCOMPARE(record.nT2 + record.nT4, 40);
    checkCapture(w, experiment, experimentFolder, experimentStart, "experiment");

    // Keep one real journal and results file where a person can look at them.
    const QString keep = qEnvironmentVariable("TARQUEL_KEEP_RUN_FILES");
    if (!keep.isEmpty()) {
        QDir().mkpath(keep);
        QFile::copy(resultsPath, QDir(keep).filePath(QFileInfo(resultsPath).fileName()));
        for (const QFileInfo &info : QDir(dir.filePath(QStringLiteral("sessions"))).entryInfoList(QDir::Files))
            QFile::copy(info.filePath(), QDir(keep).filePath(info.fileName()));
    }
}

TARQUEL_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_endtoend.moc"
