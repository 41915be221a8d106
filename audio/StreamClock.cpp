#include "audio/StreamClock.h"

#include "audio/AudioEngine.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

qint64 timeOfFrame(const StreamTimeline &timeline, qint64 frame)
{
    const long double offsetNs = (static_cast<long double>(frame) - timeline.originFrame) * 1e9L
                                 / timeline.framesPerSecond;
    return timeline.originNs + static_cast<qint64>(std::llround(offsetNs));
}

qint64 firstFrameAtOrAfter(const StreamTimeline &timeline, qint64 timeNs)
{
    const long double position = timeline.originFrame
                                 + static_cast<long double>(timeNs - timeline.originNs)
                                       * timeline.framesPerSecond / 1e9L;
    // The division above and the rounding in timeOfFrame may disagree by a
    // hair at a frame boundary; the frame's own reported time decides.
    qint64 frame = static_cast<qint64>(std::ceil(position));
    while (timeOfFrame(timeline, frame - 1) >= timeNs)
        --frame;
    while (timeOfFrame(timeline, frame) < timeNs)
        ++frame;
    return frame;
}

SoundPlacement placeSound(const StreamTimeline &timeline, qint64 requestedNs, qint64 earliestFrame,
                          qint64 frames)
{
    SoundPlacement placement;
    placement.frame = std::max(firstFrameAtOrAfter(timeline, requestedNs), earliestFrame);
    placement.onsetNs = timeOfFrame(timeline, placement.frame);
    placement.endNs = timeOfFrame(timeline, placement.frame + frames);
    return placement;
}

SoundTiming moveAcrossJump(const SoundTiming &timing, qint64 firstFrame, qint64 jumpFrame,
                           const StreamTimeline &after, qint64 toleranceNs)
{
    SoundTiming moved = timing;
    if (firstFrame >= jumpFrame)
        moved.onsetNs = timeOfFrame(after, firstFrame);
    if (firstFrame + timing.frames > jumpFrame)
        moved.endNs = timeOfFrame(after, firstFrame + timing.frames);
    if (std::abs(moved.onsetDelayNs()) > toleranceNs || std::abs(moved.endDelayNs()) > toleranceNs)
        moved.deviceStalled = true;
    return moved;
}

StreamClockFit::StreamClockFit(double nominalFramesPerSecond)
    : nominalRate(nominalFramesPerSecond)
{
}

StreamClockFit::Report StreamClockFit::addReport(qint64 timeNs, double positionFrames)
{
    // Reports come in time order; one that does not (a clock stepped back
    // under the conversion) would only confuse the window.
    if (!reports.empty() && timeNs <= reports.back().timeNs)
        return Report::Outlier;
    const ReportPoint report{timeNs, positionFrames};
    Report result = Report::Fitted;
    // Until the reports span minSpanNs the line is still finding its place,
    // and every report helps it there.
    const bool settled = !reports.empty() && timeNs - reports.front().timeNs >= minSpanNs;
    if (settled && fitted.isValid() && std::abs(residualFrames(report)) > jumpToleranceFrames()) {
        // Off the line. A jump moves every later report by the same amount:
        // such reports agree with each other (at the nominal rate) as well as
        // single reports agree with the line.
        if (!offLine.empty()) {
            const ReportPoint &first = offLine.front();
            const double expected = first.positionFrames + double(timeNs - first.timeNs) * nominalRate / 1e9;
            if (std::abs(positionFrames - expected) > toleranceFrames())
                offLine.clear();
        }
        offLine.push_back(report);
        // Reports that come in a burst agree with any line; only reports
        // spread over time tell a device that moves on from one that stands.
        if (int(offLine.size()) < jumpReports || timeNs - offLine.front().timeNs < jumpSpanNs)
            return Report::Outlier;
        reports.assign(offLine.begin(), offLine.end());
        offLine.clear();
        result = Report::Restarted;
    } else {
        offLine.clear();
        reports.push_back(report);
    }
    while (reports.front().timeNs < timeNs - (cycleFrames > 0 ? cycleWindowNs : windowNs))
        reports.pop_front();
    refit();
    return result;
}

