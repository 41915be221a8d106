#ifndef INPUTEVENTLOG_H
#define INPUTEVENTLOG_H

#include "input/InputTime.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

// One press or release as a source of raw input saw it, before the window
// system handed it to any window.
struct RawInputEvent
{
    enum class Kind { ButtonPress, ButtonRelease, KeyPress, KeyRelease };

    Kind kind = Kind::KeyPress;
    // In the X server's numbering: a key's keycode (the kernel's key code +
    // 8), a button's number (1 left, 2 middle, 3 right) as the device sends
    // it, before any left-handed mapping.
    quint32 code = 0;
    qint64 stampNs = 0;          // monotonic clock: when the source saw it
    // The X server's time of the event (milliseconds, 32 bits), which the
    // window system's own event carries too; -1 where the source has none.
    qint64 serverTimeMs = -1;
    InputTimeSource source = InputTimeSource::Evdev;
    bool synthetic = false;      // made by a program (the XTEST extension), not by a device
};

// What is known of an input event the program is handling now.
struct InputQuery
{
    RawInputEvent::Kind kind = RawInputEvent::Kind::KeyPress;
    quint32 code = 0;            // as in RawInputEvent; 0 where unknown
    quint64 windowTimeMs = 0;    // QInputEvent::timestamp(); 0 where none
    qint64 arrivalNs = 0;        // monotonic clock: when the program handled it
};

// The raw input events of the last few seconds, written by the sources'
// threads and read by the GUI thread, which finds the raw event behind each
// event the window system delivered:
//
//   - XInput2: the raw event and the window's event share the X server's time
//     of the event to the millisecond, and the kind; the code must match too,
//     except for buttons, whose number a left-handed mapping changes.
//   - evdev: the kernel stamped the event before the window system saw it, so
//     it is the latest event of that kind and code stamped no later than the
//     end of the window system's millisecond, and not long before it.
//
// Each raw event serves one event at most. An event made inside the program
// has no window-system time and therefore never matches.
class InputEventLog
{
public:
    // Older events are dropped; a few seconds of fast typing fit.
    static constexpr int capacity = 512;
    // How far before the window system's time a kernel stamp may lie: the X
    // server handles an event within milliseconds unless the computer is
    // badly overloaded, and a Wayland compositor passes the kernel's own
    // time on. Kept short, so that a press of the same key seconds before
    // (in another window) is never taken for this one while its own kernel
    // event is still on its way to the reader.
    static constexpr qint64 evdevMaxLeadNs = 100'000'000;

    void add(const RawInputEvent &event);

    // The raw event of `source` behind `query`, marked as used. Waits until
    // waitUntilNs (monotonic) for it to come, when a source's thread has not
    // yet seen it; no wait when waitUntilNs has passed.
    std::optional<RawInputEvent> take(const InputQuery &query, InputTimeSource source, qint64 waitUntilNs);

    // Whether a source delivers events now (its thread runs).
    void setLive(InputTimeSource source, bool live);
    bool isLive(InputTimeSource source) const;

    // Tests and measuring runs: events held now.
    int size() const;

private:
    struct Entry
    {
        RawInputEvent event;
        bool used = false;
    };
    std::optional<RawInputEvent> findLocked(const InputQuery &query, InputTimeSource source);

    mutable std::mutex mutex;
    std::condition_variable added;
    std::deque<Entry> entries;
    bool evdevLive = false;
    bool xinputLive = false;
};

#endif // INPUTEVENTLOG_H
