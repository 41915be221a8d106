#include "input/InputTime.h"

QString inputTimeSourceName(InputTimeSource source)
{
    switch (source) {
    case InputTimeSource::Evdev:
        return QStringLiteral("evdev");
    case InputTimeSource::XInput2:
        return QStringLiteral("XInput2 raw events");
    case InputTimeSource::WindowSystem:
        return QStringLiteral("window-system time");
    case InputTimeSource::Arrival:
        break;
    }
    return QStringLiteral("arrival in the program");
}

double AnswerTiming::heldMs() const
{
    if (byKey || press.source == InputTimeSource::Arrival || given.source == InputTimeSource::Arrival)
        return -1.0;
    return double(given.ns - press.ns) / 1e6;
}

AnswerTiming AnswerTiming::atArrival(qint64 arrivalNs, bool byKey)
{
    AnswerTiming timing;
    timing.valid = true;
    timing.press = {arrivalNs, InputTimeSource::Arrival};
    timing.given = timing.press;
    timing.byKey = byKey;
    return timing;
}
