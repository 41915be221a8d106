#include "loopback/TimingCheckAnalysis.h"

#include "loopback/ClickFinder.h"

#include <algorithm>
#include <cmath>

bool measureClickDelays(const CheckRecording &recording, const std::vector<qint64> &onsetsNs, double peakHz,
                        TimingCheckDelays *delays, QString *problem)
{
    using namespace TimingCheckSearch;
    *delays = TimingCheckDelays();
    if (onsetsNs.empty() || recording.rateHz <= 0.0) {
        *problem = QStringLiteral("nothing was played or recorded");
        return false;
    }
    const qint64 firstOnsetNs = *std::min_element(onsetsNs.begin(), onsetsNs.end());
    // Through a monitor each report also gives the output's latency: the
    // output renders a block ahead of its device and plays it out, and a
    // monitor records the block when it is rendered.
    const bool monitor = !recording.sinkLatenciesMs.empty();
    std::vector<RecordingReport> reports, played;
    std::vector<double> sinkLatencies;
    for (size_t i = 0; i < recording.reports.size(); ++i) {
        const RecordingReport &report = recording.reports[i];
        if (report.timeNs < firstOnsetNs - reportLeadNs)
            continue;
        reports.push_back(report);
        if (monitor && i < recording.sinkLatenciesMs.size()) {
            sinkLatencies.push_back(recording.sinkLatenciesMs[i]);
            played.push_back({report.timeNs,
                              report.positionFrames - recording.sinkLatenciesMs[i] * recording.rateHz / 1000.0});
        }
    }
    // The latency runs down from a block's length to 0 between renderings;
    // the recording leads the device by about its top.
    if (!sinkLatencies.empty()) {
        const size_t k = size_t(0.95 * double(sinkLatencies.size() - 1));
        std::nth_element(sinkLatencies.begin(), sinkLatencies.begin() + long(k), sinkLatencies.end());
        delays->sinkLatencyMs = sinkLatencies[k];
    }
    // The lead wanders from block to block, and with it the reports as they
    // are; less the output's latency they follow the output device, steady,
    // which gives the slope. The line is then placed by the reports as they
    // are: at the time the server rendered.
    double framesPerSecond = 0.0;
    if (!played.empty()) {
        const RecordingTimelineFit device = fitRecordingTimeline(played, recording.rateHz);
        if (device.valid)
            framesPerSecond = device.timeline.framesPerSecond;
    }
    delays->timeline = fitRecordingTimeline(reports, recording.rateHz, framesPerSecond);
    if (!delays->timeline.valid) {
        *problem = delays->timeline.reports < RecordingTimelineLimits::minReports
                       ? QStringLiteral("the audio server sent too few timing reports of the recording (%1)")
                             .arg(delays->timeline.reports)
                       : QStringLiteral("the recording's timing reports do not lie on one timeline (they strayed "
                                        "%1 ms from it): the recording was interrupted")
                             .arg(delays->timeline.largestGapMs, 0, 'f', 1);
        return false;
    }

    ClickSearch search;
    search.rateHz = recording.rateHz;
    search.peakHz = peakHz;
    for (qint64 onset : onsetsNs)
        search.expectedFrames.push_back(frameAtTime(delays->timeline.timeline, onset));
    search.earliestShiftFrames = double(earliestDelayNs) * recording.rateHz / 1e9;
    search.latestShiftFrames = double(latestDelayNs) * recording.rateHz / 1e9;
    search.windowFrames = double(clickWindowNs) * recording.rateHz / 1e9;
    const ClickSearchResult found = findClicks(recording.samples, search);
    delays->clickLevel = found.clickLevel;
    delays->noiseLevel = found.noiseLevel;

    // The input's rate against the output's estimates, as jitter is measured
    // in timing generally: after the two clocks' steady difference in rate
    // is taken out. The clicks give it to a fraction of a ppm, where the
    // reports (whose place wanders by some tenths of a millisecond through a
    // monitor) leave some ppm. A rate far from the reports' is not believed.
    delays->reportsRateHz = delays->timeline.timeline.framesPerSecond;
    std::vector<std::pair<double, double>> arrivals;   // (estimated onset, ns from the first; recording frame)
    for (size_t k = 0; k < found.clicks.size(); ++k) {
        if (found.clicks[k].found)
            arrivals.emplace_back(double(onsetsNs[k] - firstOnsetNs), found.clicks[k].frame);
    }
    std::vector<double> rates;
    for (size_t i = 0; i < arrivals.size(); ++i) {
        for (size_t j = i + 1; j < arrivals.size(); ++j) {
            const double spanNs = arrivals[j].first - arrivals[i].first;
            if (spanNs >= double(minRateSpanNs))
                rates.push_back((arrivals[j].second - arrivals[i].second) * 1e9 / spanNs);
        }
    }
    if (arrivals.size() >= size_t(minClicksForRate) && !rates.empty()) {
        std::nth_element(rates.begin(), rates.begin() + long(rates.size() / 2), rates.end());
        const double clickRate = rates[rates.size() / 2];
        if (std::abs(clickRate / delays->reportsRateHz - 1.0) * 1e6 <= maxRateDifferencePpm) {
            const RecordingTimelineFit refit = fitRecordingTimeline(reports, recording.rateHz, clickRate);
            if (refit.valid) {
                delays->timeline = refit;
                delays->rateFromClicks = true;
            }
        }
    }

    const StreamTimeline &timeline = delays->timeline.timeline;
    for (size_t k = 0; k < found.clicks.size(); ++k) {
        if (!found.clicks[k].found)
            continue;
        delays->delaysMs.push_back((timeOfFrameNs(timeline, found.clicks[k].frame) - double(onsetsNs[k])) / 1e6);
        delays->foundClicks.push_back(int(k));
    }
    if (delays->delaysMs.empty()) {
        *problem = QStringLiteral("no click was found in the recording");
        return false;
    }
    return true;
}
