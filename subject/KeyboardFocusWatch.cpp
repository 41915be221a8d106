#include "subject/KeyboardFocusWatch.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

KeyboardFocusWatch::KeyboardFocusWatch(QWidget *window)
    : QObject(window)
    , window(window)
{
    grace.setSingleShot(true);
    grace.setInterval(graceMs);
    connect(&grace, &QTimer::timeout, this, &KeyboardFocusWatch::check);
    window->installEventFilter(this);
}

bool KeyboardFocusWatch::windowHasFocus() const
{
    return window->isVisible() && window->isActiveWindow();
}

void KeyboardFocusWatch::ask()
{
    if (!window->isVisible())
        return;
    grace.start();
    if (window->isActiveWindow())
        return;
    // A window not yet on the screen cannot take the focus (X refuses it
    // without a window manager): asked again when it is exposed.
    QWindow *handle = window->windowHandle();
    if (handle && !handle->isExposed()) {
        if (!askWhenExposed)
            handle->installEventFilter(this);
        askWhenExposed = true;
        return;
    }
    window->raise();
    window->activateWindow();
}

void KeyboardFocusWatch::check()
{
    const bool has = windowHasFocus();
    if (has == !missingSaid)
        return;
    missingSaid = !has;
    emit focusChanged(has);
}

bool KeyboardFocusWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (askWhenExposed && event->type() == QEvent::Expose && watched == window->windowHandle()
        && window->windowHandle()->isExposed()) {
        askWhenExposed = false;
        watched->removeEventFilter(this);
        if (!window->isActiveWindow()) {
            window->raise();
            window->activateWindow();
        }
    }
    if (watched == window) {
        switch (event->type()) {
        case QEvent::WindowActivate:
            // Said at once; a loss while a request is pending waits for it.
            if (missingSaid)
                check();
            break;
        case QEvent::WindowDeactivate:
            if (!grace.isActive() && window->isVisible())
                check();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
