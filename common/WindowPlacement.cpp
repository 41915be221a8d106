#include "common/WindowPlacement.h"

#include "common/WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

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

QVector<ScreenDescription> describeScreens()
{
    QVector<ScreenDescription> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append({screen->name(), screen->geometry(), screen->availableGeometry()});
    return screens;
}

int screenIndexOf(const QWidget *window)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const QScreen *screen = window ? QGuiApplication::screenAt(window->frameGeometry().center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return std::max(0, int(screens.indexOf(const_cast<QScreen *>(screen))));
}

ListenerPlacement showListenerWindow(QWidget *window, const QString &choiceKey, const QWidget *experimenterWindow)
{
    const ListenerPlacement placement = listenerPlacement(choiceKey, describeScreens(), screenIndexOf(experimenterWindow));
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (!placement.fullScreen) {
        window->setGeometry(placement.geometry);
        window->show();
        return placement;
    }
    // Full screen on a given screen: the window's native handle is put on
    // that screen and the window on its area before it is shown.
    window->winId();
    if (QWindow *handle = window->windowHandle()) {
        if (placement.screen < screens.size())
            handle->setScreen(screens[placement.screen]);
    }
    window->setGeometry(placement.geometry);
    window->showFullScreen();
    return placement;
}