double StreamClockFit::residualFrames(const ReportPoint &report) const
{
    return report.positionFrames - fitted.originFrame
           - double(report.timeNs - fitted.originNs) * fitted.framesPerSecond / 1e9;
}

double StreamClockFit::toleranceFrames() const
{
    // Reports a cycle ahead scatter over a whole cycle above the device's
    // line; the median lies about half a cycle above it.
    return nominalRate * double(toleranceNs) / 1e9 + double(cycleFrames);
}

double StreamClockFit::jumpToleranceFrames() const
{
    // Whole-cycle reports lie up to a cycle above the line, and now and then
    // one more: a jump is what lies beyond that.
    return nominalRate * double(toleranceNs) / 1e9 + 2.0 * double(cycleFrames);
}

void StreamClockFit::restart()
{
    offLine.clear();
    reports.clear();
    fitted = StreamTimeline();
    used = 0;
}

void StreamClockFit::setCycleFrames(qint64 frames)
{
    if (frames == cycleFrames)
        return;
    cycleFrames = frames;
    if (!reports.empty())
        refit();
}

void StreamClockFit::refit()
{
    // Times relative to the newest report, in seconds, keep the sums well
    // inside double precision.
    const qint64 referenceNs = reports.back().timeNs;
    const size_t n = reports.size();
    std::vector<double> seconds(n), positions(n);
    for (size_t i = 0; i < n; ++i) {
        seconds[i] = double(reports[i].timeNs - referenceNs) / 1e9;
        positions[i] = reports[i].positionFrames;
    }

    // Start from the nominal slope through the median report, which no single
    // outlier can pull.
    double slope = nominalRate;
    std::vector<double> offsets(n);
    for (size_t i = 0; i < n; ++i)
        offsets[i] = positions[i] - slope * seconds[i];
    std::vector<double> sorted = offsets;
    std::nth_element(sorted.begin(), sorted.begin() + long(n / 2), sorted.end());
    double intercept = sorted[n / 2];

    const double tolerance = toleranceFrames();
    std::vector<size_t> kept;
    for (int pass = 0; pass < 2; ++pass) {
        kept.clear();
        for (size_t i = 0; i < n; ++i) {
            if (std::abs(positions[i] - (intercept + slope * seconds[i])) <= tolerance)
                kept.push_back(i);
        }
        if (kept.empty())
            break;

        double meanT = 0.0, meanP = 0.0;
        for (size_t i : kept) {
            meanT += seconds[i];
            meanP += positions[i];
        }
        meanT /= double(kept.size());
        meanP /= double(kept.size());

        const double span = seconds[kept.back()] - seconds[kept.front()];
        double fittedSlope = nominalRate;
        if (cycleFrames == 0 && kept.size() >= 3 && span * 1e9 >= double(minSpanNs)) {
            double stt = 0.0, stp = 0.0;
            for (size_t i : kept) {
                stt += (seconds[i] - meanT) * (seconds[i] - meanT);
                stp += (seconds[i] - meanT) * (positions[i] - meanP);
            }
            fittedSlope = stp / stt;
            if (std::abs(fittedSlope / nominalRate - 1.0) > maxDriftPpm * 1e-6)
                fittedSlope = nominalRate;
        }
        slope = fittedSlope;
        intercept = meanP - slope * meanT;
    }
    if (cycleFrames > 0 && !kept.empty()) {
        // Reports spread evenly over one cycle above the device. Now and then
        // the server has read a cycle further ahead than usual; such reports
        // lie above the band, a few in a window, so the band's top is taken
        // at its k-th highest report, k being one in 40. The k-th highest of
        // n reports lies on average k / (n + 1) of a cycle below the top.
        std::vector<double> leads;
        for (size_t i : kept)
            leads.push_back(positions[i] - slope * seconds[i]);
        std::sort(leads.begin(), leads.end(), std::greater<double>());
        const size_t k = std::max<size_t>(1, leads.size() / 40);
        const double cycle = double(cycleFrames);
        intercept = leads[k - 1] - cycle + cycle * double(k) / double(leads.size() + 1);
    }

    used = int(kept.size());
    fitted.originNs = referenceNs;
    fitted.originFrame = intercept;
    fitted.framesPerSecond = slope;
}
