#ifndef OUTPUTLEVELWATCH_H
#define OUTPUTLEVELWATCH_H

#include "audio/OutputDeviceState.h"
#include "calibration/Calibration.h"

#include <QObject>
#include <QStringList>

class OutputDeviceMonitor;

// The output device's level for one run: its volume, mute state and port at
// "Go", the calibration stored for it, and every change during the run, for
// the journal (notes before the next answer's row) and for the experimenter
// (changed(), at once).
class OutputLevelWatch : public QObject
{
    Q_OBJECT

public:
    explicit OutputLevelWatch(QObject *parent = nullptr);
    ~OutputLevelWatch() override;

    // Reads the device (its name as the server gives it; empty: the
    // server's default) and its calibration, and watches it from now on.
    void startRun(const QString &device);
    void stopRun();

    const OutputDeviceState &stateAtStart() const { return atStart; }
    const Calibration &calibration() const { return stored; }
    // Why the run must not start (a muted device, a volume of 0); empty
    // when it may.
    QString refusal() const;
    // The calibration's volume or port differs from the device's now: what
    // the experimenter is warned of before going on; empty when they agree
    // or there is no calibration.
    QString calibrationMismatch() const;
    // Levels in dB SPL hold for this run: a calibration made at the volume
    // and port the device had throughout.
    bool levelsHold() const;
    // The changes since the last call, as the journal notes them.
    QStringList takeNotes();

signals:
    void changed(const QString &text);

private:
    void deviceChanged(const OutputDeviceState &state);

    OutputDeviceMonitor *monitor = nullptr;
    OutputDeviceState atStart;
    OutputDeviceState latest;
    Calibration stored;
    QStringList notes;
    bool changedDuringRun = false;
};

#endif // OUTPUTLEVELWATCH_H
