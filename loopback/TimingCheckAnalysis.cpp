#include "loopback/TimingCheckAnalysis.h"

#include "loopback/ClickFinder.h"

#include <algorithm>

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
    std::vector<RecordingReport> reports;
    std::vector<double> sinkLatencies;
    for (size_t i = 0; i < recording.reports.size(); ++i) {
        if (recording.reports[i].timeNs < firstOnsetNs - reportLeadNs)
            continue;
        reports.push_back(recording.reports[i]);
        if (i < recording.sinkLatenciesMs.size())
            sinkLatencies.push_back(recording.sinkLatenciesMs[i]);
    }
    // The output renders a block ahead and plays it out: its latency runs
    // down from the block's length to 0 between renderings, and a monitor
    // records the block at the top.
    if (!sinkLatencies.empty()) {
        const size_t k = size_t(0.95 * double(sinkLatencies.size() - 1));
        std::nth_element(sinkLatencies.begin(), sinkLatencies.begin() + long(k), sinkLatencies.end());
        delays->sinkLatencyMs = sinkLatencies[k];
    }
    delays->timeline = fitRecordingTimeline(reports, recording.rateHz);
    if (!delays->timeline.valid) {
        *problem = delays->timeline.reports < RecordingTimelineLimits::minReports
                       ? QStringLiteral("the audio server sent too few timing reports of the recording (%1)")
                             .arg(delays->timeline.reports)
                       : QStringLiteral("the recording's timing reports do not lie on one timeline (they strayed "
                                        "%1 ms from it): the recording was interrupted")
                             .arg(delays->timeline.largestGapMs, 0, 'f', 1);
        return false;
    }

    const StreamTimeline &timeline = delays->timeline.timeline;
    ClickSearch search;
    search.rateHz = recording.rateHz;
    search.peakHz = peakHz;
    for (qint64 onset : onsetsNs)
        search.expectedFrames.push_back(frameAtTime(timeline, onset));
    search.earliestShiftFrames = double(earliestDelayNs) * recording.rateHz / 1e9;
    search.latestShiftFrames = double(latestDelayNs) * recording.rateHz / 1e9;
    search.windowFrames = double(clickWindowNs) * recording.rateHz / 1e9;
    const ClickSearchResult found = findClicks(recording.samples, search);
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
