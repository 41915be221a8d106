#include "common/WindowPlacement.h"

#include "common/WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void placeWindowOnScreen(QWidget *window, bool centered,
                         double widthFraction, double heightFraction)
{
    if (!window)
        return;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window->setGeometry(windowGeometry(screen->availableGeometry().size(), centered,
                                       widthFraction, heightFraction, window->pos()));
}
