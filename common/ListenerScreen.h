#ifndef LISTENERSCREEN_H
#define LISTENERSCREEN_H

#include <QRect>
#include <QString>
#include <QVector>

// Where the listener's window goes: the screens as the toolkit reports them,
// the choices the panel offers, and the window's place for a choice, without
// touching a screen, so that the arithmetic can be checked on any machine.

struct ScreenDescription
{
    QString name;        // the system's name of the screen (stable across starts), e.g. "HDMI-1"
    QRect geometry;      // the whole screen, desktop coordinates
    QRect available;     // less task bars
};

struct ListenerScreenChoice
{
    QString key;         // what the settings remember: "", "experimenter" or a screen's name
    QString label;       // what the panel shows
};

// The default: the listener's own window, 30 % x 20 % of the experimenter's
// (primary) screen, centred on it.
inline const QString listenerWindowKey() { return QString(); }
// The experimenter's screen, full screen: for a lab with one screen.
inline const QString listenerExperimenterFullScreenKey() { return QStringLiteral("experimenter"); }

// The default, the experimenter's screen full screen, and each other screen
// full screen, in the order the toolkit lists them.
QVector<ListenerScreenChoice> listenerScreenChoices(const QVector<ScreenDescription> &screens,
                                                    int experimenterScreen);

struct ListenerPlacement
{
    int screen = 0;            // index into the screens
    bool fullScreen = false;
    QRect geometry;            // the window's client area; the whole screen when full screen
    bool fellBack = false;     // the chosen screen is not connected: the default instead
};

// The place for a remembered choice. A screen that is no longer connected
// falls back to the default window.
ListenerPlacement listenerPlacement(const QString &key, const QVector<ScreenDescription> &screens,
                                    int experimenterScreen);

// Where the listener's window opens for a choice, in words (for the
// journal): the choice's label, or for a screen that is not connected the
// default window and which screen was chosen.
QString describeListenerPlacement(const QString &key, const QVector<ScreenDescription> &screens,
                                  int experimenterScreen);

#endif // LISTENERSCREEN_H
