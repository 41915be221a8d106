#include "stimuli/Spectrum.h"

#include "FFTReal/FFTReal.h"

#include <algorithm>
#include <cmath>
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

    std::vector<double> x(static_cast<size_t>(fftLength), 0.0);
    std::vector<double> f(static_cast<size_t>(fftLength));
    std::copy_n(samples.cbegin(), std::min<qint32>(samples.size(), fftLength), x.begin());
    FFTReal<double> fft(fftLength);
    fft.forward_fft(f.data(), x.data());

    const double resolutionHz = samplingRateHz / fftLength;
    // Half the sample count in integer division, as the amplitude of a sine is
    // |X[k]| / (n / 2). A sound of one sample would divide by 0; stimuli have
    // at least two, and the guard keeps the arithmetic finite regardless.
    const double divisor = std::max(samples.size() / 2, 1);
    frequencies[0] = 0.0;
    amplitudes[0] = std::fabs(f[0]) / divisor;
    for (qint32 k = 1; k < bins; ++k) {
        frequencies[k] = k * resolutionHz;
        const double re = f[k];
        const double im = f[bins + k];  // the sign of the packed imaginary part does not matter here
        amplitudes[k] = std::sqrt(re * re + im * im) / divisor;
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
