#include "loopback/ClickFinder.h"

#include "loopback/ClickTrain.h"

#include <algorithm>
#include <cmath>

namespace {

// Below this a click is not told from digital near-silence: -80 dBFS.
constexpr double levelFloor = 1e-4;
// Standard deviations of the filter's output on noise that a click must
// exceed: a recording of 20 s at 48 kHz holds about 1e6 outputs, of which
// Gaussian noise crosses 8 sigma with a probability of 1e-15 each.
constexpr double noiseSigmas = 8.0;
// A click is found at half the level of the others or more.
constexpr double levelFraction = 0.5;

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    const size_t k = std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + long(k), values.end());
    return values[k];
}

} // namespace

int ClickSearchResult::foundCount() const
{
    return int(std::count_if(clicks.begin(), clicks.end(), [](const FoundClick &c) { return c.found; }));
}

std::vector<double> clickFilterOutput(const std::vector<float> &recording, double rateHz, double peakHz)
{
    std::vector<double> click;
    double energy = 0.0;
    for (int i = 0;; ++i) {
        const double t = double(i) / rateHz;
        if (t > ClickTrain::lengthSeconds(peakHz))
            break;
        click.push_back(ClickTrain::value(t, peakHz));
        energy += click.back() * click.back();
    }
    if (click.empty() || recording.size() < click.size() || energy <= 0.0)
        return {};
    std::vector<double> output(recording.size() - click.size() + 1);
    for (size_t n = 0; n < output.size(); ++n) {
        double sum = 0.0;
        const float *x = recording.data() + n;
        for (size_t i = 0; i < click.size(); ++i)
            sum += click[i] * double(x[i]);
        output[n] = sum / energy;
    }
    return output;
}

ClickSearchResult findClicks(const std::vector<float> &recording, const ClickSearch &search)
{
    ClickSearchResult result;
    result.clicks.resize(search.expectedFrames.size());
    const std::vector<double> output = clickFilterOutput(recording, search.rateHz, search.peakHz);
    if (output.empty() || search.expectedFrames.empty())
        return result;
    const qint64 size = qint64(output.size());
    const auto magnitude = [&](qint64 n) { return n >= 0 && n < size ? std::abs(output[size_t(n)]) : 0.0; };

    // The noise: the median absolute output, over a recording that is noise
    // but for the clicks, is 0.6745 standard deviations.
    std::vector<double> magnitudes(output.size());
    std::transform(output.begin(), output.end(), magnitudes.begin(), [](double v) { return std::abs(v); });
    result.noiseLevel = percentile(std::move(magnitudes), 0.5) / 0.6745;

    // The train's common shift, to the frame.
    const qint64 firstShift = qint64(std::floor(search.earliestShiftFrames));
    const qint64 lastShift = qint64(std::ceil(search.latestShiftFrames));
    std::vector<qint64> expected;
    for (double frame : search.expectedFrames)
        expected.push_back(qint64(std::llround(frame)));
    double bestSum = -1.0;
    qint64 bestShift = 0;
    for (qint64 shift = firstShift; shift <= lastShift; ++shift) {
        double sum = 0.0;
        for (qint64 e : expected)
            sum += magnitude(e + shift);
        if (sum > bestSum) {
            bestSum = sum;
            bestShift = shift;
        }
    }
    result.shiftFrames = double(bestShift);

    // Each click near its place on the shifted train.
    const qint64 window = qint64(std::ceil(search.windowFrames));
    std::vector<qint64> peaks(expected.size(), -1);
    std::vector<double> peakLevels;
    for (size_t k = 0; k < expected.size(); ++k) {
        const qint64 centre = expected[k] + bestShift;
        double best = 0.0;
        for (qint64 n = std::max<qint64>(centre - window, 0); n <= std::min(centre + window, size - 1); ++n) {
            if (magnitude(n) > best) {
                best = magnitude(n);
                peaks[k] = n;
            }
        }
        peakLevels.push_back(best);
    }
    result.clickLevel = percentile(peakLevels, 0.9);
    const double threshold = std::max({levelFraction * result.clickLevel, noiseSigmas * result.noiseLevel, levelFloor});
    for (size_t k = 0; k < expected.size(); ++k) {
        const qint64 n = peaks[k];
        if (n < 0 || peakLevels[k] < threshold)
            continue;
        // A parabola through the peak and its neighbours, on the output
        // turned positive where the recording inverts the click.
        const double sign = output[size_t(n)] < 0.0 ? -1.0 : 1.0;
        const double before = n > 0 ? sign * output[size_t(n - 1)] : 0.0;
        const double at = sign * output[size_t(n)];
        const double after = n + 1 < size ? sign * output[size_t(n + 1)] : 0.0;
        const double curvature = before - 2.0 * at + after;
        const double delta = curvature < 0.0 ? std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5) : 0.0;
        FoundClick &click = result.clicks[k];
        click.found = true;
        click.frame = double(n) + delta;
        click.amplitude = output[size_t(n)];
    }
    return result;
}
