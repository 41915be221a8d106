#include "audio/AudioEngine.h"
#include "audio/StreamClock.h"

#include <QtTest>

#include <cmath>
#include <random>

// The arithmetic that maps stream frames to device times, and the fit that
// smooths timing reports into it.
class StreamClockTest : public QObject
{
    Q_OBJECT

private slots:
    void framesAndTimesAgree_data();
    void framesAndTimesAgree();
    void lateRequestStartsAtTheEarliestFrame();
    void fitFollowsAScatteredSteadyClock_data();
    void fitFollowsAScatteredSteadyClock();
    void fitOfWholeCycleReports_data();
    void fitOfWholeCycleReports();
    void fitRestartsWhenTheTimelineJumps_data();
    void fitRestartsWhenTheTimelineJumps();
    void soundsMovedByAJump_data();
    void soundsMovedByAJump();
};

void StreamClockTest::framesAndTimesAgree_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("originFrame");
    QTest::newRow("40000 Hz") << 40000.0 << 0.0;
    QTest::newRow("44100 Hz, origin between frames") << 44100.0 << 1234.37;
    QTest::newRow("48000 Hz, measured 20 ppm fast") << 48000.96 << -500.5;
    QTest::newRow("384000 Hz, an hour in") << 384000.0 << 1.3824e9;
}

