#include "loopback/RecordingTimeline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct Point
{
    double t;   // ns since the first report
    double o;   // t minus the position at the nominal rate, ns
};

struct Line
{
    double atMean = 0.0;   // offset at meanT, ns
    double slope = 0.0;    // ns of offset per ns
    double meanT = 0.0;
    double at(double t) const { return atMean + slope * (t - meanT); }
};

double median(std::vector<double> values)
{
    const size_t k = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(k), values.end());
    return values[k];
}

// The Theil-Sen slope: the median of the slopes between points at least
// minBaselineNs apart; 0 (the nominal rate) where no two are. Up to about a
// quarter of the points may lie anywhere without moving it.
double theilSenSlope(const std::vector<Point> &points, double minBaselineNs)
{
    std::vector<double> slopes;
    for (size_t i = 0; i < points.size(); ++i) {
        for (size_t j = i + 1; j < points.size(); ++j) {
            if (points[j].t - points[i].t >= minBaselineNs)
                slopes.push_back((points[j].o - points[i].o) / (points[j].t - points[i].t));
        }
    }
    return slopes.empty() ? 0.0 : median(std::move(slopes));
}

} // namespace

double frameAtTime(const StreamTimeline &timeline, qint64 timeNs)
{
    return timeline.originFrame + double(timeNs - timeline.originNs) * timeline.framesPerSecond / 1e9;
}

double timeOfFrameNs(const StreamTimeline &timeline, double frame)
{
    return double(timeline.originNs) + (frame - timeline.originFrame) * 1e9 / timeline.framesPerSecond;
}

RecordingTimelineFit fitRecordingTimeline(std::vector<RecordingReport> reports, double nominalRateHz,
                                          double framesPerSecond)
{
    using namespace RecordingTimelineLimits;
    RecordingTimelineFit fit;
    fit.reports = int(reports.size());
    if (reports.size() < size_t(minReports) || nominalRateHz <= 0.0)
        return fit;
    std::sort(reports.begin(), reports.end(),
              [](const RecordingReport &a, const RecordingReport &b) {
                  // At one time, the furthest position (the lowest offset) first.
                  return a.timeNs != b.timeNs ? a.timeNs < b.timeNs : a.positionFrames > b.positionFrames;
              });
    const qint64 startNs = reports.front().timeNs;
    const double nsPerFrame = 1e9 / nominalRateHz;
    std::vector<Point> points;
    points.reserve(reports.size());
    for (const RecordingReport &r : reports) {
        const double t = double(r.timeNs - startNs);
        points.push_back({t, t - r.positionFrames * nsPerFrame});
    }

    // The lowest report of each window: the one taken soonest after a block
    // arrived.
    std::vector<Point> lowest;
    for (const Point &p : points) {
        const bool sameWindow = !lowest.empty() && qint64(lowest.back().t) / windowNs == qint64(p.t) / windowNs;
        if (!sameWindow)
            lowest.push_back(p);
        else if (p.o < lowest.back().o)
            lowest.back() = p;
    }
    if (lowest.size() < 2)
        return fit;
    // The slope through the lowest reports of the windows, which the windows
    // without a report soon after a block do not move, unless it is given.
    Line line;
    line.slope = framesPerSecond > 0.0 ? 1.0 - framesPerSecond / nominalRateHz
                                       : theilSenSlope(lowest, double(minBaselineNs));
    if (std::abs(line.slope) * 1e6 > maxDriftPpm)
        return fit;
    // The place: along the lowest reports.
    for (const Point &p : lowest)
        line.meanT += p.t / double(lowest.size());
    std::vector<double> offsets;
    for (const Point &p : lowest)
        offsets.push_back(p.o - line.slope * (p.t - line.meanT));
    line.atMean = median(std::move(offsets));

    // How close the reports of each whole stretch come to the line.
    double largestGap = 0.0;
    size_t i = 0;
    const double lastT = points.back().t;
    for (double from = 0.0; from + double(stretchNs) <= lastT; from += double(stretchNs)) {
        double closest = std::numeric_limits<double>::infinity();
        for (; i < points.size() && points[i].t < from + double(stretchNs); ++i)
            closest = std::min(closest, points[i].o - line.at(points[i].t));
        largestGap = std::max(largestGap, std::abs(closest));
    }
    fit.largestGapMs = largestGap / 1e6;
    if (largestGap > double(jumpToleranceNs))
        return fit;

    // The line as a timeline, its origin at the reports' mean time.
    fit.timeline.framesPerSecond = nominalRateHz * (1.0 - line.slope);
    fit.timeline.originNs = startNs + qint64(std::llround(line.meanT));
    const double originT = double(fit.timeline.originNs - startNs);
    fit.timeline.originFrame = (originT - line.at(originT)) / nsPerFrame;
    fit.valid = true;
    return fit;
}
