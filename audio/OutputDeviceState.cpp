#include "audio/OutputDeviceState.h"

#include <cmath>
#include <limits>

namespace {

QString decibels(double dB)
{
    if (std::isinf(dB) && dB < 0)
        return QStringLiteral("-inf dB");
    return QString::number(dB, 'f', 2) + QStringLiteral(" dB");
}

} // namespace

double volumePercentToDb(double percent)
{
    if (percent <= 0.0)
        return -std::numeric_limits<double>::infinity();
    return 60.0 * std::log10(percent / 100.0);
}

QString OutputDeviceState::volumeText() const
{
    if (!known || channels.isEmpty())
        return QStringLiteral("NA");
    QStringList fields;
    for (const Channel &channel : channels) {
        fields.append(channel.name + QLatin1Char(' ') + QString::number(channel.percent, 'f', 0) + QStringLiteral(" % (")
                      + decibels(channel.dB) + QLatin1Char(')'));
    }
    return fields.join(QLatin1Char('\t'));
}

QString OutputDeviceState::mutedText() const
{
    if (!known)
        return QStringLiteral("NA");
    return muted ? QStringLiteral("yes") : QStringLiteral("no");
}

QString OutputDeviceState::portText() const
{
    if (!known || portName.isEmpty())
        return QStringLiteral("NA");
    return portDescription.isEmpty() ? portName : portName + QStringLiteral(" (") + portDescription + QLatin1Char(')');
}

bool OutputDeviceState::silent() const
{
    if (!known)
        return false;
    if (muted)
        return true;
    for (const Channel &channel : channels) {
        if (channel.percent > 0.0)
            return false;
    }
    return !channels.isEmpty();
}

bool OutputDeviceState::sameLevelAs(const OutputDeviceState &other) const
{
    if (known != other.known || portName != other.portName || channels.size() != other.channels.size())
        return false;
    for (int i = 0; i < channels.size(); ++i) {
        const double a = channels[i].dB, b = other.channels[i].dB;
        if (channels[i].name != other.channels[i].name)
            return false;
        if (std::isinf(a) || std::isinf(b) ? a != b : std::abs(a - b) > 0.005)
            return false;
    }
    return true;
}

QStringList outputDeviceChanges(const OutputDeviceState &before, const OutputDeviceState &after)
{
    QStringList changes;
    if (!before.known || !after.known)
        return changes;
    if (before.volumeText() != after.volumeText()) {
        changes.append(QStringLiteral("the output device's volume changed from ") + before.volumeText()
                       + QStringLiteral(" to ") + after.volumeText());
    }
    if (before.muted != after.muted)
        changes.append(after.muted ? QStringLiteral("the output device was muted")
                                   : QStringLiteral("the output device was unmuted"));
    if (before.portText() != after.portText()) {
        changes.append(QStringLiteral("the output device's port changed from ") + before.portText()
                       + QStringLiteral(" to ") + after.portText());
    }
    return changes;
}
