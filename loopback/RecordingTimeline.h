#ifndef RECORDINGTIMELINE_H
#define RECORDINGTIMELINE_H

#include "audio/StreamClock.h"

#include <vector>

// How the frames of a recording map to the monotonic clock, from the audio
// server's timing reports of the record stream.
//
// Each report says that at timeNs the input device was taking in recording
// frame positionFrames: what the server had written to the stream, plus what
// the input's own latency still holds (the server's source latency). Servers
// hand a recording over in blocks (PulseAudio's fragments and a sink's
// renderings for a monitor, PipeWire's graph cycles) and count a block as
// written only when it has arrived, so a report lies on the input's
// timeline just after a block arrived and behind it by up to a block later
// on; a report that waited on its way only lies further behind. The
// timeline therefore runs along the reports taken soonest after a block
// arrived: the furthest one of each window of windowNs, through which a
// straight line, position against time, is fitted by the Theil-Sen method
// (the median of the slopes between pairs of them, and the median offset),
// which the windows without a report soon after a block, further behind than
// the others, do not move. Its slope is the input clock's rate against the
// monotonic one, which the device's clock may miss by some parts per
// million.
//
// A recording whose timeline jumped (frames lost, an input that restarted)
// has stretches of reports that lie far off the line: no single line places
// it.
struct RecordingReport
{
    qint64 timeNs = 0;            // monotonic
    double positionFrames = 0.0;  // the recording frame the input took in then
};

struct RecordingTimelineFit
{
    bool valid = false;
    StreamTimeline timeline;      // recording frame -> monotonic time
    // The largest distance of the closest report in any stretch of
    // stretchNs from the line, ms: how far the reports strayed from it.
    double largestGapMs = 0.0;
    int reports = 0;
};

// Fits the reports (any order). Invalid with fewer than minReports, with a
// slope further than maxDriftPpm from the nominal rate, or when the report
// of some stretch of stretchNs closest to the line is further than
// jumpToleranceNs from it.
// With framesPerSecond above 0 the slope is that rate, known from
// elsewhere, and only the line's place is fitted.
RecordingTimelineFit fitRecordingTimeline(std::vector<RecordingReport> reports, double nominalRateHz,
                                          double framesPerSecond = 0.0);

// The recording frame (between frames) that the input took in at timeNs,
// and the time of a frame between frames: timeOfFrame's inverse and its
// continuous form.
double frameAtTime(const StreamTimeline &timeline, qint64 timeNs);
double timeOfFrameNs(const StreamTimeline &timeline, double frame);

namespace RecordingTimelineLimits {
constexpr int minReports = 20;
constexpr double maxDriftPpm = 1000.0;
// Long enough to hold many blocks' arrivals with a report soon after each:
// the lowest report of a window then lies within some hundredths of a
// millisecond of the timeline.
constexpr qint64 windowNs = 1'000'000'000;
// Slopes between windows closer than this are left out: their scatter
// would weigh too much.
constexpr qint64 minBaselineNs = 2'000'000'000;
// Each stretch of this length must hold a report close to the line: longer
// than the largest block a server hands over (8192 frames at 44.1 kHz,
// 186 ms) with a report after it.
constexpr qint64 stretchNs = 500'000'000;
// More than the time between reports (5 ms) and a block's arrival and the
// report after it on a loaded machine.
constexpr qint64 jumpToleranceNs = 15'000'000;
} // namespace RecordingTimelineLimits

#endif // RECORDINGTIMELINE_H
