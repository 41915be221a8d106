#ifndef XTESTINPUT_H
#define XTESTINPUT_H

// Real input through the X server, as a person's mouse and keyboard give it:
// the XTEST extension on a connection of its own, used from a thread of the
// test's own, so that the program handles it exactly as a device's input.
// (The X headers stay in XTestInput.cpp: their macros clash with Qt's names.)

#include <QtGlobal>

class XTestInput
{
public:
    XTestInput() = default;
    ~XTestInput();
    XTestInput(const XTestInput &) = delete;
    XTestInput &operator=(const XTestInput &) = delete;

    // Connects to $DISPLAY; false without an X server or XTEST.
    bool open();

    // Each sends one event and returns once the server has handled it; the
    // result is the monotonic time just before the request left, nanoseconds.
    qint64 button(unsigned button, bool down);
    qint64 key(unsigned keycode, bool down);
    void moveTo(int x, int y);   // on the screen, pixels

    static qint64 nowNs();
    static void sleepUntil(qint64 ns);

private:
    struct _XDisplay *display = nullptr;
};

#endif // XTESTINPUT_H
