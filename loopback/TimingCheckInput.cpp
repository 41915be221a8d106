#include "loopback/TimingCheckInput.h"

bool AudioInputDescription::isLineInput() const
{
    // PulseAudio's and PipeWire's ALSA profiles name the port
    // "analog-input-linein"; other cards "line-in" or "line_in".
    const QString port = activePort.toLower();
    return !isMonitor()
           && (port.contains(QLatin1String("linein")) || port.contains(QLatin1String("line-in"))
               || port.contains(QLatin1String("line_in")));
}

QString proposedTimingCheckInput(const QVector<AudioInputDescription> &inputs, const QString &output,
                                 const QString &lastInput)
{
    for (const AudioInputDescription &input : inputs) {
        if (!lastInput.isEmpty() && input.name == lastInput)
            return input.name;
    }
    for (const AudioInputDescription &input : inputs) {
        if (input.isLineInput())
            return input.name;
    }
    for (const AudioInputDescription &input : inputs) {
        if (input.monitorOf == output)
            return input.name;
    }
    return inputs.isEmpty() ? QString() : inputs.first().name;
}
