#ifndef WINDOWGEOMETRY_H
#define WINDOWGEOMETRY_H

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a top-level window goes, computed from the screen's available size
// (the desktop area less task bars) without touching a screen, so that the
// arithmetic can be checked on any machine.
//
// The fractions are clamped to 0..1; width and height are truncated toward
// zero. A centred window sits at half the free space (integer division, the
// offset of the available area deliberately not added). Otherwise the window
// keeps its current position but no further left than x = 5 and no higher
// than y = 40, so the frame stays reachable.
QRect windowGeometry(const QSize &available, bool centered,
                     double widthFraction, double heightFraction,
                     const QPoint &currentPosition);

#endif // WINDOWGEOMETRY_H
