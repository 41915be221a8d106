#ifndef CALIBRATION_H
#define CALIBRATION_H

#include "audio/OutputDeviceState.h"

#include <QDateTime>
#include <QString>
#include <QVector>

// A level calibration of one output device: the sound level meter's reading
// of the calibration tone, 1000 Hz at -20 dBFS RMS, played through the
// device at a known volume and port. From it, a stimulus's level in dB SPL
// follows from its RMS in dBFS, as long as the device is played at the
// same volume and port.
struct Calibration
{
    static constexpr double toneHz = 1000.0;
    static constexpr double toneRmsDbfs = -20.0;

    QString device;                 // the output device's own name
    QVector<double> readingsDbSpl;  // one, or one per ear (left, right)
    QString weighting;              // "A", "C" or "Z" (at 1 kHz they agree)
    QDateTime date;                 // when it was made, with its UTC offset
    OutputDeviceState deviceState;  // the device's volume and port when it was made

    bool isValid() const { return !device.isEmpty() && !readingsDbSpl.isEmpty(); }
    // The journal header's fields after "# calibration": "1000 Hz at -20.0
    // dBFS RMS", the reading ("84.0 dB SPL", or "left 84.0 dB SPL", "right
    // 83.6 dB SPL"), the weighting, the date, the device's volume then.
    QString headerFields() const;
    // A stimulus's level, dB SPL, unweighted: the reading (the first ear's
    // where there are two) plus the stimulus's RMS above the tone's.
    double levelDbSpl(double rmsDbfs) const;
};

// The calibration tone at rateHz: a 1000 Hz sine of RMS 0.1 (peak 0.1414),
// a whole number of periods long, so that copies played back to back join
// without a step. About `seconds` long.
QVector<float> calibrationTone(int rateHz, double seconds);

// 20 log10 of the RMS of samples, full scale 1.0; -inf for silence.
double rmsDbfs(const double *samples, qint64 count, int stride = 1);

// The stored calibrations, one per output device, among the remembered
// settings.
Calibration loadCalibration(const QString &device);
void saveCalibration(const Calibration &calibration);

#endif // CALIBRATION_H
