#ifndef TIMINGCHECKANALYSIS_H
#define TIMINGCHECKANALYSIS_H

#include "loopback/RecordingTimeline.h"

#include <QString>

#include <vector>

// A recording of the check's input, with the server's reports of its
// timeline.
struct CheckRecording
{
    double rateHz = 0.0;
    std::vector<float> samples;             // from the stream's first frame on
    std::vector<RecordingReport> reports;
    // Through a monitor, the output's latency as each report gave it, ms;
    // empty for a real input.
    std::vector<double> sinkLatenciesMs;
    qint64 holeFrames = 0;                  // frames the server did not deliver, kept as silence
};

// Where the check looks for its clicks: from this much before their
// estimated onsets (a monitor's recording leads the output by the output's
// latency, which PulseAudio lets grow to 2 s) to this much after (the
// largest delay of a sound card, a Bluetooth headset's included, is some
// hundreds of ms). Each click is then placed within clickWindowNs of where
// the common delay puts it.
namespace TimingCheckSearch {
constexpr qint64 earliestDelayNs = -2'500'000'000;
constexpr qint64 latestDelayNs = 1'000'000'000;
constexpr qint64 clickWindowNs = 10'000'000;
// Reports from this long before the first click are used for the timeline.
constexpr qint64 reportLeadNs = 250'000'000;
// The input's rate is taken from the clicks found when there are this many,
// from pairs of them this far apart, and when it lies within this of the
// reports' rate (which a monitor's reports give to some 30 ppm at worst).
constexpr int minClicksForRate = 10;
constexpr qint64 minRateSpanNs = 1'000'000'000;
constexpr double maxRateDifferencePpm = 50.0;
} // namespace TimingCheckSearch

struct TimingCheckDelays
{
    std::vector<double> delaysMs;   // per click found, in played order: recorded onset minus estimated onset
    std::vector<int> foundClicks;   // the index of each of them among the clicks played
    RecordingTimelineFit timeline;
    double clickLevel = 0.0;        // the clicks' amplitude in the recording, full scale 1
    double noiseLevel = 0.0;        // the input's noise through the clicks' filter, as an SD
    double reportsRateHz = 0.0;     // the input's rate as the reports alone gave it
    bool rateFromClicks = false;    // the timeline's rate is the clicks'
    // The output's latency at its largest (95th percentile) over the check,
    // as a monitor's reports gave it; 0 for a real input.
    double sinkLatencyMs = 0.0;
};

// Places the recording on the monotonic clock by its reports
// (fitRecordingTimeline; through a monitor its rate from the reports less
// the output's latency), finds the clicks of estimated onsets onsetsNs
// (monotonic) and peak frequency peakHz in it (findClicks), takes the
// input's rate from the clicks found where it agrees with the reports', and
// gives each click's delay. Returns false, with the reason in plain words
// in *problem, when no timeline or no click could be found.
bool measureClickDelays(const CheckRecording &recording, const std::vector<qint64> &onsetsNs, double peakHz,
                        TimingCheckDelays *delays, QString *problem);

#endif // TIMINGCHECKANALYSIS_H
