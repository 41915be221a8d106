#ifndef OUTPUTDEVICESTATE_H
#define OUTPUTDEVICESTATE_H

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>

// The output device's own settings, which decide the level the listener
// hears on top of the program's stream (set to 100 % at every start): its
// volume per channel, whether it is muted, and its active port (headphones
// or speakers), as the sound server reports them.
struct OutputDeviceState
{
    struct Channel
    {
        QString name;      // "front-left", "mono", ...
        double percent = 0.0;   // the server's volume scale: 100 % is full, the scale is cubic
        double dB = 0.0;        // the same as a gain; -inf for 0 %
    };

    bool known = false;         // false: no server could tell
    QString device;             // the device's name, as the server names it
    QVector<Channel> channels;
    bool muted = false;
    QString portName;           // empty: the device has no ports
    QString portDescription;

    // In the journal's form: "front-left 60 % (-13.31 dB)<TAB>front-right
    // 60 % (-13.31 dB)"; "no"/"yes"; "analog-output-headphones (Headphones)"
    // or "NA".
    QString volumeText() const;
    QString mutedText() const;
    QString portText() const;

    // Nothing can be heard: muted, or every channel at 0 %.
    bool silent() const;
    // The same volume on every channel (to 0.01 dB) and the same port.
    bool sameLevelAs(const OutputDeviceState &other) const;
};
Q_DECLARE_METATYPE(OutputDeviceState)

// The server's volume scale is cubic: percent = 100 x gain^(1/3).
double volumePercentToDb(double percent);

// What changed from before to after, as the journal notes it ("the output
// device's volume changed from <old> to <new>", "the output device was
// muted" or "unmuted", "the output device's port changed from <old> to
// <new>"); empty when nothing did.
QStringList outputDeviceChanges(const OutputDeviceState &before, const OutputDeviceState &after);

#endif // OUTPUTDEVICESTATE_H
