#include "common/ListenerScreen.h"
#include "common/WindowGeometry.h"

#include <QtTest>

// Where the listener's window goes for each choice, on made-up screens.
class ListenerScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void choicesAndPlacements();
};

void ListenerScreenTest::choicesAndPlacements()
{
    const QVector<ScreenDescription> screens{
        {"eDP-1", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)},
        {"HDMI-1", QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)},
    };
    const QVector<ListenerScreenChoice> choices = listenerScreenChoices(screens, 0);
    QCOMPARE(choices.size(), 3);
    QCOMPARE(choices[0].key, QString());
    QCOMPARE(choices[1].key, listenerExperimenterFullScreenKey());
    QCOMPARE(choices[2].key, QStringLiteral("HDMI-1"));
    QCOMPARE(choices[2].label, QStringLiteral("HDMI-1 (1280 x 1024), full screen"));
    QCOMPARE(listenerScreenChoices(screens.mid(0, 1), 0).size(), 2);   // one screen: no other

    // The default: 30 % x 20 % of the available area, centred.
    const ListenerPlacement window = listenerPlacement(QString(), screens, 0);
    QVERIFY(!window.fullScreen && !window.fellBack);
    QCOMPARE(window.geometry, QRect(672, 416, 576, 208));
    QCOMPARE(window.geometry, windowGeometry(QSize(1920, 1040), true, 0.3, 0.2, QPoint()));

    const ListenerPlacement own = listenerPlacement(listenerExperimenterFullScreenKey(), screens, 0);
    QVERIFY(own.fullScreen);
    QCOMPARE(own.geometry, QRect(0, 0, 1920, 1080));

    const ListenerPlacement booth = listenerPlacement(QStringLiteral("HDMI-1"), screens, 0);
    QVERIFY(booth.fullScreen);
    QCOMPARE(booth.screen, 1);
    QCOMPARE(booth.geometry, QRect(1920, 0, 1280, 1024));

    // Separate X screens share one name; each is told by its place.
    const QVector<ScreenDescription> xScreens{{"screen", QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)},
                                              {"screen", QRect(0, 0, 1024, 768), QRect(0, 0, 1024, 768)}};
    QCOMPARE(listenerScreenChoices(xScreens, 0).last().key, QStringLiteral("screen #2"));
    QCOMPARE(listenerPlacement(QStringLiteral("screen #2"), xScreens, 0).screen, 1);

    // Unplugged since it was chosen, or the experimenter's own: the default.
    for (const QString &gone : {QStringLiteral("DP-2"), QStringLiteral("eDP-1")}) {
        const ListenerPlacement fallback = listenerPlacement(gone, screens, 0);
        QVERIFY(!fallback.fullScreen && fallback.fellBack);
        QCOMPARE(fallback.geometry, window.geometry);
    }
}

QTEST_APPLESS_MAIN(ListenerScreenTest)
#include "tst_listenerscreen.moc"
