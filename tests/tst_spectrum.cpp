// The arithmetic behind the charts, without any widget: spectrum sizing, the
// amplitude spectrum and its scale, the waveform's time axis and shown
// extent, and the axis ranges.

#include "stimuli/Spectrum.h"
#include "stimuli/TrialSound.h"

#include <QtTest>

#include <cmath>

namespace {

const double pi = 3.14159265358979323846;

QVector<double> sine(double frequencyHz, double amplitude, int count, double rateHz)
{
    QVector<double> values(count);
    for (int i = 0; i < count; ++i)
        values[i] = amplitude * std::sin(2.0 * pi * frequencyHz * i / rateHz);
    return values;
}

// |X[k]| of samples zero-padded to length, by the definition of the DFT, in
// long double: an independent reference for single bins.
double dftMagnitude(const QVector<double> &samples, int length, int k)
{
    long double re = 0.0L;
    long double im = 0.0L;
    for (int n = 0; n < samples.size(); ++n) {
        // The phase reduced modulo the length first keeps it exact.
        const long double phase = 2.0L * 3.14159265358979323846264338L * ((qint64(k) * n) % length) / length;
        re += samples[n] * std::cos(phase);
        im -= samples[n] * std::sin(phase);
    }
    return double(std::sqrt(re * re + im * im));
}

} // namespace

class SpectrumTest : public QObject
{
    Q_OBJECT

private slots:
    void sizing_data();
    void sizing();
    void nextPowerOfTwoIsExact();
    void sineOnABin();
    void sineBetweenBins();
    void binsMatchTheDefinition();
    void oddCountDividesByHalfRoundedDown();
    void bufferLongerThanSoundIsZeroPadded();
    void displayExtent_data();
    void displayExtent();
    void ranges();
    void pointsToDrawKeepWhatShows();
};

void SpectrumTest::sizing_data()
{
    QTest::addColumn<int>("numSamples");
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("fftLength");
    QTest::addColumn<double>("fftDuration");
    QTest::addColumn<int>("pointCount");

    QTest::newRow("default sound") << 10000 << 40000.0 << 16384 << 0.4096 << 819;
    QTest::newRow("power of two is not doubled") << 8192 << 40000.0 << 8192 << 0.2048 << 409;
    QTest::newRow("one above") << 8193 << 40000.0 << 16384 << 0.4096 << 819;
    QTest::newRow("5 s at 44.1 kHz") << 220500 << 44100.0 << 262144 << 262144 / 44100.0 << 11888;
    // 1024 bins reach 2000 Hz only at 1024 Hz sampling; fewer exist.
    QTest::newRow("clamped to the bins") << 1000 << 1000.0 << 1024 << 1.024 << 512;
    QTest::newRow("two samples") << 2 << 40000.0 << 2 << 0.00005 << 0;
    // A panel rate that is no number reads as 0: nothing to draw, no
    // conversion of infinity to int.
    QTest::newRow("rate 0") << 10000 << 0.0 << 16384 << 0.0 << 0;
}

void SpectrumTest::sizing()
{
    QFETCH(int, numSamples);
    QFETCH(double, rate);
    QFETCH(int, fftLength);
    QFETCH(double, fftDuration);
    QFETCH(int, pointCount);

    const SpectrumSize size = spectrumSize(numSamples, rate, 2000.0);
    QCOMPARE(size.fftLength, fftLength);
    QCOMPARE(size.fftDuration, fftDuration);
    QCOMPARE(size.pointCount, pointCount);
}

void SpectrumTest::nextPowerOfTwoIsExact()
{
    QCOMPARE(nextPowerOfTwo(1), 1);
    QCOMPARE(nextPowerOfTwo(3), 4);
    // Where a logarithm rounds up, a power of two would be doubled.
    for (int bits = 1; bits <= 30; ++bits) {
        QCOMPARE(nextPowerOfTwo(1 << bits), 1 << bits);
        if (bits < 30)
            QCOMPARE(nextPowerOfTwo((1 << bits) + 1), 2 << bits);
        if (bits > 1)
            QCOMPARE(nextPowerOfTwo((1 << bits) - 1), 1 << bits);
    }
}

