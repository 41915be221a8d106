// The session panel's texts and the window placement arithmetic, checked
// without any widget.

#include "app/SessionSettings.h"
#include "app/SessionText.h"
#include "common/WindowGeometry.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class SessionTextTest : public QObject
{
    Q_OBJECT

private slots:
    void outputFileName_data();
    void outputFileName();
    void sessionNumberParsing_data();
    void sessionNumberParsing();
    void panelFormats();
    void progressText();
    void settingsDefaults();
    void desktopWithPercentSign();
    void geometry_data();
    void geometry();
};

void SessionTextTest::outputFileName_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("session");
    QTest::addColumn<QString>("expected");

    QTest::newRow("defaults") << "SUB001" << "practice" << 1 << "SUB001_practice001.txt";
    QTest::newRow("experiment") << "SUB001" << "experiment" << 1 << "SUB001_experiment001.txt";
    QTest::newRow("cleared session reads 0") << "SUB001" << "practice" << 0 << "SUB001_practice000.txt";
    QTest::newRow("one digit padded") << "SUB001" << "practice" << 7 << "SUB001_practice007.txt";
    QTest::newRow("two digits padded") << "AB" << "practice" << 12 << "AB_practice012.txt";
    QTest::newRow("longer number stays whole") << "AB" << "practice" << 1234 << "AB_practice1234.txt";
    QTest::newRow("sign is padded too") << "SUB001" << "practice" << -5 << "SUB001_practice0-5.txt";
    QTest::newRow("empty subject code") << "" << "practice" << 1 << "_practice001.txt";
    QTest::newRow("subject code used as typed") << "S 1/é" << "practice" << 1 << "S 1/é_practice001.txt";
}

void SessionTextTest::outputFileName()
{
    QFETCH(QString, subject);
    QFETCH(QString, type);
    QFETCH(int, session);
    QFETCH(QString, expected);
    QCOMPARE(composeOutputFileName(subject, type, session), expected);
}

void SessionTextTest::sessionNumberParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("digits") << "7" << 7;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("digits then letters") << "12a" << 0;
    QTest::newRow("too large for 32 bits") << "99999999999" << 0;
    QTest::newRow("hex is not decimal") << "0x10" << 0;
}

void SessionTextTest::sessionNumberParsing()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(parseSessionNumber(text), expected);
}

void SessionTextTest::panelFormats()
{
    QCOMPARE(formatSamplingRate(40000.0), QStringLiteral("40000"));
    QCOMPARE(formatSamplingRate(44100.0), QStringLiteral("44100"));
    QCOMPARE(formatSamplingRate(22050.5), QStringLiteral("22050.5"));
    QCOMPARE(formatSecondsAsMilliseconds(0.25), QStringLiteral("250.00"));
    QCOMPARE(formatSecondsAsMilliseconds(1.0), QStringLiteral("1000.00"));
    QCOMPARE(formatSecondsAsMilliseconds(10001.0 / 40000.0), QStringLiteral("250.03"));
}

void SessionTextTest::progressText()
{
    QCOMPARE(composeProgressText("practice", 1, 6), QStringLiteral("practice 1/6"));
    QCOMPARE(composeProgressText("experiment", 200, 200), QStringLiteral("experiment 200/200"));
}

void SessionTextTest::settingsDefaults()
{
    const SessionSettings settings;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QCOMPARE(settings.outputFileName, QStringLiteral("SUB001.txt"));
    QCOMPARE(settings.folderDialogDir, desktop);
    QCOMPARE(settings.outputPath, desktop);
    QCOMPARE(settings.wavPath, desktop);
    QCOMPARE(settings.sessionTypeNames, QStringList({"practice", "experiment"}));
    QCOMPARE(settings.soundTypeNames, QStringList({".wav files", "reserved"}));
    QCOMPARE(settings.mainParameterNames, QStringList({"sound files", "reserved"}));
    // The defaults agree with each other: 0.25 s at 40000 Hz is 10000 samples.
    QCOMPARE(settings.numSamples, int(settings.samplingRate * settings.soundDuration));
    QCOMPARE(settings.displaySamples, int(settings.samplingRate * settings.displayDuration));
    QVERIFY(settings.soundFiles.isEmpty());
    QVERIFY(settings.saveDataToFile);

    const SoundFileRecord record;
    QCOMPARE(record.folder, desktop);
    QVERIFY(record.fileName.isEmpty());
    QCOMPARE(record.nT2 + record.nT4, 0);
}

// A home folder whose name holds "%1" and "%2": the folder texts keep them
// as they are, nothing is substituted into them a second time.
void SessionTextTest::desktopWithPercentSign()
{
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString home = base.filePath(QStringLiteral("lab %1 room %2"));
    QVERIFY(QDir().mkpath(home));
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home));
    // No user-dirs file here: the desktop is <home>/Desktop.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base.path()));

    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const SessionSettings settings;
    const SoundFileRecord record;

    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);

    QCOMPARE(desktop, home + QStringLiteral("/Desktop"));
    QCOMPARE(settings.folderDialogDir, desktop);
    QCOMPARE(settings.outputPath, desktop);
    QCOMPARE(settings.wavPath, desktop);
    QCOMPARE(record.folder, desktop);
}

void SessionTextTest::geometry_data()
{
    QTest::addColumn<QSize>("available");
    QTest::addColumn<bool>("centered");
    QTest::addColumn<double>("widthFraction");
    QTest::addColumn<double>("heightFraction");
    QTest::addColumn<QPoint>("current");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("main window, full HD") << QSize(1920, 1040) << true << 0.8 << 0.9 << QPoint()
                                          << QRect(192, 52, 1536, 936);
    QTest::newRow("main window, sizes truncated") << QSize(1366, 728) << true << 0.8 << 0.9 << QPoint()
                                                  << QRect(137, 36, 1092, 655);
    QTest::newRow("subject window") << QSize(1920, 1040) << true << 0.3 << 0.2 << QPoint()
                                    << QRect(672, 416, 576, 208);
    QTest::newRow("fractions clamped") << QSize(800, 600) << true << 1.5 << -0.2 << QPoint()
                                       << QRect(0, 300, 800, 0);
    QTest::newRow("not centred keeps position") << QSize(800, 600) << false << 0.5 << 0.5
                                                << QPoint(100, 120) << QRect(100, 120, 400, 300);
    QTest::newRow("not centred, kept on screen") << QSize(800, 600) << false << 0.5 << 0.5
                                                 << QPoint(-30, 0) << QRect(5, 40, 400, 300);
}

void SessionTextTest::geometry()
{
    QFETCH(QSize, available);
    QFETCH(bool, centered);
    QFETCH(double, widthFraction);
    QFETCH(double, heightFraction);
    QFETCH(QPoint, current);
    QFETCH(QRect, expected);
    QCOMPARE(windowGeometry(available, centered, widthFraction, heightFraction, current), expected);
}

QTEST_GUILESS_MAIN(SessionTextTest)
#include "tst_sessiontext.moc"
