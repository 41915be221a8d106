#include "calibration/Calibration.h"

#include <QSettings>

#include <cmath>
#include <limits>
#include <numeric>

QString Calibration::headerFields() const
{
    QStringList fields{QStringLiteral("1000 Hz at -20.0 dBFS RMS")};
    static const char *const ears[] = {"left ", "right "};
    for (int i = 0; i < readingsDbSpl.size(); ++i) {
        fields.append((readingsDbSpl.size() == 2 ? QString::fromLatin1(ears[i]) : QString())
                      + QString::number(readingsDbSpl[i], 'f', 1) + QStringLiteral(" dB SPL"));
    }
    fields.append(weighting);
    fields.append(date.toOffsetFromUtc(date.offsetFromUtc()).toString(Qt::ISODate));
    fields.append(deviceState.volumeText());
    return fields.join(QLatin1Char('\t'));
}

double Calibration::levelDbSpl(double rms) const
{
    if (readingsDbSpl.isEmpty() || std::isinf(rms) || std::isnan(rms))
        return std::numeric_limits<double>::quiet_NaN();
    return readingsDbSpl.first() + rms - toneRmsDbfs;
}

QVector<float> calibrationTone(int rateHz, double seconds)
{
    // One block holds a whole number of periods: rate / gcd(rate, 1000)
    // samples make 1000 / gcd(rate, 1000) periods.
    const int block = rateHz / std::gcd(rateHz, 1000);
    const qint64 blocks = std::max<qint64>(1, std::llround(seconds * rateHz / block));
    QVector<float> tone(int(blocks * block));
    const double peak = std::sqrt(2.0) * std::pow(10.0, Calibration::toneRmsDbfs / 20.0);
    for (int i = 0; i < tone.size(); ++i) {
        // The phase from the position within its block, so that it repeats
        // exactly however long the tone is.
        const double phase = 2.0 * M_PI * Calibration::toneHz * double(i % block) / rateHz;
        tone[i] = float(peak * std::sin(phase));
    }
    return tone;
}

double rmsDbfs(const double *samples, qint64 count, int stride)
{
    if (count <= 0)
        return -std::numeric_limits<double>::infinity();
    long double sum = 0.0L;
    for (qint64 i = 0; i < count; ++i) {
        // As played: the stream carries 32-bit floats.
        const double v = double(float(samples[i * stride]));
        sum += static_cast<long double>(v) * v;
    }
    const double rms = std::sqrt(double(sum / count));
    return rms > 0.0 ? 20.0 * std::log10(rms) : -std::numeric_limits<double>::infinity();
}

namespace {


// A device name as a settings key: its characters kept, '/' and '\' (which
// the settings take as group separators) escaped.
QString keyFor(const QString &device)
{
    return QStringLiteral("calibration/") + QString::fromLatin1(device.toUtf8().toPercentEncoding());
}

} // namespace

Calibration loadCalibration(const QString &device)
{
    Calibration calibration;
    if (device.isEmpty())
        return calibration;
    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"), QStringLiteral("tarquel"));
    stored.beginGroup(keyFor(device));
    const QStringList readings = stored.value(QStringLiteral("readings")).toStringList();
    for (const QString &reading : readings) {
        bool ok = false;
        const double value = reading.toDouble(&ok);
        if (ok && std::isfinite(value))
            calibration.readingsDbSpl.append(value);
    }
    if (calibration.readingsDbSpl.isEmpty() || calibration.readingsDbSpl.size() > 2)
        return Calibration();
    calibration.device = device;
    calibration.weighting = stored.value(QStringLiteral("weighting")).toString();
    calibration.date = QDateTime::fromString(stored.value(QStringLiteral("date")).toString(), Qt::ISODate);
    OutputDeviceState &state = calibration.deviceState;
    state.known = true;
    state.device = device;
    state.muted = false;
    state.portName = stored.value(QStringLiteral("port")).toString();
    state.portDescription = stored.value(QStringLiteral("portDescription")).toString();
    const QStringList names = stored.value(QStringLiteral("channels")).toStringList();
    const QStringList percents = stored.value(QStringLiteral("volumes")).toStringList();
    for (int i = 0; i < names.size() && i < percents.size(); ++i) {
        OutputDeviceState::Channel channel;
        channel.name = names[i];
        channel.percent = percents[i].toDouble();
        channel.dB = volumePercentToDb(channel.percent);
        state.channels.append(channel);
    }
    return calibration;
}

void saveCalibration(const Calibration &calibration)
{
    if (!calibration.isValid())
        return;
    QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"), QStringLiteral("tarquel"));
    stored.remove(keyFor(calibration.device));
    stored.beginGroup(keyFor(calibration.device));
    QStringList readings, names, percents;
    for (double reading : calibration.readingsDbSpl)
        readings.append(QString::number(reading, 'g', 10));
    for (const OutputDeviceState::Channel &channel : calibration.deviceState.channels) {
        names.append(channel.name);
        // Kept to the volume's own resolution, so that the level compares
        // exactly when the device is set the same again.
        percents.append(QString::number(channel.percent, 'g', 17));
    }
    stored.setValue(QStringLiteral("readings"), readings);
    stored.setValue(QStringLiteral("weighting"), calibration.weighting);
    stored.setValue(QStringLiteral("date"), calibration.date.toString(Qt::ISODate));
    stored.setValue(QStringLiteral("channels"), names);
    stored.setValue(QStringLiteral("volumes"), percents);
    stored.setValue(QStringLiteral("port"), calibration.deviceState.portName);
    stored.setValue(QStringLiteral("portDescription"), calibration.deviceState.portDescription);
    stored.endGroup();
    stored.sync();
}
