#ifndef TIMINGCHECKRESULT_H
#define TIMINGCHECKRESULT_H

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <vector>

// The outcome of a loop-back timing check: how the clicks arrived in the
// recording against the audio engine's estimates of their onsets at the
// output device. Each click's delay is its recorded onset minus the
// engine's estimated onset, both on the monotonic clock, after everything
// the server reports of the output's and the input's latency: the extra
// round-trip delay. Its mean is the round-trip figure, its SD the onset
// jitter at the hardware (taken, as jitter is, after a steady difference in
// rate between the input's clock and the estimates is taken out). Nothing is
// corrected by it.
struct TimingCheckResult
{
    QDateTime time;               // when the check ran, with its offset from UTC
    QString output;               // the output device's name, as the server names it
    QString input;                // the input recorded, as the server names it
    bool throughMonitor = false;  // the input is the output's monitor
    int played = 0;               // clicks played
    int found = 0;                // clicks found in the recording
    double meanMs = 0.0;
    double sdMs = 0.0;            // sample SD, n - 1; 0 for a single click
    double minMs = 0.0;
    double maxMs = 0.0;
    // Through a monitor: the output's latency at its largest during the
    // check (95th percentile), as the server reported it, which the figure
    // is about minus; 0 otherwise.
    double sinkLatencyMs = 0.0;

    bool isValid() const { return found > 0 && played > 0; }
};
Q_DECLARE_METATYPE(TimingCheckResult)

// Sets found, mean, SD, min and max from the delays (ms) of the clicks found.
void setDelayStatistics(TimingCheckResult &result, const std::vector<double> &delaysMs);

// The journal header's fields after "# loop-back check": the date (ISO 8601
// with its UTC offset), the input, "mean <x> ms", "SD <x> ms", "min <x> ms",
// "max <x> ms" and "<found> of <played> clicks", tab-separated.
QString timingCheckJournalFields(const TimingCheckResult &result);
// The result in words, for the check's window.
QString timingCheckReportText(const TimingCheckResult &result);
// One line for the log.
QString timingCheckLogText(const TimingCheckResult &result);
// The last result in short, for the main window's panel; a plain "none yet"
// sentence when there is none.
QString timingCheckShortText(const TimingCheckResult &result);

// The last result per output is remembered with the other lab settings.
void storeTimingCheck(const TimingCheckResult &result);
// The result stored for output; invalid (found 0) when there is none.
TimingCheckResult storedTimingCheck(const QString &output);
bool anyTimingCheckStored();

#endif // TIMINGCHECKRESULT_H
