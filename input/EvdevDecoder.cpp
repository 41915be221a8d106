#include "input/EvdevDecoder.h"

#include <linux/input.h>

quint32 EvdevDecoder::xCode(quint16 evdevCode, bool *isButton)
{
    *isButton = false;
    switch (evdevCode) {
    case BTN_LEFT:
        *isButton = true;
        return 1;
    case BTN_MIDDLE:
        *isButton = true;
        return 2;
    case BTN_RIGHT:
        *isButton = true;
        return 3;
    case BTN_SIDE:
        *isButton = true;
        return 8;
    case BTN_EXTRA:
        *isButton = true;
        return 9;
    default:
        break;
    }
    // Other buttons (joysticks, pens, touch) reach no window as a click or a
    // key; X keycodes end at 255.
    if (evdevCode >= BTN_MISC && evdevCode < KEY_OK)
        return 0;
    if (evdevCode + 8 > 255)
        return 0;
    return quint32(evdevCode) + 8;
}

std::vector<RawInputEvent> EvdevDecoder::decode(const EvdevEvent *events, int count)
{
    std::vector<RawInputEvent> decoded;
    for (int i = 0; i < count; ++i) {
        const EvdevEvent &event = events[i];
        if (event.type == EV_SYN) {
            if (event.code == SYN_DROPPED)
                dropping = true;
            else if (event.code == SYN_REPORT)
                dropping = false;
            continue;
        }
        if (dropping || event.type != EV_KEY || (event.value != 0 && event.value != 1))
            continue;
        bool button = false;
        const quint32 code = xCode(event.code, &button);
        if (code == 0)
            continue;
        RawInputEvent raw;
        if (button)
            raw.kind = event.value == 1 ? RawInputEvent::Kind::ButtonPress : RawInputEvent::Kind::ButtonRelease;
        else
            raw.kind = event.value == 1 ? RawInputEvent::Kind::KeyPress : RawInputEvent::Kind::KeyRelease;
        raw.code = code;
        raw.stampNs = event.seconds * 1'000'000'000 + event.microseconds * 1000;
        raw.source = InputTimeSource::Evdev;
        decoded.push_back(raw);
    }
    return decoded;
}
