#ifndef INPUTTIME_H
#define INPUTTIME_H

#include <QString>

// Where the time of one of the listener's presses or releases came from, best
// first. Times are nanoseconds on the monotonic clock (CLOCK_MONOTONIC, the
// clock of monotonicNowNs() and of the audio servers).
enum class InputTimeSource {
    Evdev,          // the kernel's input device stamped it, to the microsecond
    XInput2,        // a thread of its own received the X server's raw event
    WindowSystem,   // the window system's own time of the event, whole milliseconds
    Arrival         // none of these: the moment the program handled it
};

// The source as the journal names it: "evdev", "XInput2 raw events",
// "window-system time", "arrival in the program".
QString inputTimeSourceName(InputTimeSource source);

// The time of one press or release, and where it came from.
struct InputStamp
{
    qint64 ns = 0;
    InputTimeSource source = InputTimeSource::Arrival;

    // The latest the event can have happened: a window-system time is the
    // middle of its whole millisecond.
    qint64 latestNs() const { return source == InputTimeSource::WindowSystem ? ns + 500'000 : ns; }
};

// How one message of the listener was given, in time. A click gives its
// answer at the release and a key at its press; the reaction time ends at the
// press in both cases.
struct AnswerTiming
{
    bool valid = false;   // false: nothing was stamped (set by whoever reads it)
    InputStamp press;     // the button went down on the button that then clicked, or the key went down
    InputStamp given;     // the click's release, or the key's press
    bool byKey = false;

    // Press to release of a click, milliseconds; negative where there is
    // none: for a key (its release comes after the answer is written) and
    // for a click whose press or release was only timed at its arrival.
    double heldMs() const;

    // Both ends at one moment: for messages that carry no time of their own.
    static AnswerTiming atArrival(qint64 arrivalNs, bool byKey = false);
};

#endif // INPUTTIME_H
