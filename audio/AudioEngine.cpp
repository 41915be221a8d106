#include "audio/AudioEngine.h"

#include <chrono>

qint64 monotonicNowNs()
{
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock QElapsedTimer reads.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

AudioEngine::AudioEngine(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SoundTiming>();
}

AudioEngine::~AudioEngine() = default;

void AudioEngine::setIdle(bool)
{
}

bool AudioEngine::deviceProgressing() const
{
    return true;
}
