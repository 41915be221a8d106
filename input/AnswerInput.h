#ifndef ANSWERINPUT_H
#define ANSWERINPUT_H

#include "input/InputEventLog.h"
#include "input/InputTime.h"

#include <memory>

class EvdevSource;
class QInputEvent;
class QKeyEvent;
class XInputRawSource;

// The time of each press and release the listener's window handles, taken
// from the best source the system offers, best first:
//   1. evdev: the kernel's stamp, where the input devices can be read;
//   2. XInput2 raw events, received by a thread of their own (X11);
//   3. the window system's own time of the event (whole milliseconds);
//   4. the event's arrival in the program, for events made inside the
//      program (Qt Test, accessibility tools), which carry no time.
// Each event is timed by the best source that saw it. One per program: the
// sources' threads start with the first use and run until the program ends.
class AnswerInput
{
public:
    static AnswerInput &shared();
    ~AnswerInput();

    // The best source that runs: what the journal names.
    InputTimeSource bestSource() const;

    // The time of a mouse button's press or release, or a key's press or
    // release, that the GUI thread is handling now. Where a source's thread
    // has not yet seen the event, waits for it a few milliseconds at most.
    InputStamp timeOf(const QInputEvent *event);

    // A key's X keycode, where the platform gives it (X11, Wayland); 0
    // elsewhere.
    static quint32 xKeycode(const QKeyEvent *event);

    InputEventLog &log() { return events; }

    // How long the GUI thread waits for a source's thread to see an event
    // the window system has already delivered.
    static constexpr qint64 xinputWaitNs = 20'000'000;
    static constexpr qint64 evdevWaitNs = 5'000'000;

private:
    AnswerInput();

    InputEventLog events;
    std::unique_ptr<EvdevSource> evdev;
    std::unique_ptr<XInputRawSource> xinput;
    bool windowSystemEvents = true;   // false: no event comes from a window system
};

#endif // ANSWERINPUT_H