void SpectrumTest::sineOnABin()
{
    // 1250 Hz is bin 512 of 16384 at 40000 Hz: the whole amplitude lands there.
    QVector<double> frequencies;
    QVector<double> amplitudes;
    amplitudeSpectrum(sine(1250.0, 1.0, 10000, 40000.0), 16384, 40000.0, frequencies, amplitudes);
    QCOMPARE(frequencies.size(), 8192);
    QCOMPARE(amplitudes.size(), 8192);
    QCOMPARE(frequencies[512], 1250.0);
    QVERIFY2(std::fabs(amplitudes[512] - 1.0) < 1e-12, qPrintable(QString::number(amplitudes[512], 'g', 17)));
    QVERIFY2(std::fabs(amplitudes[511] - 0.49) < 0.01, qPrintable(QString::number(amplitudes[511])));
    QVERIFY2(std::fabs(amplitudes[513] - 0.49) < 0.01, qPrintable(QString::number(amplitudes[513])));
    const double resolution = 40000.0 / 16384;
    QCOMPARE(frequencies[1], resolution);
    QCOMPARE(frequencies[8191], 8191 * resolution);
}

void SpectrumTest::sineBetweenBins()
{
    // 1000 Hz falls between bins 409 and 410 and peaks in 410 (1000.98 Hz).
    QVector<double> frequencies;
    QVector<double> amplitudes;
    amplitudeSpectrum(sine(1000.0, 1.0, 10000, 40000.0), 16384, 40000.0, frequencies, amplitudes);
    const int peak = int(std::max_element(amplitudes.cbegin(), amplitudes.cend()) - amplitudes.cbegin());
    QCOMPARE(peak, 410);
    QVERIFY2(std::fabs(amplitudes[peak] - 0.90) < 0.01, qPrintable(QString::number(amplitudes[peak])));
    QVERIFY(std::fabs(frequencies[peak] - 1000.98) < 0.005);
}

void SpectrumTest::binsMatchTheDefinition()
{
    // A mixture with a DC offset, for bins across the whole half spectrum,
    // DC and the last bin included.
    const int count = 3000;
    QVector<double> samples(count);
    for (int n = 0; n < count; ++n)
        samples[n] = 0.25 + 0.5 * std::sin(2 * pi * 0.013 * n) - 0.3 * std::cos(2 * pi * 0.31 * n + 0.4)
            + 0.1 * ((n * 7919) % 101 - 50) / 50.0;
    QVector<double> frequencies;
    QVector<double> amplitudes;
    amplitudeSpectrum(samples, 4096, 8000.0, frequencies, amplitudes);
    for (int k : {0, 1, 53, 1000, 1270, 2047}) {
        const double expected = dftMagnitude(samples, 4096, k) / (count / 2);
        QVERIFY2(std::fabs(amplitudes[k] - expected) < 1e-11,
                 qPrintable(QStringLiteral("bin %1: %2, expected %3").arg(k).arg(amplitudes[k]).arg(expected)));
    }
}

void SpectrumTest::oddCountDividesByHalfRoundedDown()
{
    // A constant 1 over 10001 samples sums to 10001 at DC; half the count,
    // rounded down, is 5000.
    QVector<double> frequencies;
    QVector<double> amplitudes;
    amplitudeSpectrum(QVector<double>(10001, 1.0), 16384, 40000.0, frequencies, amplitudes);
    QVERIFY2(std::fabs(amplitudes[0] - 10001.0 / 5000.0) < 1e-12, qPrintable(QString::number(amplitudes[0], 'g', 17)));
}

void SpectrumTest::bufferLongerThanSoundIsZeroPadded()
{
    // Vectors reused from a longer sound are resized, and the transform's
    // input is padded with zeros, not with the samples of the sound before.
    QVector<double> frequencies(20000, 7.0);
    QVector<double> amplitudes(20000, 7.0);
    amplitudeSpectrum(QVector<double>(4096, 1.0), 4096, 40000.0, frequencies, amplitudes);
    amplitudeSpectrum(QVector<double>(4000, 0.0), 4096, 40000.0, frequencies, amplitudes);
    QCOMPARE(amplitudes, QVector<double>(2048, 0.0));
    QCOMPARE(frequencies.size(), 2048);
}

