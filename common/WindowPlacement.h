#ifndef WINDOWPLACEMENT_H
#define WINDOWPLACEMENT_H

#include "common/ListenerScreen.h"

class QWidget;

// Sizes and places a top-level window from fractions of the primary screen's
// available size (see windowGeometry for the rules). The geometry set is that
// of the client area; the frame is not counted.
void placeWindowOnScreen(QWidget *window, bool centered,
                         double widthFraction, double heightFraction);

// The screens the toolkit knows, in its order, and which of them holds most
// of window (the primary screen when none does).
QVector<ScreenDescription> describeScreens();
int screenIndexOf(const QWidget *window);

// Shows the listener's window where the choice (a ListenerScreenChoice key)
// puts it, relative to the experimenter's window: as a window, or full
// screen on a screen of its own. Returns the placement used.
ListenerPlacement showListenerWindow(QWidget *window, const QString &choiceKey, const QWidget *experimenterWindow);

#endif // WINDOWPLACEMENT_H
