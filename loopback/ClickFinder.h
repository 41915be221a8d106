#ifndef CLICKFINDER_H
#define CLICKFINDER_H

#include <QtGlobal>

#include <vector>

// Finds the loop-back check's clicks in a recording of the input.
//
// The recording is run through a matched filter: its correlation with the
// click (ClickTrain) sampled at the recording's rate, divided by the click's
// energy, so that the filter's output at a click's first frame is the click's
// amplitude in the recording, whatever the input's gain, and the input's
// noise is averaged over the click's length.
//
// The clicks arrive later (or, through a monitor, earlier) than expected by
// one delay common to all of them, give or take the jitter that the check
// measures. That delay is found first: the shift of the whole train within
// [earliestShiftFrames, latestShiftFrames] at which the filter's output,
// summed over the clicks, is largest. The train's irregular gaps make that
// shift unique. Each click is then looked for within windowFrames of where
// the shift puts it: the largest output there, refined between frames by a
// parabola through the peak and its neighbours.
//
// A click counts as found when its output is at least half the level of the
// clicks (the 90th percentile over the train, so that missing clicks do not
// lower it), well above the input's noise (8 standard deviations of the
// filter's output, estimated from its median absolute value), and above
// -80 dBFS. A recording without the clicks finds none.
struct ClickSearch
{
    double rateHz = 0.0;                  // the recording's rate
    double peakHz = 0.0;                  // the clicks' peak frequency
    std::vector<double> expectedFrames;   // each click's first frame at zero delay, in played order
    double earliestShiftFrames = 0.0;
    double latestShiftFrames = 0.0;
    double windowFrames = 0.0;
};

struct FoundClick
{
    bool found = false;
    double frame = 0.0;       // the recording frame of the click's first sample, between frames
    double amplitude = 0.0;   // its level in the recording, full scale 1 (negative: inverted)
};

struct ClickSearchResult
{
    std::vector<FoundClick> clicks;   // one per expected click, in played order
    double shiftFrames = 0.0;         // the common shift found
    double noiseLevel = 0.0;          // standard deviation of the filter's output on noise alone
    double clickLevel = 0.0;          // the clicks' level the threshold refers to
    int foundCount() const;
};

ClickSearchResult findClicks(const std::vector<float> &recording, const ClickSearch &search);

// The matched filter's output at every frame from which a whole click fits
// into the recording (empty when none does).
std::vector<double> clickFilterOutput(const std::vector<float> &recording, double rateHz, double peakHz);

#endif // CLICKFINDER_H
