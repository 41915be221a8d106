#include "stimuli/Spectrum.h"

#include "FFTReal/FFTReal.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

qint32 nextPowerOfTwo(qint32 n)
{
    qint32 length = 1;
    while (length < n && length <= (1 << 29))
        length <<= 1;
    return length;
}

SpectrumSize spectrumSize(qint32 numSamples, double samplingRateHz, double maxFrequencyHz)
{
    SpectrumSize size;
    size.fftLength = nextPowerOfTwo(numSamples);
    // A rate of 0 (a panel text that is no number) would make the duration
    // infinite; no bin is drawn then.
    if (!(samplingRateHz > 0.0))
        return size;
    size.fftDuration = size.fftLength / samplingRateHz;
    // Bin k lies at k / fftDuration Hz, so fftDuration * maxFrequency bins
    // reach up to maxFrequency. Clamped before the conversion to int.
    const double bins = std::min(size.fftDuration * maxFrequencyHz, double(size.fftLength / 2));
    size.pointCount = static_cast<qint32>(std::max(bins, 0.0));
    return size;
}

void amplitudeSpectrum(const QVector<double> &samples, qint32 fftLength, double samplingRateHz,
                       QVector<double> &frequencies, QVector<double> &amplitudes)
{
    const qint32 bins = fftLength / 2;
    frequencies.resize(bins);
    amplitudes.resize(bins);
    if (bins == 0)
        return;

    // The transform of the last length used and its two arrays are kept from
    // call to call: for a long sound, fresh memory and fresh tables cost more
    // than the transform itself (about 40 ms against 4 for 5 s at 44.1 kHz). One
    // set per thread, so that no call sees another's arrays.
    struct Analysis
    {
        std::unique_ptr<FFTReal<double>> fft;
        std::vector<double> x;
        std::vector<double> f;
    };
    // Transforms longer than keptFftLength are made for the call and freed
    // after it: kept, one long sound would hold hundreds of megabytes for the
    // rest of the process.
    constexpr qint32 keptFftLength = 1 << 20;
    thread_local Analysis kept;
    Analysis once;
    Analysis &analysis = fftLength <= keptFftLength ? kept : once;
    if (!analysis.fft || analysis.x.size() != size_t(fftLength)) {
        analysis.fft.reset();
        analysis.fft = std::make_unique<FFTReal<double>>(fftLength);
        analysis.x.assign(size_t(fftLength), 0.0);
        analysis.f.assign(size_t(fftLength), 0.0);
    }
    std::vector<double> &x = analysis.x;
    const std::vector<double> &f = analysis.f;
    const qint32 copied = std::min<qint32>(samples.size(), fftLength);
    std::copy_n(samples.cbegin(), copied, x.begin());
    std::fill(x.begin() + copied, x.end(), 0.0);  // zero padding
    analysis.fft->forward_fft(analysis.f.data(), x.data());

    const double resolutionHz = samplingRateHz / fftLength;
    // Half the sample count in integer division, as the amplitude of a sine is
    // |X[k]| / (n / 2). A sound of one sample would divide by 0; stimuli have
    // at least two, and the guard keeps the arithmetic finite regardless.
    const double divisor = double(std::max<qint64>(samples.size() / 2, 1));
    frequencies[0] = 0.0;
    amplitudes[0] = std::fabs(f[0]) / divisor;
    for (qint32 k = 1; k < bins; ++k) {
        frequencies[k] = k * resolutionHz;
        const double re = f[k];
        const double im = f[bins + k];  // the sign of the packed imaginary part does not matter here
        amplitudes[k] = std::sqrt(re * re + im * im) / divisor;
    }
}

void pointsToDraw(const QVector<QPointF> &points, double xFrom, double xTo, int columns,
                  QVector<QPointF> &drawn)
{
    const int count = points.size();
    if (columns < 1 || count <= 4 * qint64(columns) || !(xTo > xFrom)) {
        drawn = points;
        return;
    }
    const double perUnit = columns / (xTo - xFrom);
    const auto columnOf = [&](double x) {
        return int(std::clamp(std::floor((x - xFrom) * perUnit), 0.0, double(columns - 1)));
    };

    drawn.clear();
    drawn.reserve(4 * columns);
    int i = 0;
    while (i < count) {
        const int column = columnOf(points[i].x());
        int kept[4] = {i, i, i, i};  // first, lowest, highest, last
        for (++i; i < count && columnOf(points[i].x()) == column; ++i) {
            if (points[i].y() < points[kept[1]].y())
                kept[1] = i;
            if (points[i].y() > points[kept[2]].y())
                kept[2] = i;
            kept[3] = i;
        }
        std::sort(kept, kept + 4);
        for (int k = 0; k < 4; ++k) {
            if (k == 0 || kept[k] != kept[k - 1])
                drawn.append(points[kept[k]]);
        }
    }
}

QPair<double, double> minMax(const QVector<double> &values)
{
    if (values.isEmpty())
        return {0.0, 0.0};
    const auto range = std::minmax_element(values.cbegin(), values.cend());
    return {*range.first, *range.second};
}

QPair<double, double> axisRange(QPair<double, double> lowHigh)
{
    if (lowHigh.first < lowHigh.second)
        return lowHigh;
    return {lowHigh.first - 1.0, lowHigh.first + 1.0};
}

double trendAxisTop(const QVector<double> &counts)
{
    return std::max(4.0, minMax(counts).second);
}
