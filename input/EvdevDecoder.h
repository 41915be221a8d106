#ifndef EVDEVDECODER_H
#define EVDEVDECODER_H

#include "input/InputEventLog.h"

#include <vector>

// One event as the kernel's input device (evdev) delivers it: struct
// input_event, copied field by field so that the decoding needs no device and
// no particular layout of the struct. The time is the kernel's stamp of the
// event, on CLOCK_MONOTONIC once the reader has set EVIOCSCLOCKID.
struct EvdevEvent
{
    qint64 seconds = 0;
    qint64 microseconds = 0;
    quint16 type = 0;    // EV_SYN, EV_KEY, ...
    quint16 code = 0;    // KEY_2, BTN_LEFT, SYN_REPORT, ...
    qint32 value = 0;    // for EV_KEY: 1 press, 0 release, 2 repeat
};

// Turns one device's evdev events into raw input events: key and button
// presses and releases, stamped with the kernel's time. Repeats (a key held
// down) are not presses. After SYN_DROPPED (the kernel's buffer overflowed)
// the events up to the next SYN_REPORT are incomplete and are skipped, as the
// kernel's documentation asks. One decoder per device: it keeps that state.
class EvdevDecoder
{
public:
    std::vector<RawInputEvent> decode(const EvdevEvent *events, int count);

    // The X server's numbering of an evdev key or button code: keys are the
    // kernel's code + 8; the mouse's left, middle and right buttons (and
    // its side buttons) are X buttons 1, 2, 3 (8, 9). 0: not a key or button
    // a window can receive.
    static quint32 xCode(quint16 evdevCode, bool *isButton);

private:
    bool dropping = false;
};

#endif // EVDEVDECODER_H
