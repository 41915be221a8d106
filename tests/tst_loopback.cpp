#include "experiment/TrialJournal.h"
#include "loopback/ClickFinder.h"
#include "loopback/ClickTrain.h"
#include "loopback/RecordingTimeline.h"
#include "loopback/TimingCheckAnalysis.h"
#include "loopback/TimingCheckInput.h"
#include "loopback/TimingCheckResult.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTimeZone>
#include <QtTest>

#include <cmath>
#include <numeric>
#include <random>

// The loop-back check's logic against recordings and timing reports made
// here, with known answers: the click train, the click finder, the
// recording's timeline, the delays they give, the result's text and its
// storage.
class LoopbackTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clickShape_data();
    void clickShape();
    void trainIsIrregularEnoughToAlign();
    void clicksAreFound_data();
    void clicksAreFound();
    void timelineFromReports_data();
    void timelineFromReports();
    void delaysOfASimulatedCheck_data();
    void delaysOfASimulatedCheck();
    void statisticsAndJournalLine();
    void resultIsRememberedPerOutput();
    void proposedInput_data();
    void proposedInput();
};

namespace {

constexpr qint64 startNs = 5'000'000'000'000;   // the monotonic clock, some hours in

std::vector<qint64> trainOnsets(qint64 firstNs)
{
    std::vector<qint64> onsets{firstNs};
    for (qint64 gap : ClickTrain::onsetGapsNs(ClickTrain::clickCount))
        onsets.push_back(onsets.back() + gap);
    return onsets;
}

// A recording at rateHz of `seconds`, holding a click of amplitude `level`
// with its first sample at each of clickFrames (between frames, as the
// analogue signal would be sampled), Gaussian noise of SD `noise` and a
// 50 Hz hum of amplitude `hum`.
std::vector<float> makeRecording(double rateHz, double seconds, const std::vector<double> &clickFrames, double level,
                                 double noise, double hum, quint32 seed = 1)
{
    std::vector<float> recording(size_t(seconds * rateHz));
    std::mt19937 engine(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double peakHz = ClickTrain::peakFrequencyHz(40000.0);
    for (size_t n = 0; n < recording.size(); ++n)
        recording[n] = float(noise * gauss(engine) + hum * std::sin(2 * M_PI * 50.0 * double(n) / rateHz));
    const int length = int(ClickTrain::lengthSeconds(peakHz) * rateHz) + 2;
    for (double frame : clickFrames) {
        for (qint64 n = qint64(std::ceil(frame)); n < qint64(frame) + length; ++n) {
            if (n >= 0 && n < qint64(recording.size()))
                recording[size_t(n)] += float(level * ClickTrain::value((double(n) - frame) / rateHz, peakHz));
        }
    }
    return recording;
}

} // namespace

void LoopbackTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"), QStringLiteral("tarquel"))
        .clear();
}

void LoopbackTest::clickShape_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("peakHz");
    QTest::newRow("40000 Hz") << 40000.0 << 2000.0;
    QTest::newRow("44100 Hz") << 44100.0 << 2000.0;
    QTest::newRow("8000 Hz: a sixteenth of the rate") << 8000.0 << 500.0;
}

// The wavelet peaks at 1 (times the amplitude) in its middle, crosses zero
// 1 / (pi f sqrt 2) either side of it, has no DC, and is silent outside
// its 5 / f.
void LoopbackTest::clickShape()
{
    QFETCH(double, rate);
    QFETCH(double, peakHz);
    QCOMPARE(ClickTrain::peakFrequencyHz(rate), peakHz);
    const double middle = 2.5 / peakHz;
    QCOMPARE(ClickTrain::value(middle, peakHz), 1.0);
    const double zero = 1.0 / (M_PI * peakHz * std::sqrt(2.0));
    QVERIFY(std::abs(ClickTrain::value(middle - zero, peakHz)) < 1e-12);
    QVERIFY(std::abs(ClickTrain::value(middle + zero, peakHz)) < 1e-12);
    QCOMPARE(ClickTrain::value(-1e-9, peakHz), 0.0);
    QCOMPARE(ClickTrain::value(5.0 / peakHz + 1e-9, peakHz), 0.0);
    const QVector<float> click = ClickTrain::samples(rate, peakHz, 0.5);
    QCOMPARE(click.size(), int(std::floor(5.0 / peakHz * rate)) + 1);
    const double sum = std::accumulate(click.begin(), click.end(), 0.0);
    const double peak = *std::max_element(click.begin(), click.end());
    QVERIFY(std::abs(sum) < 1e-3 * click.size());
    QVERIFY(peak <= 0.5f && peak > 0.49f);
}

