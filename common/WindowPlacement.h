#ifndef WINDOWPLACEMENT_H
#define WINDOWPLACEMENT_H

class QWidget;

// Sizes and places a top-level window from fractions of the primary screen's
// available size (see windowGeometry for the rules). The geometry set is that
// of the client area; the frame is not counted.
void placeWindowOnScreen(QWidget *window, bool centered,
                         double widthFraction, double heightFraction);

#endif // WINDOWPLACEMENT_H
