#ifndef SOUNDFINDER_H
#define SOUNDFINDER_H

// Finds known sounds in a recording of the audio server's output when the
// server resampled them (the stream's rate is not the device's), so that they
// cannot be matched sample for sample. Each sound is resampled here to the
// recording's rate with an ideal, zero-delay filter, and its place in the
// recording is the lag of the largest cross-correlation, refined between
// samples by a parabola through the peak. Sounds with a sharp
// autocorrelation (noise, chirps) are found to a small fraction of a
// sample; a pure tone could lock a whole period off.

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace SoundFinder {

// Windowed-sinc interpolation: the value of the band-limited signal x (at
// fromRate) at output sample m / toRate seconds after x's first sample, for
// m from -pad to size + pad, the onset moved `shift` output samples later.
// Element pad of the result is the onset.
inline std::vector<double> resample(const std::vector<float> &x, double fromRate, double toRate, int *pad,
                                    double shift = 0.0)
{
    constexpr int halfWidth = 32;   // input samples each side of the kernel's centre
    const double cutoff = std::min(1.0, toRate / fromRate);   // of the input's Nyquist
    const double step = fromRate / toRate;                    // input samples per output sample
    *pad = int(std::ceil(halfWidth / step)) + 1;
    const long outputs = long(std::ceil(double(x.size()) / step)) + 2 * *pad;
    std::vector<double> y(size_t(outputs), 0.0);
    for (long j = 0; j < outputs; ++j) {
        const double t = (double(j - *pad) - shift) * step;   // in input samples
        const long first = std::max<long>(0, long(std::floor(t)) - halfWidth + 1);
        const long last = std::min<long>(long(x.size()) - 1, long(std::floor(t)) + halfWidth);
        double sum = 0.0;
        for (long i = first; i <= last; ++i) {
            const double u = t - double(i);
            const double arg = M_PI * cutoff * u;
            const double sinc = std::abs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg;
            // Blackman window over the kernel's width.
            const double w = 0.42 + 0.5 * std::cos(M_PI * u / halfWidth) + 0.08 * std::cos(2 * M_PI * u / halfWidth);
            sum += double(x[size_t(i)]) * cutoff * sinc * std::max(w, 0.0);
        }
        y[size_t(j)] = sum;
    }
    return y;
}

struct Found
{
    double onsetIndex = 0.0;    // capture index of the sound's first sample, between samples
    double endIndex = 0.0;      // capture index where the sound's last sample has left
    double correlation = 0.0;   // normalised, 1 for a perfect match
};

// The sound `expected` (at soundRate) in `recorded` (at captureRate), near
// capture index `near` (within +-searchSamples).
inline Found locate(const std::vector<float> &recorded, const std::vector<float> &expected, double soundRate,
                    double captureRate, qint64 near, int searchSamples)
{
    int pad = 0;
    const std::vector<double> y = resample(expected, soundRate, captureRate, &pad);
    const auto correlationAt = [&](qint64 lag) {
        // y's element 0 at capture index lag - pad
        double sum = 0.0;
        for (size_t m = 0; m < y.size(); ++m) {
            const qint64 index = lag - pad + qint64(m);
            if (index >= 0 && index < qint64(recorded.size()))
                sum += y[m] * double(recorded[size_t(index)]);
        }
        return sum;
    };
    qint64 best = near;
    double bestValue = -1e300;
    for (qint64 lag = near - searchSamples; lag <= near + searchSamples; ++lag) {
        const double value = correlationAt(lag);
        if (value > bestValue) {
            bestValue = value;
            best = lag;
        }
    }
    const double before = correlationAt(best - 1), after = correlationAt(best + 1);
    const double curvature = before - 2 * bestValue + after;
    const double delta = curvature < 0 ? 0.5 * (before - after) / curvature : 0.0;

    // How well the sound matches, placed between samples where it was found.
    const std::vector<double> placed = resample(expected, soundRate, captureRate, &pad, delta);
    double rr = 0.0, ry = 0.0, pp = 0.0;
    for (size_t m = 0; m < placed.size(); ++m) {
        const qint64 index = best - pad + qint64(m);
        if (index < 0 || index >= qint64(recorded.size()))
            continue;
        const double r = double(recorded[size_t(index)]);
        rr += r * r;
        ry += r * placed[m];
        pp += placed[m] * placed[m];
    }
    Found found;
    found.onsetIndex = double(best) + delta;
    found.endIndex = found.onsetIndex + double(expected.size()) * captureRate / soundRate;
    found.correlation = rr > 0 && pp > 0 ? ry / std::sqrt(rr * pp) : 0.0;
    return found;
}

// The stretches of sound in a recording: runs of samples above threshold in
// magnitude, merged where less than gapSamples apart, as [first, end) pairs.
inline std::vector<std::pair<qint64, qint64>> soundRegions(const std::vector<float> &recorded, qint64 from,
                                                            float threshold, qint64 gapSamples)
{
    std::vector<std::pair<qint64, qint64>> regions;
    for (qint64 i = from; i < qint64(recorded.size()); ++i) {
        if (std::abs(recorded[size_t(i)]) <= threshold)
            continue;
        if (!regions.empty() && i - regions.back().second < gapSamples)
            regions.back().second = i + 1;
        else
            regions.emplace_back(i, i + 1);
    }
    return regions;
}

} // namespace SoundFinder

#endif // SOUNDFINDER_H
