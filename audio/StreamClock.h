#ifndef STREAMCLOCK_H
#define STREAMCLOCK_H

#include <QtGlobal>

#include <deque>

// How a frame index on a running output stream maps to a time on the
// monotonic clock (nanoseconds), and back.
//
// The device plays frame n of the stream at
//
//     t(n) = originNs + (n - originFrame) * 1e9 / framesPerSecond
//
// where (originFrame, originNs) is one point on the stream's timeline and
// framesPerSecond the stream's rate measured against the monotonic clock (the
// nominal rate, give or take the device clock's drift). "Plays" means that
// the frame's sample reaches the device. A sound of L frames written from
// frame n starts at t(n), and its last sample has left the device at
// t(n + L), when the frame after it starts.
struct StreamTimeline
{
    double originFrame = 0.0;
    qint64 originNs = 0;
    double framesPerSecond = 0.0;

    bool isValid() const { return framesPerSecond > 0.0; }
};

// t(frame), rounded to the nanosecond.
qint64 timeOfFrame(const StreamTimeline &timeline, qint64 frame);

// The first frame whose time, as timeOfFrame gives it, is at or after timeNs:
// a sound written there is never early and at most one frame late.
qint64 firstFrameAtOrAfter(const StreamTimeline &timeline, qint64 timeNs);

struct SoundPlacement
{
    qint64 frame = 0;     // where the sound's first sample is written
    qint64 onsetNs = 0;   // when it reaches the device
    qint64 endNs = 0;     // when the sound's last sample has left the device
};

// Places a sound of `frames` frames to start at requestedNs, but not before
// earliestFrame, the first frame that can still be written in time. A request
// whose frame lies before that starts at earliestFrame and is late by
// onsetNs - requestedNs.
SoundPlacement placeSound(const StreamTimeline &timeline, qint64 requestedNs, qint64 earliestFrame,
                          qint64 frames);

// The timing of a sound of `frames` frames written from `firstFrame`, after
// the device's timeline jumped at `jumpFrame`: frames before it kept their
// times, frames from it on play by `after`. The plan stays; the onset and
// end become the best knowledge, and deviceStalled is set when either moved
// more than toleranceNs from the plan.
struct SoundTiming;
SoundTiming moveAcrossJump(const SoundTiming &timing, qint64 firstFrame, qint64 jumpFrame,
                           const StreamTimeline &after, qint64 toleranceNs);

// Smooths a stream's timing reports into its timeline. Each report says
// which stream position the device played at which time; single reports
// scatter by the server's and the scheduler's delays, while the stream's
// clock itself is steady. The fit is a straight line through the reports of
// the last windowNs, by least squares, after dropping reports more than
// toleranceNs off the line (a late wake-up, a clock step), in the manner of
// the delay-locked loops that audio servers run for the same purpose. Until
// the reports span minSpanNs the slope is the nominal rate and only the
// offset is fitted. A measured slope further than maxDriftPpm from the
// nominal rate is not believed either.
//
// Some servers (PipeWire's pulse server) count a whole processing cycle as
// read when the cycle starts, and report no latency within it: a report is
// then ahead of the device by anything from 0 to one cycle. With the cycle
// set, the line runs one cycle below the highest reports, which are the ones
// taken just after a cycle started; a report that was delayed on its way
// only ever lies lower, so it cannot pull the line, and the few that lie
// above the band (the server read one cycle further ahead) are passed over.
// Such reports scatter too widely to measure the slope from, so the line
// keeps the nominal rate and only the last cycleWindowNs of reports place
// it: a device clock that drifts by 100 ppm from the monotonic one then
// moves an estimate by at most 0.1 ms.
//
// A device whose timeline jumps (an underrun, a device suspended and
// resumed, a graph that restarts) gives reports that lie off the line, all by
// the same amount. Once the line has settled (its reports span minSpanNs),
// jumpReports of them in a row, over at least jumpSpanNs, that agree with
// each other restart the fit from them; until then they are passed over as outliers, as a single late
// report is.
class StreamClockFit
{
public:
    explicit StreamClockFit(double nominalFramesPerSecond);

    enum class Report {
        Fitted,      // on the line, or the line's first reports
        Outlier,     // off the line, not (yet) a jump
        Restarted,   // a jump: the line was fitted anew from the reports after it
    };

    // One report: the device played stream position positionFrames (a
    // fraction where the server's latency is not a whole number of frames)
    // at timeNs.
    Report addReport(qint64 timeNs, double positionFrames);
    // Forgets every report: the stream's timeline has moved (an underrun,
    // a new stream).
    void restart();
    // Frames per processing cycle when reports are whole cycles ahead as
    // above; 0 (the default) when they place the device exactly.
    void setCycleFrames(qint64 frames);

    StreamTimeline timeline() const { return fitted; }
    int reportsInWindow() const { return int(reports.size()); }
    int reportsUsed() const { return used; }

    static constexpr qint64 windowNs = 3'000'000'000;
    static constexpr qint64 cycleWindowNs = 1'000'000'000;
    static constexpr qint64 toleranceNs = 500'000;
    static constexpr qint64 minSpanNs = 250'000'000;
    static constexpr double maxDriftPpm = 1000.0;
    static constexpr int jumpReports = 3;
    static constexpr qint64 jumpSpanNs = 30'000'000;

private:
    struct ReportPoint
    {
        qint64 timeNs;
        double positionFrames;
    };

    void refit();
    double residualFrames(const ReportPoint &report) const;
    double toleranceFrames() const;
    double jumpToleranceFrames() const;

    double nominalRate;
    qint64 cycleFrames = 0;
    std::deque<ReportPoint> reports;
    std::deque<ReportPoint> offLine;   // reports in a row off the line
    StreamTimeline fitted;
    int used = 0;
};

#endif // STREAMCLOCK_H
