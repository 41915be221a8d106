#include "SinkCapture.h"
#include "SoundFinder.h"
#include "TestSupport.h"

#include "app/MainWindow.h"
#include "app/NoticeArea.h"
#include "calibration/CalibrationDialog.h"
#include "analysis/Identification.h"
#include "calibration/Calibration.h"
#include "experiment/TrialOrder.h"
#include "experiment/TrialPlayer.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
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
// recorded and compared with the files: sample for sample where the server
// plays them at their own rate, by cross-correlation where it resamples them
// (TARQUEL_TEST_STIMULUS_RATE and TARQUEL_TEST_SINK_RATE set the two rates;
// both 40000 Hz unless set). The timing of every sound is judged from where
// it lies in the recording: in a Release build, the journal's onsets, ends
// and reaction times must hold to within 2 ms of it either way, for an engine
// that knows the device's timing.
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void practiceThenExperiment();
    void deviceStallsMidRun();
    void outputDeviceWatchedDuringARun();
    void calibrationToneAndLevels();

private:
    struct Run
    {
        QVector<qint64> referenceNs;       // "I am ready" or the answer the trial's delay counts from
        QVector<qint64> requestedOnsetNs;  // reference + sound + silent interval
        std::vector<SoundTiming> timings;  // the engine's estimates, as the buttons came on
        QVector<qint64> buttonsOnNs;       // soundPlaying(-1)
        QVector<qint64> clickNs;           // just before each answer's click
        QVector<qint64> clickDoneNs;       // when the click had been handled
        QVector<bool> buttonsDisabledWhilePlaying;
        QVector<bool> buttonsEnabledAfterSound;
        QStringList progressTexts;
        QVector<int> answers;
    };

    void makeFolder(const QString &folder, int files, int samplesPerFile);
    // A practice session on a new folder `name` of chirps, its journal in a
    // folder of its own; returns the stimulus folder.
    QString startPractice(MainWindow &w, ModalDriver &driver, const QString &name, int files, int samplesPerFile);
    void keepRunFiles(const QString &folder);
    void runSession(MainWindow &w, ModalDriver &driver, Run &run, int answerDelayMs,
                    std::function<void(int answered)> afterAnswer = {});
    // Checks every sound of the run against the recording; returns the
    // trials whose sound was off its journal times by more than
    // stallToleranceMs (0: none allowed).
    void checkCapture(MainWindow &w, const Run &run, const QString &folder, qint64 fromIndex, const char *label,
                      double stallToleranceMs = 0.0, int stallAfterTrial = 0);

    QTemporaryDir dir;
    SinkCapture capture;
    bool haveAudio = false;
    int stimulusRate = 40000;
    int sinkRate = 40000;
};

void MainWindowTester::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the private audio server of scripts/with-audio-server.sh");
    QVERIFY(dir.isValid());
    stimulusRate = qEnvironmentVariableIntValue("TARQUEL_TEST_STIMULUS_RATE");
    if (stimulusRate <= 0)
        stimulusRate = 40000;
    sinkRate = qEnvironmentVariableIntValue("TARQUEL_TEST_SINK_RATE");
    if (sinkRate <= 0)
        sinkRate = stimulusRate;
    QVERIFY(capture.start(dir.filePath(QStringLiteral("capture.fifo")), sinkRate));
    haveAudio = true;
}

void MainWindowTester::cleanupTestCase()
{
    if (haveAudio)
        capture.stop();
}

// Chirps whose samples are all non-zero, so that each sound stands out from
// the silence around it in the recording as one unbroken run, and is found to
// a fraction of a sample by cross-correlation where it was resampled (a pure
// tone could lock a whole period off).
void MainWindowTester::makeFolder(const QString &folder, int files, int samplesPerFile)
{
    QVERIFY(QDir().mkpath(folder));
    for (int f = 0; f < files; ++f) {
        const double rate = stimulusRate, length = samplesPerFile / rate;
        const double from = 300.0 + 100 * f, to = 4000.0 + 500 * f;   // Hz
        QVector<qint16> frames(samplesPerFile);
        for (int i = 0; i < samplesPerFile; ++i) {
            const double s = i / rate;
            const double phase = 2 * M_PI * (from * s + 0.5 * (to - from) / length * s * s);
            const qint16 v = qint16(std::lround(6000 * std::cos(phase)));
            frames[i] = v == 0 ? qint16(f + 1) : v;
        }
        QVERIFY(writeWav16(QDir(folder).filePath(QStringLiteral("s%1.wav").arg(f + 1)), frames,
                           quint32(stimulusRate)));
    }
}

