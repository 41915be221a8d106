#ifndef XINPUTRAWSOURCE_H
#define XINPUTRAWSOURCE_H

#include <QByteArray>
#include <QString>

#include <memory>

class InputEventLog;

// A thread with its own connection to the X server that receives the XInput2
// raw events of every key and button (XI_RawKeyPress/Release,
// XI_RawButtonPress/Release, from the master devices) and stamps each on the
// monotonic clock as it arrives, whatever the GUI thread is busy with. It
// asks for XInput 2.2: before it, the server holds raw events back while a
// button press's implicit grab lasts, so a click's release would be lost.
// Each event keeps the X server's time, which the window's own event carries
// too, so that the two can be matched (InputEventLog).
class XInputRawSource
{
public:
    // Connects to displayName (empty: $DISPLAY) and starts the thread. Null,
    // with the reason in *whyNot, when there is no X server, no XInput 2.2,
    // or the program was built without libXi.
    static std::unique_ptr<XInputRawSource> start(const QByteArray &displayName, InputEventLog *log,
                                                  QString *whyNot);
    ~XInputRawSource();

    XInputRawSource(const XInputRawSource &) = delete;
    XInputRawSource &operator=(const XInputRawSource &) = delete;

    struct Private;

private:
    explicit XInputRawSource(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

#endif // XINPUTRAWSOURCE_H
