#ifndef SPECTRUM_H
#define SPECTRUM_H

#include <QPair>
#include <QPointF>
#include <QVector>

// The amplitude spectrum of a trial's sound and the arithmetic behind the
// three charts, free of any widget.

// Sizes of the analysis for a sound of numSamples samples per channel.
struct SpectrumSize
{
    qint32 fftLength = 1;      // smallest power of two not below numSamples
    double fftDuration = 0.0;  // seconds: fftLength / sampling rate
    qint32 pointCount = 0;     // bins drawn: those up to maxFrequency, at most fftLength / 2
};

// The smallest power of two not below n; 1 for n <= 1. Computed on integers,
// so that a power of two is never doubled by a rounding logarithm.
qint32 nextPowerOfTwo(qint32 n);

SpectrumSize spectrumSize(qint32 numSamples, double samplingRateHz, double maxFrequencyHz);

// The one-sided amplitude spectrum of samples, zero-padded to fftLength (a
// power of two, at least samples.size()), without a window. Fills fftLength / 2
// bins: frequencies[k] = k * samplingRate / fftLength in Hz, and amplitudes[k]
// = |X[k]| / (samples.size() / 2, in integer division), so that a sine of
// amplitude A that fills the sound and falls on a bin shows as A.
void amplitudeSpectrum(const QVector<double> &samples, qint32 fftLength, double samplingRateHz,
                       QVector<double> &frequencies, QVector<double> &amplitudes);

// The points of a line through points (ordered by x) that can show on a plot
// of columns pixel columns spanning x from xFrom to xTo: in each column the
// first, the lowest, the highest and the last point, in their order. The line
// through them covers the same pixels as the line through all of them, since
// within a column a line through all of them runs from the first to the last
// and spans the lowest to the highest. Up to 4 points per column, points is
// kept whole. Points outside the span count to the nearest column.
void pointsToDraw(const QVector<QPointF> &points, double xFrom, double xTo, int columns,
                  QVector<QPointF> &drawn);

// Smallest and largest element; (0, 0) for an empty vector.
QPair<double, double> minMax(const QVector<double> &values);

// A y-axis range that shows the values from low to high. A flat signal (low ==
// high, e.g. a silent stimulus) gets one unit of room on each side, since an
// axis of zero extent cannot be drawn.
QPair<double, double> axisRange(QPair<double, double> lowHigh);

// Top of the response-trend y axis: the largest count, but at least 4.
double trendAxisTop(const QVector<double> &counts);

#endif // SPECTRUM_H