// The gaps lie within 150 to 400 ms and are the same at every check; no
// shift of the train against itself lines up more than a few of its clicks
// (8 of 50, within 2 ms), so that a delay of seconds either way is not
// mistaken.
void LoopbackTest::trainIsIrregularEnoughToAlign()
{
    const std::vector<qint64> gaps = ClickTrain::onsetGapsNs(ClickTrain::clickCount);
    QCOMPARE(int(gaps.size()), ClickTrain::clickCount - 1);
    QCOMPARE(ClickTrain::onsetGapsNs(ClickTrain::clickCount), gaps);
    for (qint64 gap : gaps)
        QVERIFY(gap >= ClickTrain::shortestGapNs && gap <= ClickTrain::longestGapNs);
    const std::vector<qint64> onsets = trainOnsets(0);
    int mostAligned = 0;
    for (size_t i = 0; i < onsets.size(); ++i) {
        for (size_t j = 0; j < onsets.size(); ++j) {
            if (i == j)
                continue;
            const qint64 shift = onsets[j] - onsets[i];
            int aligned = 0;
            for (qint64 onset : onsets) {
                for (qint64 other : onsets)
                    aligned += std::llabs(onset + shift - other) <= 2'000'000 ? 1 : 0;
            }
            mostAligned = std::max(mostAligned, aligned);
        }
    }
    QVERIFY2(mostAligned <= 8, qPrintable(QString::number(mostAligned)));
}

void LoopbackTest::clicksAreFound_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("delaySeconds");
    QTest::addColumn<double>("level");
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("hum");
    QTest::addColumn<int>("everyNth");   // 0: no click recorded; n: every nth click recorded
    QTest::addColumn<double>("toleranceFrames");
    QTest::newRow("clean, at the expected frames") << 48000.0 << 0.0 << 0.5 << 0.0 << 0.0 << 1 << 0.02;
    QTest::newRow("a monitor, 2.2 s early") << 40000.0 << -2.2 << 0.5 << 0.0 << 0.0 << 1 << 0.02;
    QTest::newRow("a line input, 0.9 s late, quiet and inverted, noise 40 dB below")
        << 44100.0 << 0.9 << -0.01 << 0.0001 << 0.0 << 1 << 0.1;
    QTest::newRow("mains hum 30 dB above the clicks, and noise") << 48000.0 << 0.0123 << 0.02 << 0.0005 << 0.6 << 1
                                                                << 0.1;
    QTest::newRow("every third click lost") << 48000.0 << -0.0047 << 0.5 << 0.0001 << 0.0 << 3 << 0.05;
    QTest::newRow("no click, noise only") << 48000.0 << 0.0 << 0.0 << 0.001 << 0.0 << 0 << 0.0;
    QTest::newRow("no click, digital silence") << 48000.0 << 0.0 << 0.0 << 0.0 << 0.0 << 0 << 0.0;
}