void SpectrumTest::displayExtent_data()
{
    QTest::addColumn<int>("numSamples");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<int>("shown");
    QTest::addColumn<double>("duration");

    QTest::newRow("as long as the display") << 10000 << true << 10000 << 0.25;
    QTest::newRow("longer, whole sound") << 12000 << true << 12000 << 0.3;
    QTest::newRow("longer, display only") << 12000 << false << 10000 << 0.25;
    QTest::newRow("shorter") << 4000 << false << 4000 << 0.1;
    QTest::newRow("shorter, whole sound") << 4000 << true << 4000 << 0.1;
}

void SpectrumTest::displayExtent()
{
    QFETCH(int, numSamples);
    QFETCH(bool, whole);
    QFETCH(int, shown);
    QFETCH(double, duration);
    const DisplayExtent extent = ::displayExtent(0.25, 40000.0, numSamples, whole);
    QCOMPARE(extent.samples, shown);
    QCOMPARE(extent.durationSeconds, duration);
}

void SpectrumTest::ranges()
{
    QCOMPARE(minMax({0.5, -0.25, 0.75, 0.0}), qMakePair(-0.25, 0.75));
    QCOMPARE(minMax({}), qMakePair(0.0, 0.0));
    QCOMPARE(axisRange({-0.25, 0.75}), qMakePair(-0.25, 0.75));
    // A silent sound: an axis of zero extent cannot be drawn.
    QCOMPARE(axisRange({0.0, 0.0}), qMakePair(-1.0, 1.0));

    // The trend's y axis: at least 0 to 4, stretched by a fifth answer.
    QCOMPARE(trendAxisTop({}), 4.0);
    QCOMPARE(trendAxisTop({0, 4, 2}), 4.0);
    QCOMPARE(trendAxisTop({0, 5, 2}), 5.0);
}

void SpectrumTest::pointsToDrawKeepWhatShows()
{
    // A noisy tone of 10000 samples on 600 columns over 0 .. 250 ms.
    const int count = 10000;
    const int columns = 600;
    QVector<QPointF> all(count);
    for (int i = 0; i < count; ++i)
        all[i] = QPointF(i * 0.025, std::sin(i * 0.07) * 0.5 + ((i * 7919) % 97 - 48) / 480.0);
    QVector<QPointF> drawn;
    pointsToDraw(all, 0.0, 250.0, columns, drawn);
    QVERIFY(drawn.size() <= 4 * columns);

    // In every column the line through the kept points starts and ends where
    // the whole line does and reaches as low and as high: it covers the same
    // pixels. The kept points are points of the line, in their order.
    const auto columnOf = [&](const QPointF &p) {
        return std::min(int(std::floor(p.x() * (columns / 250.0))), columns - 1);
    };
    struct Extent { QPointF first, last; double low = 1e9, high = -1e9; bool seen = false; };
    const auto extents = [&](const QVector<QPointF> &points) {
        QVector<Extent> result(columns);
        for (const QPointF &p : points) {
            Extent &e = result[columnOf(p)];
            if (!e.seen)
                e.first = p;
            e.seen = true;
            e.last = p;
            e.low = std::min(e.low, p.y());
            e.high = std::max(e.high, p.y());
        }
        return result;
    };
    const QVector<Extent> whole = extents(all);
    const QVector<Extent> kept = extents(drawn);
    for (int c = 0; c < columns; ++c) {
        QCOMPARE(kept[c].seen, whole[c].seen);
        QCOMPARE(kept[c].first, whole[c].first);
        QCOMPARE(kept[c].last, whole[c].last);
        QCOMPARE(kept[c].low, whole[c].low);
        QCOMPARE(kept[c].high, whole[c].high);
    }
    for (int i = 1; i < drawn.size(); ++i)
        QVERIFY(drawn[i].x() > drawn[i - 1].x());

    // Up to 4 points a column, every point is kept.
    pointsToDraw(all.mid(0, 4 * columns), 0.0, 250.0, columns, drawn);
    QCOMPARE(drawn, all.mid(0, 4 * columns));
}

QTEST_GUILESS_MAIN(SpectrumTest)
#include "tst_spectrum.moc"
