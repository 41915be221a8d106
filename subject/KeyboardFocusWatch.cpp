#include "subject/KeyboardFocusWatch.h"

#include <QEvent>
#include <QWidget>

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
    if (!window->isActiveWindow()) {
        window->raise();
        window->activateWindow();
    }
    grace.start();
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