// Every click recorded is found, placed to a small fraction of a frame,
// whatever the delay, gain, polarity, noise and hum; none is made up.
void LoopbackTest::clicksAreFound()
{
    QFETCH(double, rate);
    QFETCH(double, delaySeconds);
    QFETCH(double, level);
    QFETCH(double, noise);
    QFETCH(double, hum);
    QFETCH(int, everyNth);
    QFETCH(double, toleranceFrames);
    // Each click off its place by up to 0.3 ms, and between frames.
    std::mt19937 engine(7);
    std::uniform_real_distribution<double> jitter(-0.0003, 0.0003);
    ClickSearch search;
    search.rateHz = rate;
    search.peakHz = ClickTrain::peakFrequencyHz(40000.0);
    search.earliestShiftFrames = -2.5 * rate;
    search.latestShiftFrames = 1.0 * rate;
    search.windowFrames = 0.01 * rate;
    std::vector<double> trueFrames, recorded;
    for (qint64 onset : trainOnsets(3'000'000'000)) {
        search.expectedFrames.push_back(double(onset) * rate / 1e9);
        trueFrames.push_back(search.expectedFrames.back() + (delaySeconds + jitter(engine)) * rate);
        if (everyNth > 0 && (trueFrames.size() - 1) % size_t(everyNth) == 0)
            recorded.push_back(trueFrames.back());
    }
    const ClickSearchResult result = findClicks(makeRecording(rate, 20.0, recorded, level, noise, hum), search);
    QCOMPARE(result.foundCount(), int(recorded.size()));
    for (size_t k = 0; k < result.clicks.size(); ++k) {
        const FoundClick &click = result.clicks[k];
        QCOMPARE(click.found, everyNth > 0 && k % size_t(everyNth) == 0);
        if (!click.found)
            continue;
        QVERIFY2(std::abs(click.frame - trueFrames[k]) <= toleranceFrames,
                 qPrintable(QStringLiteral("click %1 at %2, not %3").arg(k).arg(click.frame).arg(trueFrames[k])));
        QVERIFY(std::abs(click.amplitude - level) <= 0.05 * std::abs(level) + 10 * noise);
    }
}

void LoopbackTest::timelineFromReports_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("ppm");          // the input's clock against the monotonic one
    QTest::addColumn<int>("blockFrames");     // 0: reports place the input exactly
    QTest::addColumn<double>("lateFraction"); // reports held up on their way by up to 5 ms
    QTest::addColumn<double>("jumpMs");       // the timeline jumps this much halfway
    QTest::addColumn<bool>("valid");
    // How well the reports place the timeline: a block arrives some
    // milliseconds before the report that shows it (they come every 2 to
    // 4 ms), which the lowest reports of a window leave to a fraction of a
    // millisecond, and to some ppm over the recording.
    QTest::addColumn<double>("slopePpm");
    QTest::addColumn<double>("placeUs");
    QTest::newRow("a smooth input, 40 ppm fast") << 48000.0 << 40.0 << 0 << 0.0 << 0.0 << true << 0.1 << 1.0;
    QTest::newRow("PipeWire's cycles of 1024 frames, 25 ppm slow")
        << 48000.0 << -25.0 << 1024 << 0.0 << 0.0 << true << 20.0 << 400.0;
    QTest::newRow("a sink's renderings of 400 frames, every fifth report late")
        << 40000.0 << 0.0 << 400 << 0.2 << 0.0 << true << 10.0 << 200.0;
    QTest::newRow("cycles of 2048 frames, a third of the reports late")
        << 44100.0 << 80.0 << 2048 << 0.33 << 0.0 << true << 50.0 << 1000.0;
    QTest::newRow("frames lost halfway: 20 ms") << 48000.0 << 0.0 << 1024 << 0.0 << 20.0 << false << 0.0 << 0.0;
    QTest::newRow("frames added halfway: 20 ms") << 48000.0 << 0.0 << 0 << 0.0 << -20.0 << false << 0.0 << 0.0;
    QTest::newRow("a clock 2000 ppm off") << 48000.0 << 2000.0 << 0 << 0.0 << 0.0 << false << 0.0 << 0.0;
}