// A request exactly on a frame's time gets that frame; a nanosecond later,
// the next one. The sound's end lies its length after its onset.
void StreamClockTest::framesAndTimesAgree()
{
    QFETCH(double, rate);
    QFETCH(double, originFrame);
    const StreamTimeline timeline{originFrame, 5'000'000'000'000, rate};
    for (qint64 frame : {qint64(originFrame) - 7, qint64(originFrame) + 1, qint64(originFrame) + 987'654}) {
        const qint64 t = timeOfFrame(timeline, frame);
        QCOMPARE(firstFrameAtOrAfter(timeline, t), frame);
        QCOMPARE(firstFrameAtOrAfter(timeline, t + 1), frame + 1);
        QCOMPARE(firstFrameAtOrAfter(timeline, t - 1), frame);
        const SoundPlacement placed = placeSound(timeline, t, frame - 10, 10000);
        QCOMPARE(placed.frame, frame);
        QCOMPARE(placed.onsetNs, t);
        QVERIFY(std::abs(double(placed.endNs - placed.onsetNs) - 10000 * 1e9 / rate) <= 1.0);
    }
    // At 40000 Hz a frame is exactly 25 us.
    const StreamTimeline exact{0.0, 0, 40000.0};
    QCOMPARE(timeOfFrame(exact, 40000), qint64(1'000'000'000));
    QCOMPARE(firstFrameAtOrAfter(exact, 1'000'000'001), qint64(40001));
    QCOMPARE(firstFrameAtOrAfter(exact, 999'975'001), qint64(40000));
}

void StreamClockTest::lateRequestStartsAtTheEarliestFrame()
{
    const StreamTimeline timeline{0.0, 0, 40000.0};
    const SoundPlacement placed = placeSound(timeline, 1'000'000'000, 40400, 400);
    QCOMPARE(placed.frame, qint64(40400));
    QCOMPARE(placed.onsetNs - 1'000'000'000, qint64(10'000'000));   // 10 ms late
    QCOMPARE(placed.endNs, qint64(1'020'000'000));
}

void StreamClockTest::fitFollowsAScatteredSteadyClock_data()
{
    QTest::addColumn<double>("driftPpm");
    QTest::newRow("50 ppm fast") << 50.0;
    QTest::newRow("300 ppm slow") << -300.0;
    QTest::newRow("exact") << 0.0;
}

// Reports of a clock that drifts from the nominal rate, each off by up to
// 0.1 ms, and one in twenty delayed by several milliseconds: the line stays
// within 0.02 ms of the true one, and its slope within 10 ppm (what 150 such
// reports over 3 s can tell).
void StreamClockTest::fitFollowsAScatteredSteadyClock()
{
    QFETCH(double, driftPpm);
    const double nominal = 44100.0, actual = 44100.0 * (1 + driftPpm * 1e-6);
    const qint64 startNs = 77'000'000'000;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitterNs(-100'000, 100'000);
    StreamClockFit fit(nominal);
    for (int i = 0; i < 400; ++i) {
        const qint64 t = startNs + i * 20'000'000LL;
        double positionNs = double(t - startNs) + jitterNs(random);
        if (i % 20 == 7)
            positionNs -= 3'000'000;   // a report that was held up on its way
        fit.addReport(t, 1000.0 + positionNs * actual / 1e9);
    }
    const StreamTimeline line = fit.timeline();
    QVERIFY(std::abs(line.framesPerSecond / actual - 1) < 1e-5);
    QVERIFY(fit.reportsInWindow() < 160);   // only the last 3 s
    QVERIFY(fit.reportsUsed() <= fit.reportsInWindow());
    const qint64 t = startNs + 8'000'000'000;
    const double trueFrame = 1000.0 + double(t - startNs) * actual / 1e9;
    QVERIFY(std::abs(double(firstFrameAtOrAfter(line, t)) - trueFrame) < 0.02e-3 * actual + 1);

    fit.restart();
    QVERIFY(!fit.timeline().isValid());
    fit.addReport(t, trueFrame);
    QCOMPARE(fit.timeline().framesPerSecond, nominal);   // one report: the nominal rate through it
}

void StreamClockTest::fitOfWholeCycleReports_data()
{
    QTest::addColumn<qint64>("cycle");
    QTest::newRow("256 frames") << qint64(256);
    QTest::newRow("1024 frames") << qint64(1024);
    QTest::newRow("2048 frames") << qint64(2048);
}

// A server that counts each cycle as read when it starts: reports lie from 0
// to one cycle above the device, and now and then one more cycle above. The
// line runs along the bottom of that band, to within 8 frames (0.2 ms) from
// 200 reports, whatever the cycle.
void StreamClockTest::fitOfWholeCycleReports()
{
    QFETCH(qint64, cycle);
    const double rate = 40000.0;
    StreamClockFit fit(rate);
    fit.setCycleFrames(cycle);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> stepNs(4'000'000, 6'000'000);
    qint64 t = 1'000'000'000;
    for (int i = 0; i < 300; ++i) {
        t += stepNs(random);
        const double device = double(t) * rate / 1e9;
        double readIndex = std::floor(device / cycle) * cycle + cycle;   // the cycle under way, whole
        if (i % 50 == 9)
            readIndex += cycle;   // now and then the server has read one more
        fit.addReport(t, readIndex);
    }
    const double trueFrame = double(t) * rate / 1e9;
    QVERIFY(std::abs(double(firstFrameAtOrAfter(fit.timeline(), t)) - trueFrame) <= 8.0);
}

void StreamClockTest::fitRestartsWhenTheTimelineJumps_data()
{
    QTest::addColumn<qint64>("stillNs");      // the device stands still this long
    QTest::addColumn<qint64>("jumpNs");       // then plays this much later than before
    QTest::addColumn<qint64>("cycle");        // frames per whole-cycle report; 0: exact reports
    QTest::addColumn<bool>("restarts");
    QTest::newRow("suspended for 1 s") << qint64(1'000'000'000) << qint64(1'000'000'000) << qint64(0) << true;
    QTest::newRow("a graph that restarted 1.1 ms later") << qint64(0) << qint64(1'100'000) << qint64(0) << true;
    QTest::newRow("an underrun of 25 ms") << qint64(0) << qint64(25'000'000) << qint64(0) << true;
    QTest::newRow("a 0.3 ms step, within the fit's tolerance") << qint64(0) << qint64(300'000) << qint64(0) << false;
    QTest::newRow("1024-frame cycles, suspended") << qint64(1'000'000'000) << qint64(1'000'000'000) << qint64(1024)
                                                  << true;
    QTest::newRow("1024-frame cycles, a 100 ms step") << qint64(0) << qint64(100'000'000) << qint64(1024) << true;
}

// Reports every 20 ms of a steady device whose timeline then jumps: within
// jumpReports reports of the new timeline the fit restarts on it and places
// frames to within 0.05 ms (plus a 32nd of a cycle for cycle reports), while reports
// of a device standing still never restart it, and neither does a single
// report off the line.
void StreamClockTest::fitRestartsWhenTheTimelineJumps()
{
    QFETCH(qint64, stillNs);
    QFETCH(qint64, jumpNs);
    QFETCH(qint64, cycle);
    QFETCH(bool, restarts);
    const double rate = 48000.0;
    StreamClockFit fit(rate);
    fit.setCycleFrames(cycle);
    const auto report = [&](qint64 t, qint64 shiftNs) {
        const double device = double(t - shiftNs) * rate / 1e9;
        const double read = cycle > 0 ? std::floor(device / double(cycle)) * double(cycle) + double(cycle) : device;
        return fit.addReport(t, read);
    };
    qint64 t = 2'000'000'000;
    for (int i = 0; i < 100; ++i, t += 20'000'000)
        QCOMPARE(report(t, 0), StreamClockFit::Report::Fitted);
    // One report held up on its way: off the line, then back on it.
    QCOMPARE(fit.addReport(t, double(t - 100'000'000) * rate / 1e9), StreamClockFit::Report::Outlier);
    t += 20'000'000;
    QCOMPARE(report(t, 0), StreamClockFit::Report::Fitted);
    t += 20'000'000;

    // The device stands still: its position stays where it stopped, in
    // reports that now and then come three in a burst (answers to several
    // requests at once), which agree with any line.
    const double stoppedAt = double(t) * rate / 1e9;
    for (qint64 end = t + stillNs; t < end; t += 20'000'000) {
        for (qint64 burst = 0; burst < 3; ++burst)
            QVERIFY(fit.addReport(t + burst * 300'000, stoppedAt) != StreamClockFit::Report::Restarted);
    }

    int restartedAfter = 0;
    for (int i = 1; i <= 10; ++i, t += 20'000'000) {
        if (report(t, jumpNs) == StreamClockFit::Report::Restarted && restartedAfter == 0)
            restartedAfter = i;
    }
    if (!restarts) {
        QCOMPARE(restartedAfter, 0);
        return;
    }
    QVERIFY(restartedAfter > 0 && restartedAfter <= StreamClockFit::jumpReports);
    for (int i = 0; i < 60; ++i, t += 20'000'000)
        report(t, jumpNs);
    const double trueFrame = double(t - jumpNs) * rate / 1e9;
    const double errorFrames = double(firstFrameAtOrAfter(fit.timeline(), t)) - trueFrame;
    QVERIFY2(std::abs(errorFrames) <= 0.05e-3 * rate + 1 + double(cycle) / 32,
             qPrintable(QStringLiteral("off by %1 frames").arg(errorFrames)));
}

void StreamClockTest::soundsMovedByAJump_data()
{
    QTest::addColumn<qint64>("firstFrame");
    QTest::addColumn<qint64>("jumpNs");
    QTest::addColumn<qint64>("onsetMovedNs");
    QTest::addColumn<qint64>("endMovedNs");
    QTest::addColumn<bool>("stalled");
    // A 4000-frame sound at 40000 Hz; the timeline jumps at frame 10000.
    QTest::newRow("played before the jump") << qint64(2000) << qint64(1'000'000'000) << qint64(0) << qint64(0)
                                            << false;
    QTest::newRow("after the jump") << qint64(12000) << qint64(1'000'000'000) << qint64(1'000'000'000)
                                    << qint64(1'000'000'000) << true;
    QTest::newRow("across the jump: only its end moves") << qint64(8000) << qint64(91'000'000) << qint64(0)
                                                         << qint64(91'000'000) << true;
    QTest::newRow("moved 0.3 ms: revised, not a stall") << qint64(12000) << qint64(300'000) << qint64(300'000)
                                                        << qint64(300'000) << false;
}

void StreamClockTest::soundsMovedByAJump()
{
    QFETCH(qint64, firstFrame);
    QFETCH(qint64, jumpNs);
    QFETCH(qint64, onsetMovedNs);
    QFETCH(qint64, endMovedNs);
    QFETCH(bool, stalled);
    const StreamTimeline before{0.0, 0, 40000.0};
    const StreamTimeline after{0.0, jumpNs, 40000.0};
    SoundTiming timing;
    timing.frames = 4000;
    timing.onsetNs = timing.plannedOnsetNs = timing.requestedOnsetNs = timeOfFrame(before, firstFrame);
    timing.endNs = timing.plannedEndNs = timeOfFrame(before, firstFrame + 4000);
    const SoundTiming moved = moveAcrossJump(timing, firstFrame, 10000, after, AudioEngine::revisionToleranceNs);
    QCOMPARE(moved.onsetNs - timing.onsetNs, onsetMovedNs);
    QCOMPARE(moved.endNs - timing.endNs, endMovedNs);
    QCOMPARE(moved.deviceStalled, stalled);
    QCOMPARE(moved.plannedOnsetNs, timing.plannedOnsetNs);
}

QTEST_APPLESS_MAIN(StreamClockTest)
#include "tst_streamclock.moc"
