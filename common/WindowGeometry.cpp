#include "common/WindowGeometry.h"

#include <algorithm>

namespace {

double clampFraction(double fraction)
{
    // NaN falls through both comparisons of std::clamp unchanged; treat it as 0.
    if (!(fraction >= 0.0))
        return 0.0;
    return std::min(fraction, 1.0);
}

} // namespace

QRect windowGeometry(const QSize &available, bool centered,
                     double widthFraction, double heightFraction,
                     const QPoint &currentPosition)
{
    const int availableWidth = available.width();
    const int availableHeight = available.height();
    const int width = static_cast<int>(availableWidth * clampFraction(widthFraction));
    const int height = static_cast<int>(availableHeight * clampFraction(heightFraction));

    int x;
    int y;
    if (centered) {
        x = (availableWidth - width) / 2;
        y = (availableHeight - height) / 2;
    } else {
        x = std::max(currentPosition.x(), 5);
        y = std::max(currentPosition.y(), 40);
    }
    return QRect(x, y, width, height);
}
