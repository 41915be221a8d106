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
    void fitFollowsAScatteredSteadyClock();
    void fitOfWholeCycleReports();
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

// Reports of a clock running 50 ppm fast, each off by up to 0.1 ms, and one
// in twenty delayed by several milliseconds: the line stays within 0.02 ms
// of the true one, and its slope within 10 ppm (what 150 such reports over
// 3 s can tell).
void StreamClockTest::fitFollowsAScatteredSteadyClock()
{
    const double nominal = 44100.0, actual = 44100.0 * (1 + 50e-6);
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
    QVERIFY(fit.reportsUsed() < fit.reportsInWindow());
    const qint64 t = startNs + 8'000'000'000;
    const double trueFrame = 1000.0 + double(t - startNs) * actual / 1e9;
    QVERIFY(std::abs(double(firstFrameAtOrAfter(line, t)) - trueFrame) < 0.02e-3 * actual + 1);

    fit.restart();
    QVERIFY(!fit.timeline().isValid());
    fit.addReport(t, trueFrame);
    QCOMPARE(fit.timeline().framesPerSecond, nominal);   // one report: the nominal rate through it
}

// A server that counts each 256-frame cycle as read when it starts: reports
// lie from 0 to 256 frames above the device, and now and then one more cycle
// above. The line runs along the bottom of that band, to within 8 frames
// (0.2 ms) from 200 reports.
void StreamClockTest::fitOfWholeCycleReports()
{
    const double rate = 40000.0;
    const qint64 cycle = 256;
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

QTEST_APPLESS_MAIN(StreamClockTest)
#include "tst_streamclock.moc"
