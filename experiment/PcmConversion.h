#ifndef PCMCONVERSION_H
#define PCMCONVERSION_H

#include <QByteArray>
#include <QVector>

// The playback bytes of a sound: each sample rounded to the nearest IEEE 754
// single-precision value, little endian, 4 bytes per sample, in index order.
// No scaling, clipping or dithering: a value outside -1..1 reaches the device
// as it is.
QByteArray floatPcmBytes(const QVector<double> &samples);

#endif // PCMCONVERSION_H
