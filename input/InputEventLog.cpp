#include "input/InputEventLog.h"

#include "input/WindowSystemTime.h"

#include <chrono>

namespace {

bool isButton(RawInputEvent::Kind kind)
{
    return kind == RawInputEvent::Kind::ButtonPress || kind == RawInputEvent::Kind::ButtonRelease;
}

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void InputEventLog::add(const RawInputEvent &event)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        while (entries.size() >= size_t(capacity))
            entries.pop_front();
        entries.push_back({event, false});
    }
    added.notify_all();
}

std::optional<RawInputEvent> InputEventLog::take(const InputQuery &query, InputTimeSource source, qint64 waitUntilNs)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (std::optional<RawInputEvent> found = findLocked(query, source))
            return found;
        const bool live = source == InputTimeSource::Evdev ? evdevLive : xinputLive;
        if (!live || steadyNowNs() >= waitUntilNs)
            return std::nullopt;
        added.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(waitUntilNs)));
    }
}

std::optional<RawInputEvent> InputEventLog::findLocked(const InputQuery &query, InputTimeSource source)
{
    // An event made inside the program carries no time of the window system.
    if (query.windowTimeMs == 0)
        return std::nullopt;

    Entry *best = nullptr;
    bool bestCodeMatches = false;
    if (source == InputTimeSource::XInput2) {
        const quint32 serverTimeMs = quint32(query.windowTimeMs);
        for (Entry &entry : entries) {
            const RawInputEvent &event = entry.event;
            if (entry.used || event.source != source || event.kind != query.kind || event.serverTimeMs < 0
                || quint32(event.serverTimeMs) != serverTimeMs
                || query.arrivalNs - event.stampNs > WindowSystemTime::maxLagNs)
                continue;
            const bool codeMatches = event.code == query.code;
            if (!codeMatches && !isButton(event.kind))
                continue;
            // The earliest of equals: two events in one millisecond reach
            // the window in the order they happened.
            if (!best || (codeMatches && !bestCodeMatches)) {
                best = &entry;
                bestCodeMatches = codeMatches;
            }
        }
    } else if (source == InputTimeSource::Evdev) {
        const qint64 millisecondNs = WindowSystemTime::millisecondStartNs(query.windowTimeMs, query.arrivalNs);
        if (millisecondNs == 0)
            return std::nullopt;
        const qint64 latestNs = millisecondNs + 1'000'000;
        for (Entry &entry : entries) {
            const RawInputEvent &event = entry.event;
            if (entry.used || event.source != source || event.kind != query.kind || event.stampNs > latestNs
                || event.stampNs < millisecondNs - evdevMaxLeadNs)
                continue;
            const bool codeMatches = event.code == query.code;
            if (!codeMatches && !isButton(event.kind))
                continue;
            // The latest before the window system's time is the one it saw.
            if (!best || (codeMatches && !bestCodeMatches)
                || (codeMatches == bestCodeMatches && event.stampNs >= best->event.stampNs)) {
                best = &entry;
                bestCodeMatches = codeMatches;
            }
        }
    }
    if (!best)
        return std::nullopt;
    best->used = true;
    return best->event;
}

void InputEventLog::setLive(InputTimeSource source, bool live)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (source == InputTimeSource::Evdev)
            evdevLive = live;
        else if (source == InputTimeSource::XInput2)
            xinputLive = live;
    }
    added.notify_all();
}

bool InputEventLog::isLive(InputTimeSource source) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return source == InputTimeSource::Evdev ? evdevLive : source == InputTimeSource::XInput2 && xinputLive;
}

int InputEventLog::size() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(entries.size());
}
