#include "loopback/ClickTrain.h"

#include <cmath>
#include <random>

namespace ClickTrain {

double peakFrequencyHz(double rateHz)
{
    return std::min(2000.0, rateHz / 16.0);
}

double lengthSeconds(double peakHz)
{
    return 5.0 / peakHz;
}

double value(double timeSeconds, double peakHz)
{
    const double length = lengthSeconds(peakHz);
    if (timeSeconds < 0.0 || timeSeconds > length)
        return 0.0;
    const double x = M_PI * peakHz * (timeSeconds - 0.5 * length);
    return (1.0 - 2.0 * x * x) * std::exp(-x * x);
}

QVector<float> samples(double rateHz, double peakHz, double amplitude)
{
    const int frames = int(std::floor(lengthSeconds(peakHz) * rateHz)) + 1;
    QVector<float> click(frames);
    for (int i = 0; i < frames; ++i)
        click[i] = float(amplitude * value(double(i) / rateHz, peakHz));
    return click;
}

std::vector<qint64> onsetGapsNs(int count)
{
    // A fixed seed: the train is part of the check's definition.
    std::mt19937 engine(20241);
    const quint32 spanUs = quint32((longestGapNs - shortestGapNs) / 1000);
    std::vector<qint64> gaps;
    for (int k = 1; k < count; ++k) {
        // The engine's raw output, reduced: its sequence is fixed by the
        // standard, unlike that of the library's distributions. The bias of
        // the modulo (below 1e-4) does not matter here.
        gaps.push_back(shortestGapNs + qint64(engine() % (spanUs + 1)) * 1000);
    }
    return gaps;
}

} // namespace ClickTrain
