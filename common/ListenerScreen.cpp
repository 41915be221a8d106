#include "common/ListenerScreen.h"

#include "common/WindowGeometry.h"

namespace {

// The listener's window as it has always opened: 30 % x 20 % of the screen,
// centred.
constexpr double windowWidthFraction = 0.3;
constexpr double windowHeightFraction = 0.2;

// A screen's key: its name, or, where several screens share one (separate X
// screens are all called "screen"), the name and the screen's place in the
// list from 1.
QString screenKey(const QVector<ScreenDescription> &screens, int index)
{
    int sharing = 0;
    for (const ScreenDescription &screen : screens)
        sharing += screen.name == screens[index].name ? 1 : 0;
    return sharing > 1 ? screens[index].name + QStringLiteral(" #") + QString::number(index + 1)
                       : screens[index].name;
}

} // namespace

QVector<ListenerScreenChoice> listenerScreenChoices(const QVector<ScreenDescription> &screens,
                                                    int experimenterScreen)
{
    QVector<ListenerScreenChoice> choices;
    choices.append({listenerWindowKey(), QStringLiteral("Window on the experimenter's screen")});
    choices.append({listenerExperimenterFullScreenKey(), QStringLiteral("Experimenter's screen, full screen")});
    for (int i = 0; i < screens.size(); ++i) {
        if (i == experimenterScreen)
            continue;
        const ScreenDescription &screen = screens[i];
        const QString key = screenKey(screens, i);
        choices.append({key, QStringLiteral("%1 (%2 x %3), full screen")
                                 .arg(key)
                                 .arg(screen.geometry.width())
                                 .arg(screen.geometry.height())});
    }
    return choices;
}

ListenerPlacement listenerPlacement(const QString &key, const QVector<ScreenDescription> &screens,
                                    int experimenterScreen)
{
    ListenerPlacement placement;
    if (screens.isEmpty())
        return placement;
    const int home = experimenterScreen >= 0 && experimenterScreen < screens.size() ? experimenterScreen : 0;

    if (key == listenerExperimenterFullScreenKey()) {
        placement.screen = home;
        placement.fullScreen = true;
        placement.geometry = screens[home].geometry;
        return placement;
    }
    if (!key.isEmpty()) {
        for (int i = 0; i < screens.size(); ++i) {
            if (i != home && screenKey(screens, i) == key) {
                placement.screen = i;
                placement.fullScreen = true;
                placement.geometry = screens[i].geometry;
                return placement;
            }
        }
        placement.fellBack = true;
    }
    // The window as it has always been placed: sized from the available
    // area of the experimenter's screen and centred in it, the area's offset
    // not added (windowGeometry).
    placement.screen = home;
    placement.geometry = windowGeometry(screens[home].available.size(), true, windowWidthFraction,
                                        windowHeightFraction, QPoint());
    return placement;
}

QString describeListenerPlacement(const QString &key, const QVector<ScreenDescription> &screens,
                                  int experimenterScreen)
{
    const QVector<ListenerScreenChoice> choices = listenerScreenChoices(screens, experimenterScreen);
    if (listenerPlacement(key, screens, experimenterScreen).fellBack)
        return choices.first().label + QStringLiteral(" (") + key + QStringLiteral(" was chosen but is not connected)");
    for (const ListenerScreenChoice &choice : choices) {
        if (choice.key == key)
            return choice.label;
    }
    return choices.first().label;
}
