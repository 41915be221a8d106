#include "loopback/TimingCheckResult.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

namespace {

const QString settingsGroup = QStringLiteral("timingChecks");

QString ms(double value)
{
    return QString::number(value, 'f', 3);
}

QString isoWithOffset(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

// Where the other lab settings are remembered.
std::unique_ptr<QSettings> rememberedSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"),
                                       QStringLiteral("tarquel"));
}

// An output's name as one settings key: '/' and '\' would open groups.
QString keyFor(const QString &output)
{
    return QString::fromLatin1(output.toUtf8().toPercentEncoding());
}

} // namespace

void setDelayStatistics(TimingCheckResult &result, const std::vector<double> &delaysMs)
{
    result.found = int(delaysMs.size());
    result.meanMs = result.sdMs = result.minMs = result.maxMs = 0.0;
    if (delaysMs.empty())
        return;
    const double n = double(delaysMs.size());
    result.meanMs = std::accumulate(delaysMs.begin(), delaysMs.end(), 0.0) / n;
    double squares = 0.0;
    for (double d : delaysMs)
        squares += (d - result.meanMs) * (d - result.meanMs);
    result.sdMs = delaysMs.size() > 1 ? std::sqrt(squares / (n - 1.0)) : 0.0;
    const auto [lowest, highest] = std::minmax_element(delaysMs.begin(), delaysMs.end());
    result.minMs = *lowest;
    result.maxMs = *highest;
}

QString timingCheckJournalFields(const TimingCheckResult &result)
{
    const QStringList fields{isoWithOffset(result.time),
                             result.input,
                             QStringLiteral("mean ") + ms(result.meanMs) + QStringLiteral(" ms"),
                             QStringLiteral("SD ") + ms(result.sdMs) + QStringLiteral(" ms"),
                             QStringLiteral("min ") + ms(result.minMs) + QStringLiteral(" ms"),
                             QStringLiteral("max ") + ms(result.maxMs) + QStringLiteral(" ms"),
                             QStringLiteral("%1 of %2 clicks").arg(result.found).arg(result.played)};
    return fields.join(QLatin1Char('\t'));
}

QString timingCheckReportText(const TimingCheckResult &result)
{
    QString text = QStringLiteral("Loop-back check of %1, %2\nInput: %3%4\nClicks found: %5 of %6\n\n")
                       .arg(result.output, isoWithOffset(result.time), result.input,
                            result.throughMonitor ? QStringLiteral(" (the output's monitor)") : QString())
                       .arg(result.found)
                       .arg(result.played);
    text += QStringLiteral("Round-trip delay beyond what the server reports (mean): %1 ms\n"
                           "Onset jitter at the hardware (SD): %2 ms\n"
                           "Smallest and largest delay: %3 ms and %4 ms\n\n")
                .arg(ms(result.meanMs), ms(result.sdMs), ms(result.minMs), ms(result.maxMs));
    text += QStringLiteral("Each delay is where the click arrived in the recording minus where the audio engine "
                           "placed its onset at the output device (the journal's sound onset), after the output's "
                           "and the input's latency as the audio server reports them. As jitter is, the SD is taken "
                           "after a steady difference in rate between the input's clock and the engine's estimates "
                           "is taken out. No correction is applied: the journal keeps the engine's estimates.");
    if (result.throughMonitor) {
        text += QStringLiteral("\n\nThrough a monitor the sound is recorded when the server renders it, ahead of the "
                               "device by the sink's latency (up to %1 ms during the check, as the server reported it): "
                               "the round-trip figure is then about minus that latency, not 0. A monitor checks the software path "
                               "only; a cable from the output to a line input checks the sound card as well.")
                    .arg(QString::number(result.sinkLatencyMs, 'f', 1));
    } else {
        text += QStringLiteral("\n\nWith a cable from the output to this input, the mean holds the output's and the "
                               "input's own delays beyond what the server reports (the converters, the device's "
                               "buffers), out and back together; the check does not tell them apart.");
    }
    return text;
}

QString timingCheckLogText(const TimingCheckResult &result)
{
    QString text = QStringLiteral("Loop-back check: output %1, input %2: %3 of %4 clicks found; extra round-trip "
                                  "delay mean %5 ms, SD %6 ms, min %7 ms, max %8 ms")
                       .arg(result.output, result.input)
                       .arg(result.found)
                       .arg(result.played)
                       .arg(ms(result.meanMs), ms(result.sdMs), ms(result.minMs), ms(result.maxMs));
    if (result.throughMonitor) {
        text += QStringLiteral(" (through the output's monitor: about minus the sink's latency, up to %1 ms)")
                    .arg(QString::number(result.sinkLatencyMs, 'f', 1));
    }
    return text;
}

QString timingCheckShortText(const TimingCheckResult &result)
{
    if (!result.isValid())
        return QStringLiteral("No check of this output yet");
    return QStringLiteral("Last: %1, %2, mean %3 ms, SD %4 ms, %5 of %6 clicks")
        .arg(result.time.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
             result.throughMonitor ? QStringLiteral("monitor") : result.input, ms(result.meanMs), ms(result.sdMs))
        .arg(result.found)
        .arg(result.played);
}

void storeTimingCheck(const TimingCheckResult &result)
{
    if (result.output.isEmpty())
        return;
    const auto settings = rememberedSettings();
    settings->beginGroup(settingsGroup);
    settings->beginGroup(keyFor(result.output));
    settings->setValue(QStringLiteral("time"), isoWithOffset(result.time));
    settings->setValue(QStringLiteral("input"), result.input);
    settings->setValue(QStringLiteral("throughMonitor"), result.throughMonitor);
    settings->setValue(QStringLiteral("played"), result.played);
    settings->setValue(QStringLiteral("found"), result.found);
    settings->setValue(QStringLiteral("meanMs"), result.meanMs);
    settings->setValue(QStringLiteral("sdMs"), result.sdMs);
    settings->setValue(QStringLiteral("minMs"), result.minMs);
    settings->setValue(QStringLiteral("maxMs"), result.maxMs);
    settings->setValue(QStringLiteral("sinkLatencyMs"), result.sinkLatencyMs);
    settings->endGroup();
    settings->endGroup();
    settings->sync();
}

TimingCheckResult storedTimingCheck(const QString &output)
{
    const auto settings = rememberedSettings();
    settings->beginGroup(settingsGroup);
    settings->beginGroup(keyFor(output));
    TimingCheckResult result;
    result.time = QDateTime::fromString(settings->value(QStringLiteral("time")).toString(), Qt::ISODate);
    result.output = output;
    result.input = settings->value(QStringLiteral("input")).toString();
    result.throughMonitor = settings->value(QStringLiteral("throughMonitor")).toBool();
    result.played = settings->value(QStringLiteral("played")).toInt();
    result.found = settings->value(QStringLiteral("found")).toInt();
    result.meanMs = settings->value(QStringLiteral("meanMs")).toDouble();
    result.sdMs = settings->value(QStringLiteral("sdMs")).toDouble();
    result.minMs = settings->value(QStringLiteral("minMs")).toDouble();
    result.maxMs = settings->value(QStringLiteral("maxMs")).toDouble();
    result.sinkLatencyMs = settings->value(QStringLiteral("sinkLatencyMs")).toDouble();
    // A stored result that cannot be read back whole is none.
    if (!result.time.isValid() || result.found > result.played)
        return TimingCheckResult();
    return result;
}

bool anyTimingCheckStored()
{
    const auto settings = rememberedSettings();
    settings->beginGroup(settingsGroup);
    return !settings->childGroups().isEmpty();
}
