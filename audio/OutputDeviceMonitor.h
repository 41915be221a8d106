#ifndef OUTPUTDEVICEMONITOR_H
#define OUTPUTDEVICEMONITOR_H

#include "audio/OutputDeviceState.h"

#include <QObject>

#include <memory>

// Watches an output device's volume, mute state and active port through
// libpulse, which PulseAudio and PipeWire's pulse server both speak, so it
// serves whichever engine plays. start() reads the state once (blocking a
// few milliseconds) and from then on stateChanged() follows every change
// the server announces, on the thread the monitor lives in.
class OutputDeviceMonitor : public QObject
{
    Q_OBJECT

public:
    explicit OutputDeviceMonitor(QObject *parent = nullptr);
    ~OutputDeviceMonitor() override;

    // device: the server's name for it; empty: the server's default output.
    // Returns the state now; a state that is not known when no server
    // answers or the device is not there.
    OutputDeviceState start(const QString &device);
    void stop();
    OutputDeviceState state() const;

    // The state once, on a short connection of its own.
    static OutputDeviceState read(const QString &device);

    struct Connection;

signals:
    void stateChanged(const OutputDeviceState &state);

private:
    std::unique_ptr<Connection> d;
};

#endif // OUTPUTDEVICEMONITOR_H
