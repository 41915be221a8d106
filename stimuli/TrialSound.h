#ifndef TRIALSOUND_H
#define TRIALSOUND_H

#include <QVector>

class WavFile;

// The arithmetic of loading one trial's sound, free of any widget.

// Copies the first channel (the left one of a stereo file) of the sound
// decoded in wav into samples, resized to the sound's samples per channel.
// Only values the reader actually decoded are taken; a sound it did not decode
// in full, or with neither one nor two channels, leaves samples empty. Returns
// whether the sound was copied.
bool extractFirstChannel(const WavFile &wav, QVector<double> &samples);

// timeAxisMs resized to count entries, entry i being the time of sample i in
// milliseconds.
void fillTimeAxisMs(QVector<double> &timeAxisMs, qint32 count, double samplingRateHz);

// How much of a sound the waveform chart shows.
struct DisplayExtent
{
    qint32 samples;         // samples shown
    double durationSeconds; // their duration
};

// The shown part of a sound of numSamples samples: displayDuration seconds,
// but never more than the sound, and the whole sound when showWholeSound is set.
DisplayExtent displayExtent(double displayDurationSeconds, double samplingRateHz, qint32 numSamples,
                            bool showWholeSound);

#endif // TRIALSOUND_H