// From "Go" to the last answer, clicking as the listener would: "I am ready",
// then an answer a little after every sound has ended.
QString MainWindowTester::startPractice(MainWindow &w, ModalDriver &driver, const QString &name, int files,
                                       int samplesPerFile)
{
    w.trialOrderSeedFixed = true;
    w.trialOrderSeed = referenceTrialOrderSeed;
    w.trialJournalFolder = dir.filePath(name + QStringLiteral("-sessions"));
    const QString folder = dir.filePath(name);
    makeFolder(folder, files, samplesPerFile);
    driver.chooseFolder(folder);
    QTest::mouseClick(w.pushButtonPractice, Qt::LeftButton);
    return folder;
}

void MainWindowTester::runSession(MainWindow &w, ModalDriver &driver, Run &run, int answerDelayMs,
                                  std::function<void(int answered)> afterAnswer)
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
        run.timings.push_back(w.trialPlayer->timing());
        run.buttonsEnabledAfterSound.append(tone2->isEnabled() && tone4->isEnabled());
        QTimer::singleShot(answerDelayMs, &context, [&] {
            const int trial = run.answers.size();
            const int answer = (trial % 3 == 1) ? 4 : 2;
            run.answers.append(answer);
            run.progressTexts.append(w.lineEditStatus->text());
            run.clickNs.append(nowNs());
            QTest::mouseClick(answer == 2 ? tone2 : tone4, Qt::LeftButton);
            run.clickDoneNs.append(nowNs());
            if (afterAnswer)
                afterAnswer(run.answers.size());
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

void MainWindowTester::checkCapture(MainWindow &w, const Run &run, const QString &folder, qint64 fromIndex,
                                    const char *label, double stallToleranceMs, int stallAfterTrial)
{
    // Give the server time to render the last sound into the recording.
    QTest::qWait(300);
    const std::vector<float> recorded = capture.samples();
    const bool resampled = sinkRate != stimulusRate;

    QVector<std::vector<float>> expected;
    for (const SoundFileRecord &record : std::as_const(w.settings.soundFiles)) {
        WavFile file;
        QVERIFY(file.read(QDir(folder).filePath(record.fileName).toStdString()));
        std::vector<float> values;
        for (quint32 i = 0; i < file.sampleCount; ++i)
            values.push_back(float(file.decodedSamples[i]));
        expected.append(values);
    }

    // The journal's rows, and what its notes say of each trial.
    QFile journal(w.trialJournal.filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVector<double> journalReactionMs, journalOnsetMs, journalEndMs;
    QHash<int, double> journalStartLostMs;   // trial -> the start it says may not have been played
    QSet<int> stallNoted;                    // trials whose sound a stall of the device moved
    const QRegularExpression startLostNote(QStringLiteral("^# trial (\\d+): the first ([0-9.]+) ms of .* may not have been played"));
    const QRegularExpression stallNote(QStringLiteral("^# trial (\\d+): the output device stalled"));
    for (const QString &line : QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch note = startLostNote.match(line);
        if (note.hasMatch())
            journalStartLostMs.insert(note.captured(1).toInt(), note.captured(2).toDouble());
        const QRegularExpressionMatch stall = stallNote.match(line);
        if (stall.hasMatch())
            stallNoted.insert(stall.captured(1).toInt());
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (line.startsWith(QLatin1Char('#')) || fields.size() < 9 || fields[0] == QLatin1String("trial"))
            continue;
        journalReactionMs.append(fields[3].toDouble());
        journalOnsetMs.append(fields[5].toDouble());
        journalEndMs.append(fields[6].toDouble());
    }
    const int trials = w.trialOrder.size();
    QCOMPARE(journalReactionMs.size(), trials);

    // Where each sound lies in the recording, between samples.
    QVector<double> onsetIndex, endIndex;
    int startsLost = 0;
    if (resampled) {
        const auto regions = SoundFinder::soundRegions(recorded, fromIndex, 1e-4f, sinkRate / 500);
        const auto describeRegions = [&] {
            // Where each stretch of sound lies, how long and how loud it is,
            // so that a failure explains itself.
            QStringList lines;
            for (const auto &region : regions) {
                float peak = 0.0f;
                for (qint64 i = region.first; i < region.second; ++i)
                    peak = std::max(peak, std::abs(recorded[size_t(i)]));
                lines << QStringLiteral("at %1 ms, %2 samples, peak %3")
                             .arg((capture.renderTimeNs(region.first) - w.runStartNs) / 1e6, 0, 'f', 2)
                             .arg(region.second - region.first)
                             .arg(double(peak), 0, 'g', 3);
            }
            QStringList onsets;
            for (double v : std::as_const(journalOnsetMs))
                onsets << QString::number(v, 'f', 2);
            return QStringLiteral("%1 stretches of sound from capture index %2 (%3 recorded):\n%4\njournal onsets (ms): %5")
                .arg(regions.size())
                .arg(fromIndex)
                .arg(recorded.size())
                .arg(lines.join(QLatin1Char('\n')), onsets.join(QLatin1Char(' ')));
        };
        QVERIFY2(int(regions.size()) == trials, qPrintable(describeRegions()));
        for (int k = 0; k < trials; ++k) {
            const SoundFinder::Found found = SoundFinder::locate(recorded, expected[w.trialOrder[k]], stimulusRate,
                                                                 sinkRate, regions[size_t(k)].first + 16, 64);
            if (found.correlation <= 0.999)
                qWarning("%s: %s", label, qPrintable(describeRegions()));
            // The server's resampler, against an ideal one: the whole sound,
            // nothing else.
            QVERIFY2(found.correlation > 0.999, qPrintable(QStringLiteral("trial %1: correlation %2")
                                                               .arg(k + 1)
                                                               .arg(found.correlation)));
            onsetIndex.append(found.onsetIndex);
            endIndex.append(found.endIndex);
        }
    } else {
        const auto runs = SinkCapture::nonZeroRuns(recorded, fromIndex);
        if (int(runs.size()) != trials) {
            // Which sounds ran together or went missing, with what the
            // journal says of them, so that a failure explains itself.
            QStringList lengths;
            for (const auto &r : runs)
                lengths << QString::number(r.second - r.first);
            qWarning("%s: %d stretches of sound for %d trials; their lengths: %s; journal onsets (ms): %s", label,
                     int(runs.size()), trials, qPrintable(lengths.join(QLatin1Char(' '))),
                     qPrintable([&] {
                         QStringList onsets;
                         for (double v : std::as_const(journalOnsetMs))
                             onsets << QString::number(v, 'f', 2);
                         return onsets.join(QLatin1Char(' '));
                     }()));
        }
        QCOMPARE(int(runs.size()), trials);
        for (int k = 0; k < trials; ++k) {
            const std::vector<float> &want = expected[w.trialOrder[k]];
            const qint64 first = runs[size_t(k)].first, length = runs[size_t(k)].second - first;
            if (length != qint64(want.size())) {
                // Which part reached the device says what went wrong: a lost
                // start was written where the server had already read.
                const auto heard = recorded.begin() + first;
                const bool startLost = length < qint64(want.size()) && std::equal(heard, heard + length, want.end() - length);
                const bool endLost = length < qint64(want.size()) && std::equal(heard, heard + length, want.begin());
                // A start lost on a busy computer is allowed only where the
                // journal says so, and no more of it than the journal says.
                const double saidMs = journalStartLostMs.value(k + 1, 0.0);
                if (startLost && (qint64(want.size()) - length) <= std::lround(saidMs * stimulusRate / 1000.0)) {
                    ++startsLost;
                    qWarning("%s: trial %d: the first %d samples were not played, as the journal says", label, k + 1,
                             int(want.size() - length));
                    onsetIndex.append(double(first - (qint64(want.size()) - length)));
                    endIndex.append(double(runs[size_t(k)].second));
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
            QVERIFY(std::equal(want.begin(), want.end(), recorded.begin() + first));
            onsetIndex.append(double(first));
            endIndex.append(double(runs[size_t(k)].second));
        }
    }

    QVector<double> onsetMs, reactionMs, buttonsMs, onsetEstimateMs, endEstimateMs, latencyMs;
    int earlyEstimates = 0, buttonsBeforeEstimate = 0, stalledTrials = 0;
    QStringList offBounds;
    const double gapMs = w.settings.silentInterval * 1000.0;
    for (int k = 0; k < trials; ++k) {
        const qint64 trueOnsetNs = capture.renderTimeNs(onsetIndex[k]);
        const qint64 trueEndNs = capture.renderTimeNs(endIndex[k]);
        const double soundMs = double(expected[w.trialOrder[k]].size()) * 1000.0 / stimulusRate;
        const double onsetOff = journalOnsetMs[k] - (trueOnsetNs - w.runStartNs) / 1e6;
        const double endOff = journalEndMs[k] - (trueEndNs - w.runStartNs) / 1e6;
        const double reactionOff = journalReactionMs[k] - (run.clickNs[k] - trueEndNs) / 1e6;
        const double buttonsOff = (run.buttonsOnNs[k] - trueEndNs) / 1e6;
        if (stallToleranceMs > 0 && k + 1 > stallAfterTrial
            && (std::abs(onsetOff) > stallToleranceMs || std::abs(endOff) > stallToleranceMs)) {
            // After a stall: right to within the tolerance, or said.
            QVERIFY2(stallNoted.contains(k + 1),
                     qPrintable(QStringLiteral("trial %1: %2 ms off the journal's onset, %3 ms off its end, and "
                                               "the journal says nothing of a stall")
                                    .arg(k + 1)
                                    .arg(onsetOff)
                                    .arg(endOff)));
            ++stalledTrials;
            continue;
        }
        onsetMs.append((trueOnsetNs - run.referenceNs[k]) / 1e6 - (soundMs + gapMs));
        reactionMs.append(reactionOff);
        buttonsMs.append(buttonsOff);
        onsetEstimateMs.append(onsetOff);
        endEstimateMs.append(endOff);
        latencyMs.append(run.timings[size_t(k)].latencyNs / 1e6);
        if (run.timings[size_t(k)].onsetNs < run.requestedOnsetNs[k])
            ++earlyEstimates;
        if (run.buttonsOnNs[k] < run.timings[size_t(k)].endNs)
            ++buttonsBeforeEstimate;
        // Two-sided: 2 ms either way holds on a loaded machine, and a timing
        // off by half a graph cycle (10 ms and more) fails. The program takes
        // the answer somewhere within the click, which this test stamps on
        // both sides; a machine that stalls this thread in between only
        // widens the reaction time's allowance on the late side.
        const double clickMs = (run.clickDoneNs[k] - run.clickNs[k]) / 1e6;
        if (std::abs(onsetOff) > 2.0 || std::abs(endOff) > 2.0 || reactionOff < -2.0 || reactionOff > 2.0 + clickMs
            || buttonsOff < -1.0) {
            offBounds << QStringLiteral("trial %1: journal onset %2 ms, end %3 ms, reaction time %4 ms off the "
                                       "recording; buttons on %5 ms after the end")
                             .arg(k + 1)
                             .arg(onsetOff, 0, 'f', 3)
                             .arg(endOff, 0, 'f', 3)
                             .arg(reactionOff, 0, 'f', 3)
                             .arg(buttonsOff, 0, 'f', 3);
        }
    }

    qInfo("%s: %d trials, %s, except the starts of %d sound(s) the journal names; %d stretch(es) of recording; "
          "%d trial(s) moved by a stall, as the journal says",
          label, trials, resampled ? "every sound found whole (correlation > 0.999)" : "every sample played",
          startsLost, capture.stretchCount(), stalledTrials);
    const auto report = [label](const char *what, const QVector<double> &values) {
        const Stats s = stats(values);
        qInfo("%s: %s: mean %.3f ms, sd %.3f, min %.3f, max %.3f", label, what, s.mean, s.sd, s.min, s.max);
        return s;
    };
    report("(a) first sample at the sink - (answer + sound + interval)", onsetMs);
    report("(b) journal reaction time - (answer - end at the sink)", reactionMs);
    report("(c) buttons on - end at the sink", buttonsMs);
    report("(d) journal onset - onset at the sink", onsetEstimateMs);
    report("(e) journal end - end at the sink", endEstimateMs);
    report("output latency", latencyMs);

    QCOMPARE(earlyEstimates, 0);
    QCOMPARE(buttonsBeforeEstimate, 0);
    // An engine that knows the device's timing is held to it; Qt's output
    // does not know it, and a build slowed down by the sanitizers cannot
    // keep it.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    const QString backend = w.trialPlayer->engine()->outputInfo().backend;
    if (backend == QLatin1String("libpulse") || backend == QLatin1String("libpipewire"))
        QVERIFY2(offBounds.isEmpty(), qPrintable(offBounds.join(QLatin1Char('\n'))));
#endif
    for (const QString &line : std::as_const(offBounds))
        qInfo("%s: %s", label, qPrintable(line));
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

    keepRunFiles(QStringLiteral("results"));
    keepRunFiles(QStringLiteral("sessions"));
}

// With TARQUEL_KEEP_RUN_FILES=DIR, a run's journals, summaries and results
// are kept in DIR, where a person can look at them.
void MainWindowTester::keepRunFiles(const QString &folder)
{
    const QString keep = qEnvironmentVariable("TARQUEL_KEEP_RUN_FILES");
    if (keep.isEmpty())
        return;
    QDir().mkpath(keep);
    for (const QFileInfo &info : QDir(dir.filePath(folder)).entryInfoList(QDir::Files))
        QFile::copy(info.filePath(), QDir(keep).filePath(info.fileName()));
}

// The output device stalls for a second in the middle of a run (its sink is
// suspended, then resumed): every later trial is then either right to within
// 1 ms, or said to have been moved in the journal, and the buttons never come
// on before the sound has ended.
void MainWindowTester::deviceStallsMidRun()
{
    MainWindow w;
    if (w.trialPlayer->engine()->outputInfo().backend == QLatin1String("Qt Multimedia")
        || qEnvironmentVariable("TARQUEL_AUDIO_BACKEND") == QLatin1String("qt"))
        QSKIP("Qt's output knows nothing of the device's timing");
    w.show();
    ModalDriver driver;
    const QString folder = startPractice(w, driver, QStringLiteral("stall"), 4, stimulusRate / 10);
    w.lineEditSilentInterval->setText(QStringLiteral("300"));
    w.checkBoxSaveData->setChecked(false);
    const qint64 start = qint64(capture.samples().size());
    Run run;
    const int stallAfter = 4;
    runSession(w, driver, run, 40, [](int answered) {
        if (answered == stallAfter) {
            QProcess::startDetached(QStringLiteral("sh"),
                                    {QStringLiteral("-c"), QStringLiteral("pactl suspend-sink tarquel_capture 1; "
                                                                          "sleep 1; pactl suspend-sink tarquel_capture 0")});
        }
    });
    if (QTest::currentTestFailed())
        return;
    checkCapture(w, run, folder, start, "stall", 1.0, stallAfter);
    keepRunFiles(QStringLiteral("stall-sessions"));
    driver.answerMessage(QMessageBox::Yes);
    QTest::mouseClick(buttonWithText(w.subjectWindow, QStringLiteral("Done")), Qt::LeftButton);
}

// The output device's volume is turned down in the middle of a run: the
// journal's header has the device's state at "Go", a note before the next
// answer's row says what changed, and the main window says so at once. A
// muted device starts no run.
void MainWindowTester::outputDeviceWatchedDuringARun()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    startPractice(w, driver, QStringLiteral("level"), 3, stimulusRate / 20);
    w.lineEditSilentInterval->setText(QStringLiteral("200"));
    w.checkBoxSaveData->setChecked(false);

    const auto pactl = [](const QStringList &arguments) { QProcess::execute(QStringLiteral("pactl"), arguments); };
    pactl({QStringLiteral("set-sink-mute"), QStringLiteral("tarquel_capture"), QStringLiteral("1")});
    driver.answerMessage(QMessageBox::Ok);
    QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
    pactl({QStringLiteral("set-sink-mute"), QStringLiteral("tarquel_capture"), QStringLiteral("0")});
    QCOMPARE(driver.pending(), 0);
    QVERIFY2(driver.seen.last().text.contains(QStringLiteral("is muted")), qPrintable(driver.seen.last().text));
    QVERIFY(!w.runActive && w.isEnabled());

    Run run;
    runSession(w, driver, run, 40, [&](int answered) {
        if (answered == 3)
            pactl({QStringLiteral("set-sink-volume"), QStringLiteral("tarquel_capture"), QStringLiteral("60%")});
    });
    pactl({QStringLiteral("set-sink-volume"), QStringLiteral("tarquel_capture"), QStringLiteral("100%")});
    if (QTest::currentTestFailed())
        return;
    QFile journal(w.trialJournal.filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(journal.readAll());
    const QRegularExpression volume(QStringLiteral("\n# output device volume\t(\\S+) 100 % \\(0\\.00 dB\\)\n"));
    const QRegularExpressionMatch header = volume.match(text);
    QVERIFY2(header.hasMatch(), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("\n# output device muted\tno\n")));
    const QString channel = header.captured(1);
    const QRegularExpression note(QStringLiteral("\n# trial (\\d+): the output device's volume changed from ")
                                  + channel + QStringLiteral(" 100 % \\(0\\.00 dB\\) to ") + channel
                                  + QStringLiteral(" 60 % \\(-13\\.31 dB\\)\n(\\d+)\t"));
    const QRegularExpressionMatch noted = note.match(text);
    QVERIFY2(noted.hasMatch(), qPrintable(text));
    QCOMPARE(noted.captured(1), noted.captured(2));   // before the row of the trial it names
    QVERIFY(noted.captured(1).toInt() >= 4);
    QVERIFY(w.noticeArea->notices().join(QLatin1Char('\n')).contains(QStringLiteral("volume changed from")));
    keepRunFiles(QStringLiteral("level-sessions"));
    driver.answerMessage(QMessageBox::Yes);
    QTest::mouseClick(buttonWithText(w.subjectWindow, QStringLiteral("Done")), Qt::LeftButton);
}

// "Calibrate level" plays 1000 Hz at -20 dBFS RMS through the output, as
// the recording shows; the reading stored for the output gives the next
// run's summary its levels in dB SPL.
void MainWindowTester::calibrationToneAndLevels()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    startPractice(w, driver, QStringLiteral("calibration"), 3, stimulusRate / 20);

    const qint64 from = qint64(capture.samples().size());
    driver.handle([](QWidget *widget) {
        auto *dialog = qobject_cast<CalibrationDialog *>(widget);
        if (!dialog)
            return false;
        dialog->toneButton()->click();
        // Played for 1.5 s, then stopped; the meter said 84.0 dB SPL.
        QTimer::singleShot(1500, dialog, [dialog] {
            dialog->toneButton()->click();
            dialog->firstReading()->setValue(84.0);
            dialog->save();
            dialog->reject();
        });
        return true;
    });
    w.calibrateLevel();
    QCOMPARE(driver.pending(), 0);
    QTest::qWait(300);

    // The tone in the recording: its middle second, away from its edges.
    const std::vector<float> recorded = capture.samples();
    const auto regions = SoundFinder::soundRegions(recorded, from, 1e-4f, sinkRate / 100);
    QCOMPARE(int(regions.size()), 1);
    const qint64 length = regions.front().second - regions.front().first;
    QVERIFY2(length > sinkRate, qPrintable(QString::number(length)));
    const qint64 first = regions.front().first + sinkRate / 10;
    const qint64 count = sinkRate;
    std::vector<double> middle(recorded.begin() + first, recorded.begin() + first + count);
    const double rms = rmsDbfs(middle.data(), count);
    QVERIFY2(std::abs(rms - (-20.0)) < 0.05, qPrintable(QString::number(rms)));
    int rising = 0;
    for (qint64 i = 1; i < count; ++i) {
        if (middle[size_t(i - 1)] < 0.0 && middle[size_t(i)] >= 0.0)
            ++rising;
    }
    QVERIFY2(std::abs(rising - 1000) <= 1, qPrintable(QString::number(rising)));

    w.lineEditSilentInterval->setText(QStringLiteral("100"));
    w.checkBoxSaveData->setChecked(false);
    Run run;
    runSession(w, driver, run, 20);
    if (QTest::currentTestFailed())
        return;
    QFile summary(summaryPathBeside(w.trialJournal.filePath()));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(summary.readAll()).split(QStringLiteral("\r\n"));
    const int header = lines.indexOf(QRegularExpression(QStringLiteral("^sound file\t.*")));
    QVERIFY(header >= 0);
    const QStringList columns = lines[header].split(QLatin1Char('\t'));
    const int rmsColumn = columns.indexOf(QStringLiteral("RMS (dBFS)"));
    const int levelColumn = columns.indexOf(QStringLiteral("level (dB SPL)"));
    QVERIFY(rmsColumn > 0 && levelColumn == rmsColumn + 1);
    for (int i = header + 1; i < header + 4; ++i) {
        const QStringList fields = lines[i].split(QLatin1Char('\t'));
        // The chirps are 6000 / 32768 in amplitude: about -17.8 dBFS.
        const double fileRms = fields[rmsColumn].toDouble();
        QVERIFY2(fileRms > -19.0 && fileRms < -17.0, qPrintable(lines[i]));
        QVERIFY(std::abs(fields[levelColumn].toDouble() - (84.0 + fileRms + 20.0)) < 1e-6);
    }
    QFile journal(w.trialJournal.filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVERIFY(journal.readAll().contains("\n# calibration\t1000 Hz at -20.0 dBFS RMS\t84.0 dB SPL\tA\t"));
    keepRunFiles(QStringLiteral("calibration-sessions"));
    driver.answerMessage(QMessageBox::Yes);
    QTest::mouseClick(buttonWithText(w.subjectWindow, QStringLiteral("Done")), Qt::LeftButton);
}

TARQUEL_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_endtoend.moc"