// The timeline runs along the reports taken just after a block arrived:
// frame n arrived (was taken in) at its time, exactly for an input whose
// reports are exact, and the slope is the input's clock. A timeline that
// jumped is not taken for one.
void LoopbackTest::timelineFromReports()
{
    QFETCH(double, rate);
    QFETCH(double, ppm);
    QFETCH(int, blockFrames);
    QFETCH(double, lateFraction);
    QFETCH(double, jumpMs);
    QFETCH(bool, valid);
    const double framesPerNs = rate * (1.0 + ppm * 1e-6) / 1e9;
    const auto trueFrameAt = [&](double t) {
        const double frames = (t - double(startNs)) * framesPerNs;
        return t > double(startNs) + 7.5e9 ? frames - jumpMs * 1e-3 * rate : frames;
    };
    std::mt19937 engine(3);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<RecordingReport> reports;
    for (double t = double(startNs); t < double(startNs) + 15e9; t += 2e6 + 2e6 * uniform(engine)) {
        double position = trueFrameAt(t);
        // What has arrived of a block-wise recording: whole blocks only.
        if (blockFrames > 0)
            position = std::floor(position / blockFrames) * blockFrames;
        const double late = uniform(engine) < lateFraction ? 5e6 * uniform(engine) : 0.0;
        reports.push_back({qint64(t + late), position});
    }
    const RecordingTimelineFit fit = fitRecordingTimeline(reports, rate);
    QCOMPARE(fit.valid, valid);
    if (!valid)
        return;
    QFETCH(double, slopePpm);
    QFETCH(double, placeUs);
    const double slopeError = fit.timeline.framesPerSecond / rate - 1.0 - ppm * 1e-6;
    QVERIFY2(std::abs(slopeError) <= slopePpm * 1e-6, qPrintable(QStringLiteral("%1 ppm").arg(slopeError * 1e6)));
    for (double t = double(startNs) + 1e9; t < double(startNs) + 14e9; t += 1e9) {
        // The frame arriving at t is placed a little after t at most: after
        // the block that held it had arrived, and the first report after it.
        const double errorNs = timeOfFrameNs(fit.timeline, trueFrameAt(t)) - t;
        QVERIFY2(errorNs >= -placeUs * 300 && errorNs <= placeUs * 1000,
                 qPrintable(QStringLiteral("%1 us at %2 s").arg(errorNs / 1e3).arg((t - startNs) / 1e9)));
        QVERIFY(std::abs(double(qint64(timeOfFrameNs(fit.timeline, frameAtTime(fit.timeline, qint64(t))))) - t) <= 1.0);
    }
}

void LoopbackTest::delaysOfASimulatedCheck_data()
{
    QTest::addColumn<double>("delayMs");
    QTest::addColumn<double>("jitterMs");   // SD of each click's own delay
    QTest::addColumn<double>("driftPpm");   // the estimates drift against the input's clock
    QTest::newRow("a monitor, 9.5 ms ahead of the output") << -9.5 << 0.02 << 0.0;
    QTest::newRow("a cable, 1.73 ms round trip, 0.2 ms jitter") << 1.73 << 0.2 << 0.0;
    QTest::newRow("estimates drifting 30 ppm against the input") << 1.0 << 0.01 << 30.0;
    QTest::newRow("estimates drifting 200 ppm against the input") << 1.0 << 0.01 << 200.0;
}

