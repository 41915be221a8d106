#include "XTestInput.h"

#include <ctime>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

XTestInput::~XTestInput()
{
    if (display)
        XCloseDisplay(display);
}

bool XTestInput::open()
{
    display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    return display && XTestQueryExtension(display, &event, &error, &major, &minor);
}

qint64 XTestInput::button(unsigned button, bool down)
{
    const qint64 sentNs = nowNs();
    XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
    XSync(display, False);
    return sentNs;
}

qint64 XTestInput::key(unsigned keycode, bool down)
{
    const qint64 sentNs = nowNs();
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
    XSync(display, False);
    return sentNs;
}

void XTestInput::moveTo(int x, int y)
{
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
}

qint64 XTestInput::nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void XTestInput::sleepUntil(qint64 ns)
{
    const timespec until{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
    }
}
