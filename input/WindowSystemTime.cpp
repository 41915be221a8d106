#include "input/WindowSystemTime.h"

#include <algorithm>

namespace WindowSystemTime {

qint64 millisecondStartNs(quint64 timestampMs, qint64 arrivalNs)
{
    if (timestampMs == 0 || arrivalNs <= 0)
        return 0;
    // Both taken as 32-bit millisecond counts, the width the window systems
    // send; the difference, modulo 2^32, is how long before its arrival the
    // event was stamped.
    const qint64 arrivalMs = arrivalNs / 1'000'000;
    const quint32 lagMs = quint32(quint64(arrivalMs) - timestampMs);
    if (qint64(lagMs) * 1'000'000 > maxLagNs)
        return 0;
    return (arrivalMs - qint64(lagMs)) * 1'000'000;
}

qint64 estimateNs(quint64 timestampMs, qint64 arrivalNs)
{
    const qint64 startNs = millisecondStartNs(timestampMs, arrivalNs);
    if (startNs == 0)
        return 0;
    return std::min(startNs + 500'000, arrivalNs);
}

} // namespace WindowSystemTime