// A whole check as the recorder and the engine would give it: a recording
// in PipeWire-sized blocks with its reports, and the engine's estimated
// onsets. The delays come back as put in, less a steady drift within 50 ppm
// of the reports, which the clicks' own rate takes out; a larger drift is
// not believed of the input's clock and shows in the delays.
void LoopbackTest::delaysOfASimulatedCheck()
{
    QFETCH(double, delayMs);
    QFETCH(double, jitterMs);
    QFETCH(double, driftPpm);
    const double rate = 48000.0;
    const qint64 recordingStartNs = startNs;
    std::vector<qint64> onsets = trainOnsets(recordingStartNs + 3'000'000'000);
    std::mt19937 engine(11);
    std::normal_distribution<double> jitter(0.0, jitterMs);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> putIn, clickFrames;
    for (qint64 &onset : onsets) {
        onset += qint64(uniform(engine) * 25'000);   // estimates between frames
        putIn.push_back(delayMs + jitter(engine) + driftPpm * 1e-6 * double(onset - onsets.front()) / 1e6);
        clickFrames.push_back((double(onset - recordingStartNs) + putIn.back() * 1e6) * rate / 1e9);
    }
    CheckRecording recording;
    recording.rateHz = rate;
    recording.samples = makeRecording(rate, 19.0, clickFrames, 0.3, 0.0002, 0.0);
    for (double t = 0.0; t < 19e9; t += 2e6 + 2e6 * uniform(engine))
        recording.reports.push_back({recordingStartNs + qint64(t), std::floor(t * rate / 1e9 / 1024) * 1024});
    TimingCheckDelays delays;
    QString problem;
    QVERIFY2(measureClickDelays(recording, onsets, ClickTrain::peakFrequencyHz(40000.0), &delays, &problem),
             qPrintable(problem));
    QCOMPARE(int(delays.delaysMs.size()), ClickTrain::clickCount);
    // The blocks' timeline is placed a fraction of a millisecond late (the
    // reports come after the blocks), which moves every delay alike. The
    // rate, from the clicks, leaves each click's own delay to a few
    // microseconds, and to a small part of the jitter, of which the rate
    // takes its steady part.
    QCOMPARE(delays.rateFromClicks, driftPpm <= TimingCheckSearch::maxRateDifferencePpm);
    if (driftPpm > 0.0) {
        // The drift goes with the rate, or stays in the delays.
        const double spanMs = delays.delaysMs.back() - delays.delaysMs.front();
        QVERIFY2(delays.rateFromClicks ? std::abs(spanMs) < 0.1 : spanMs > 2.0, qPrintable(QString::number(spanMs)));
        return;
    }
    const double meanIn = std::accumulate(putIn.begin(), putIn.end(), 0.0) / double(putIn.size());
    const double meanOut = std::accumulate(delays.delaysMs.begin(), delays.delaysMs.end(), 0.0) / double(putIn.size());
    QVERIFY2(meanOut - meanIn >= -0.05 && meanOut - meanIn <= 0.5, qPrintable(QString::number(meanOut - meanIn)));
    for (size_t k = 0; k < putIn.size(); ++k) {
        const double error = (delays.delaysMs[k] - meanOut) - (putIn[k] - meanIn);
        QVERIFY2(std::abs(error) < 0.005 + 0.3 * jitterMs,
                 qPrintable(QStringLiteral("click %1: %2 ms").arg(k).arg(error)));
    }

    // The same recording without its reports places nothing.
    recording.reports.resize(10);
    QVERIFY(!measureClickDelays(recording, onsets, ClickTrain::peakFrequencyHz(40000.0), &delays, &problem));
    QCOMPARE(problem, QStringLiteral("the audio server sent too few timing reports of the recording (0)"));
}

// Mean, sample SD (n - 1), min and max, and the journal's line in its
// exact form, written only for a result.
void LoopbackTest::statisticsAndJournalLine()
{
    TimingCheckResult result;
    result.time = QDateTime(QDate(2026, 12, 7), QTime(12, 36, 48), QTimeZone(3600));
    result.output = QStringLiteral("alsa_output.usb-Booth");
    result.input = QStringLiteral("alsa_input.usb-Booth.analog-stereo");
    result.played = 50;
    setDelayStatistics(result, {1.0, 2.0, 3.0, 4.0});
    QCOMPARE(result.found, 4);
    QCOMPARE(result.meanMs, 2.5);
    QVERIFY(std::abs(result.sdMs - std::sqrt(5.0 / 3.0)) < 1e-12);
    QCOMPARE(result.minMs, 1.0);
    QCOMPARE(result.maxMs, 4.0);
    setDelayStatistics(result, {-9.5});
    QCOMPARE(result.sdMs, 0.0);
    setDelayStatistics(result, {-9.5123, -9.4877});

    JournalHeader header;
    header.loopbackCheck = result;
    // Among the header's lines, before the column names.
    const QByteArray text = journalHeaderText(header);
    const int line = text.indexOf(
        "\n# loop-back check\t2026-12-07T12:36:48+01:00\talsa_input.usb-Booth.analog-stereo\tmean -9.500 ms\t"
        "SD 0.017 ms\tmin -9.512 ms\tmax -9.488 ms\t2 of 50 clicks\n");
    QVERIFY(line > text.indexOf("\n# audio output\t"));
    QVERIFY(line < text.indexOf("\ntrial\t"));
    header.loopbackCheck = TimingCheckResult();
    QVERIFY(!journalHeaderText(header).contains("loop-back"));
}

// The last result of each output is remembered, under the output's name
// whatever characters it holds; another output has none.
void LoopbackTest::resultIsRememberedPerOutput()
{
    QVERIFY(!anyTimingCheckStored());
    TimingCheckResult result;
    result.time = QDateTime(QDate(2026, 3, 1), QTime(9, 5, 0), QTimeZone(-5 * 3600));
    result.output = QStringLiteral("alsa_output/odd\\name [1]");
    result.input = QStringLiteral("alsa_output/odd\\name [1].monitor");
    result.throughMonitor = true;
    result.played = 50;
    result.sinkLatencyMs = 10.0;
    setDelayStatistics(result, {-9.3, -9.4, -9.35});
    storeTimingCheck(result);
    QVERIFY(anyTimingCheckStored());
    const TimingCheckResult back = storedTimingCheck(result.output);
    QCOMPARE(timingCheckJournalFields(back), timingCheckJournalFields(result));
    QCOMPARE(timingCheckReportText(back), timingCheckReportText(result));
    QVERIFY(timingCheckReportText(back).contains(QStringLiteral("about minus that latency, not 0")));
    QVERIFY(!storedTimingCheck(QStringLiteral("alsa_output")).isValid());
    QVERIFY(!storedTimingCheck(QString()).isValid());
}

void LoopbackTest::proposedInput_data()
{
    QTest::addColumn<QString>("lastInput");
    QTest::addColumn<bool>("withLineInput");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("proposed");
    const QString booth = QStringLiteral("alsa_output.booth");
    QTest::newRow("the input of the output's last check") << QStringLiteral("alsa_input.mic") << true << booth
                                                          << QStringLiteral("alsa_input.mic");
    QTest::newRow("a line input, which a cable feeds") << QString() << true << booth
                                                       << QStringLiteral("alsa_input.card");
    QTest::newRow("no line input: the output's monitor") << QStringLiteral("gone") << false << booth
                                                          << QStringLiteral("alsa_output.booth.monitor");
    QTest::newRow("no monitor of that output: the first input") << QString() << false
                                                                << QStringLiteral("alsa_output.other")
                                                                << QStringLiteral("alsa_output.speakers.monitor");
}

void LoopbackTest::proposedInput()
{
    QFETCH(QString, lastInput);
    QFETCH(bool, withLineInput);
    QFETCH(QString, output);
    QFETCH(QString, proposed);
    QVector<AudioInputDescription> inputs{
        {QStringLiteral("alsa_output.speakers.monitor"), QStringLiteral("Monitor of Speakers"),
         QStringLiteral("alsa_output.speakers"), QString(), 48000},
        {QStringLiteral("alsa_input.mic"), QStringLiteral("Microphone"), QString(),
         QStringLiteral("analog-input-mic"), 48000},
        {QStringLiteral("alsa_output.booth.monitor"), QStringLiteral("Monitor of Booth"),
         QStringLiteral("alsa_output.booth"), QString(), 48000},
    };
    if (withLineInput) {
        inputs.append({QStringLiteral("alsa_input.card"), QStringLiteral("Line In"), QString(),
                       QStringLiteral("analog-input-linein"), 44100});
    }
    QCOMPARE(proposedTimingCheckInput(inputs, output, lastInput), proposed);
    QCOMPARE(proposedTimingCheckInput({}, output, lastInput), QString());
}

QTEST_GUILESS_MAIN(LoopbackTest)
#include "tst_loopback.moc"
