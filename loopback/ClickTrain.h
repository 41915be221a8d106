#ifndef CLICKTRAIN_H
#define CLICKTRAIN_H

#include <QVector>

#include <vector>

// The clicks of the loop-back timing check and when they are due.
//
// A click is a Ricker wavelet (the negated second derivative of a Gaussian):
//
//     w(t) = (1 - 2 (pi f t)^2) exp(-(pi f t)^2),   f the peak frequency,
//
// centred 2.5 / f after the click's first sample and cut there on both sides
// (where the wavelet is below 1e-24 of its peak). It has no DC and little
// energy far from f, so mains hum and the input's low rumble barely touch
// its match, and it is even about its centre, so a recording that inverts
// the polarity is matched at the same place. Its autocorrelation has one
// sharp peak, which places it to a small fraction of a sample.
namespace ClickTrain {

// Clicks per check.
constexpr int clickCount = 50;
// The wavelet's peak in the sounds as played: 2000 Hz, well inside every
// audio path, or a sixteenth of the rate for rates below 32000 Hz, so that
// the click stays far below the Nyquist frequency.
double peakFrequencyHz(double rateHz);
// The wavelet's length: 5 / f seconds.
double lengthSeconds(double peakHz);
// The click at timeSeconds after its first sample (0 outside it), peak 1.
double value(double timeSeconds, double peakHz);
// The click sampled at rateHz, at full scale `amplitude`.
QVector<float> samples(double rateHz, double peakHz, double amplitude);

// The gaps between the onsets of successive clicks: count - 1 gaps of 150 to
// 400 ms, in whole microseconds, drawn from an MT19937 engine with a fixed
// seed, so that every check plays the same irregular train. No two shifts of
// the train against itself line up more than a few clicks, which makes the
// clicks in a recording unambiguous whatever the delay.
std::vector<qint64> onsetGapsNs(int count);
constexpr qint64 shortestGapNs = 150'000'000;
constexpr qint64 longestGapNs = 400'000'000;

} // namespace ClickTrain

#endif // CLICKTRAIN_H
