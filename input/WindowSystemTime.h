#ifndef WINDOWSYSTEMTIME_H
#define WINDOWSYSTEMTIME_H

#include <QtGlobal>

// The window system's own time of an input event, as Qt hands it over
// (QInputEvent::timestamp(), whole milliseconds), placed on the monotonic
// clock.
//
// Under X11 (Qt's xcb platform) it is the X server's time of the event: the
// server's millisecond clock, CLOCK_MONOTONIC truncated to whole milliseconds
// (the X server's GetTimeInMillis; CLOCK_MONOTONIC_COARSE only on kernels
// whose tick is 1 ms or finer), 32 bits wide, so it wraps every 49.7 days.
// The server takes it when it processes the event: for a real device after
// the device's own delay, for XTEST when the request is handled. Under
// Wayland the compositor passes libinput's time, the kernel's CLOCK_MONOTONIC
// time of the event in milliseconds, 32 bits too. Events made inside the
// program (Qt Test, accessibility tools) carry no such time: 0, or a count of
// their own.
//
// The time is taken on the monotonic clock only where it fits there: not
// after the event's arrival in the program and not more than maxLagNs before
// it. Anything else (an event made inside the program, an X server on
// another computer) has no usable time.
namespace WindowSystemTime {

// Longer than the GUI thread is ever held up, far shorter than a wrap.
constexpr qint64 maxLagNs = 30'000'000'000;

// The start of the event's millisecond on the monotonic clock, nanoseconds;
// 0 where the time does not fit (see above). arrivalNs: when the program
// handled the event, monotonic clock.
qint64 millisecondStartNs(quint64 timestampMs, qint64 arrivalNs);

// The event's time as the best single estimate: the middle of its
// millisecond (the time was truncated to it), never later than its arrival.
// 0 where the time does not fit.
qint64 estimateNs(quint64 timestampMs, qint64 arrivalNs);

} // namespace WindowSystemTime

#endif // WINDOWSYSTEMTIME_H
