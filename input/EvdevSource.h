#ifndef EVDEVSOURCE_H
#define EVDEVSOURCE_H

#include <QString>

#include <memory>

class InputEventLog;

// A thread that reads the kernel's input devices (/dev/input/event*) that
// have keys or mouse buttons, each set to stamp its events on the monotonic
// clock (EVIOCSCLOCKID), and adds their presses and releases to the log. The
// kernel stamps an event when the device reports it, to the microsecond,
// before any program sees it. The devices are never grabbed: every other
// program gets the events as before. Devices plugged in later are picked up
// within a few seconds.
//
// Reading them needs an account in the `input` group, which can then read
// every keystroke on the computer.
class EvdevSource
{
public:
    // Null, with the reason in *whyNot, when no keyboard or mouse can be read.
    static std::unique_ptr<EvdevSource> start(InputEventLog *log, QString *whyNot);
    ~EvdevSource();

    EvdevSource(const EvdevSource &) = delete;
    EvdevSource &operator=(const EvdevSource &) = delete;

    struct Private;

private:
    explicit EvdevSource(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

#endif // EVDEVSOURCE_H
