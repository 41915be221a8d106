#include "stimuli/TrialSound.h"

#include "wav/WavFile.h"

#include <cmath>

bool extractFirstChannel(const WavFile &wav, QVector<double> &samples)
{
    const int channels = wav.numChannels;
    // The header's count can promise more than was decoded (a file cut short):
    // only decoded values are copied.
    if ((channels != 1 && channels != 2) || wav.decodedSamples.size() < wav.sampleCount) {
        samples.clear();
        return false;
    }
    const qint32 frames = static_cast<qint32>(wav.sampleCount / static_cast<quint32>(channels));
    samples.resize(frames);
    const double *source = wav.decodedSamples.data();
    double *target = samples.data();
    for (qint32 i = 0; i < frames; ++i)
        target[i] = source[static_cast<size_t>(i) * channels];
    return true;
}

void fillTimeAxisMs(QVector<double> &timeAxisMs, qint32 count, double samplingRateHz)
{
    timeAxisMs.resize(count);
    double *time = timeAxisMs.data();
    for (qint32 i = 0; i < count; ++i)
        time[i] = i / samplingRateHz * 1000.0;
}

DisplayExtent displayExtent(double displayDurationSeconds, double samplingRateHz, qint32 numSamples,
                            bool showWholeSound)
{
    DisplayExtent extent{static_cast<qint32>(std::floor(displayDurationSeconds * samplingRateHz)),
                         displayDurationSeconds};
    if (numSamples < extent.samples || (numSamples > extent.samples && showWholeSound)) {
        extent.samples = numSamples;
        extent.durationSeconds = numSamples / samplingRateHz;
    }
    return extent;
}
