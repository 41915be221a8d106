#include "FakeAudioEngine.h"
#include "TestSupport.h"
#include "XTestInput.h"

#include "app/MainWindow.h"
#include "app/NoticeArea.h"
#include "experiment/TrialPlayer.h"
#include "input/AnswerKeys.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

// The listener's answers given with real input through the X server (XTEST,
// from a thread of the test's own), under Xvfb: a press held as people hold
// it, a GUI thread kept busy at the press, a press made before the answer
// buttons came on, the keyboard focus, and the answer keys on AZERTY.

namespace {

constexpr unsigned leftButton = 1;
constexpr unsigned shiftKey = 50;   // X keycode of the left Shift key
constexpr qint64 ms = 1'000'000;    // nanoseconds
constexpr double boundMs = 3.0;     // loose enough for a loaded machine

// Keeps the GUI thread busy, as drawing the charts can.
void busyUntil(qint64 ns)
{
    while (XTestInput::nowNs() < ns) {
    }
}

// The fields of the journal's row for trial 1, and the whole text.
QStringList firstRow(const QString &path, QString *text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    *text = QString::fromUtf8(file.readAll());
    for (const QString &line : text->split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("1\t")))
            return line.split(QLatin1Char('\t'));
    }
    return {};
}

void setUpAnswerDue(SubjectWindow &window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(buttonWithText(&window, QStringLiteral("I am ready")), Qt::LeftButton);
    QMetaObject::invokeMethod(&window, "updateSubjectWindow", Qt::DirectConnection, Q_ARG(int, 1));
    QMetaObject::invokeMethod(&window, "updateSubjectWindow", Qt::DirectConnection, Q_ARG(int, -1));
}

} // namespace

class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void answerTimedAtThePress_data();
    void answerTimedAtThePress();
    void pressBeforeTheButtonsCameOnIsNoAnswer_data();
    void pressBeforeTheButtonsCameOnIsNoAnswer();
    void listenerWindowKeepsTheFocus();
    void answerKeysWhateverTheLayout_data();
    void answerKeysWhateverTheLayout();

private:
    void startRun(MainWindow &w, ModalDriver &driver);

    QTemporaryDir dir;
    XTestInput x;
};

void MainWindowTester::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (the tests run under xvfb-run with QT_QPA_PLATFORM=xcb)");
    if (!x.open())
        QSKIP("the X server has no XTEST extension");
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(dir.isValid());
    // 20 ms sounds, so that a run moves on quickly.
    const QString stimuli = dir.filePath(QStringLiteral("stimuli"));
    QVERIFY(QDir().mkpath(stimuli));
    for (int f = 0; f < 2; ++f) {
        QVector<qint16> frames(800, qint16(1000 * (f + 1)));
        QVERIFY(writeWav16(QDir(stimuli).filePath(QStringLiteral("s%1.wav").arg(f + 1)), frames, 40000));
    }
}

void MainWindowTester::cleanupTestCase()
{
    QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")});
}

void MainWindowTester::startRun(MainWindow &w, ModalDriver &driver)
{
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    w.checkBoxSaveData->setChecked(false);
    driver.chooseFolder(dir.filePath(QStringLiteral("stimuli")));
    w.on_pushButtonPractice_clicked();
    w.lineEditSilentInterval->setText(QStringLiteral("200"));
    w.on_pushButtonGo_clicked();
    QVERIFY(w.subjectWindow);
    QVERIFY(QTest::qWaitForWindowActive(w.subjectWindow));
}

void MainWindowTester::answerTimedAtThePress_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<bool>("stall");
    QTest::newRow("mouse held 60 ms") << false << 60 << false;
    QTest::newRow("mouse held 140 ms, GUI thread busy for 20 ms at the press") << false << 140 << true;
    QTest::newRow("key 2") << true << 80 << false;
    QTest::newRow("key 2, GUI thread busy for 20 ms at the press") << true << 80 << true;
}

// The reaction time runs to the press, the answer counts from its giving (a
// click's release, a key's press), and the next sound from that moment: as
// the input came, not as the GUI thread got to it.
void MainWindowTester::answerTimedAtThePress()
{
    QFETCH(bool, byKey);
    QFETCH(int, holdMs);
    QFETCH(bool, stall);
    MainWindow w;
    ModalDriver driver;
    startRun(w, driver);
    SubjectWindow *subject = w.subjectWindow;
    QPushButton *tone2 = buttonWithText(subject, QStringLiteral("Tone 2"));

    std::thread sender;
    std::atomic<bool> stalling{false};
    qint64 pressNs = 0, releaseNs = 0;
    SoundTiming sound;
    QObject context;
    connect(&w, &MainWindow::soundPlaying, &context, [&](int index) {
        if (index != -1 || sender.joinable())
            return;
        sound = w.trialPlayer->timing();
        const QPoint target = tone2->mapToGlobal(tone2->rect().center());
        sender = std::thread([&, target] {
            x.moveTo(target.x(), target.y());
            while (stall && !stalling) {
            }
            XTestInput::sleepUntil(XTestInput::nowNs() + (stall ? 5 : 30) * ms);
            pressNs = byKey ? x.key(AnswerKeycodes::mainRow2, true) : x.button(leftButton, true);
            XTestInput::sleepUntil(pressNs + holdMs * ms);
            releaseNs = byKey ? x.key(AnswerKeycodes::mainRow2, false) : x.button(leftButton, false);
        });
        if (stall) {
            QTimer::singleShot(0, &context, [&] {
                stalling = true;
                busyUntil(XTestInput::nowNs() + 20 * ms);
            });
        }
    });
    QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.runAnswers.size(), 1, 10000);
    sender.join();

    QString text;
    const QStringList row = firstRow(w.trialJournal.filePath(), &text);
    QCOMPARE(row.size(), 12);
    QVERIFY(text.contains(QStringLiteral("\n# answer times\t") + inputTimeSourceName(subject->answerTimeSource())
                          + QLatin1Char('\n')));
    // On a loaded machine the raw events' thread may come too late to better
    // the window system's millisecond, which the journal then notes; never
    // is the answer left to its arrival.
    QVERIFY2(!text.contains(QStringLiteral("# trial 1: answer timed at its arrival")), qPrintable(text));
    QCOMPARE(row[2], QStringLiteral("2"));
    QCOMPARE(row[9], byKey ? QStringLiteral("key") : QStringLiteral("mouse"));

    const qint64 givenNs = byKey ? pressNs : releaseNs;
    const auto near = [](double value, double expected) {
        if (qAbs(value - expected) < boundMs)
            return true;
        qWarning("%.3f ms, expected %.3f ms", value, expected);
        return false;
    };
    QVERIFY(near(row[3].toDouble(), double(pressNs - sound.endNs) / 1e6));
    QVERIFY(near(row[4].toDouble(), double(givenNs - w.runStartNs) / 1e6));
    if (byKey)
        QCOMPARE(row[11], QStringLiteral("NA"));
    else
        QVERIFY(near(row[11].toDouble(), double(releaseNs - pressNs) / 1e6));
    // The next sound: the answer, plus its 20 ms, plus the 200 ms interval.
    auto *engine = static_cast<FakeAudioEngine *>(w.trialPlayer->engine());
    QCOMPARE(engine->requests.size(), 2);
    QVERIFY(near(double(engine->requests[1].onsetNs - givenNs) / 1e6, 220.0));
}

void MainWindowTester::pressBeforeTheButtonsCameOnIsNoAnswer_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("mouse") << false;
    QTest::newRow("key 2") << true;
}

// A press and release made before the answer buttons came on, but handled
// after (the GUI thread was busy), is no answer; the next one is.
void MainWindowTester::pressBeforeTheButtonsCameOnIsNoAnswer()
{
    QFETCH(bool, byKey);
    SubjectWindow window;
    setUpAnswerDue(window);
    QMetaObject::invokeMethod(&window, "updateSubjectWindow", Qt::DirectConnection, Q_ARG(int, 1));
    QPushButton *tone2 = buttonWithText(&window, QStringLiteral("Tone 2"));
    const QPoint target = tone2->mapToGlobal(tone2->rect().center());
    x.moveTo(target.x(), target.y());
    QTest::qWait(50);
    QSignalSpy responded(&window, &SubjectWindow::subjectResponded);

    const auto pressAndRelease = [&] {
        if (byKey) {
            x.key(AnswerKeycodes::mainRow2, true);
            x.key(AnswerKeycodes::mainRow2, false);
        } else {
            x.button(leftButton, true);
            x.button(leftButton, false);
        }
    };
    std::thread sender(pressAndRelease);
    sender.join();
    busyUntil(XTestInput::nowNs() + 10 * ms);   // the raw events reach their thread
    QMetaObject::invokeMethod(&window, "updateSubjectWindow", Qt::DirectConnection, Q_ARG(int, -1));
    QTest::qWait(300);
    QCOMPARE(responded.count(), 0);
    QVERIFY(window.isEnabled() && tone2->isEnabled());

    pressAndRelease();
    QTRY_COMPARE(responded.count(), 1);
    QCOMPARE(responded.first().at(0).toInt(), 2);
}

// The listener's window takes the keyboard focus, asks for it again when the
// answer buttons come on, and the main window says at once when it lacks it.
void MainWindowTester::listenerWindowKeepsTheFocus()
{
    MainWindow w;
    ModalDriver driver;
    startRun(w, driver);
    SubjectWindow *subject = w.subjectWindow;
    const QString key = QStringLiteral("listener focus");
    QVERIFY(!w.noticeArea->hasNotice(key));

    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_VERIFY(w.noticeArea->hasNotice(key));
    QVERIFY(w.noticeArea->notices().last().contains(QStringLiteral("does not have the keyboard focus")));

    QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(subject->isActiveWindow(), 5000);
    QTRY_VERIFY(w.noticeArea->notices().last().contains(QStringLiteral("has the keyboard focus again")));

    // Keys reach it: an answer by key.
    QTRY_VERIFY(buttonWithText(subject, QStringLiteral("Tone 4"))->isEnabled());
    x.key(AnswerKeycodes::keypad4, true);
    x.key(AnswerKeycodes::keypad4, false);
    QTRY_COMPARE(w.runAnswers.size(), 1);
    QCOMPARE(w.runAnswers.first().answer, 4);
}

void MainWindowTester::answerKeysWhateverTheLayout_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<unsigned>("keycode");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QString>("text");   // what the key gives on that layout
    QTest::addColumn<int>("answer");     // 0: none
    QTest::newRow("AZERTY main-row 2 gives é") << "fr" << unsigned(AnswerKeycodes::mainRow2) << false << "é" << 2;
    QTest::newRow("AZERTY main-row 4 gives '") << "fr" << unsigned(AnswerKeycodes::mainRow4) << false << "'" << 4;
    QTest::newRow("AZERTY Shift + main-row 2") << "fr" << unsigned(AnswerKeycodes::mainRow2) << true << "2" << 2;
    QTest::newRow("AZERTY keypad 2, NumLock off") << "fr" << unsigned(AnswerKeycodes::keypad2) << false << "" << 2;
    QTest::newRow("AZERTY keypad 4, NumLock off") << "fr" << unsigned(AnswerKeycodes::keypad4) << false << "" << 4;
    QTest::newRow("AZERTY main-row 3 answers nothing") << "fr" << 12u << false << "\"" << 0;
    QTest::newRow("US main-row 2") << "us" << unsigned(AnswerKeycodes::mainRow2) << false << "2" << 2;
}

void MainWindowTester::answerKeysWhateverTheLayout()
{
    QFETCH(QString, layout);
    QFETCH(unsigned, keycode);
    QFETCH(bool, shift);
    QFETCH(QString, text);
    QFETCH(int, answer);
    if (QProcess::execute(QStringLiteral("setxkbmap"), {layout}) != 0)
        QSKIP("setxkbmap (x11-xkb-utils) is needed");
    QTest::qWait(200);   // Qt reads the new keymap

    SubjectWindow window;
    setUpAnswerDue(window);
    QString given;
    bool seen = false;
    struct KeyText : QObject
    {
        std::function<void(QKeyEvent *)> seen;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::KeyPress)
                seen(static_cast<QKeyEvent *>(event));
            return false;
        }
    } keyText;
    keyText.seen = [&](QKeyEvent *event) {
        if (event->nativeScanCode() == keycode) {
            given = event->text();
            seen = true;
        }
    };
    window.installEventFilter(&keyText);
    QSignalSpy responded(&window, &SubjectWindow::subjectResponded);

    if (shift)
        x.key(shiftKey, true);
    x.key(keycode, true);
    x.key(keycode, false);
    if (shift)
        x.key(shiftKey, false);
    QTRY_VERIFY(seen);
    QCOMPARE(given, text);
    QTest::qWait(50);
    QCOMPARE(responded.count(), answer == 0 ? 0 : 1);
    if (answer != 0)
        QCOMPARE(responded.first().at(0).toInt(), answer);
}

// Answer times from XInput2 raw events, the best source under Xvfb (a
// machine whose account may read /dev/input would otherwise take evdev,
// which XTEST's events never pass).
#define TARQUEL_REAL_INPUT_TEST_MAIN(TestObject)                            \
    int main(int argc, char *argv[])                                        \
    {                                                                       \
        qputenv("TARQUEL_ANSWER_TIMES", "xinput2");                         \
        QApplication app(argc, argv);                                       \
        forgetRememberedSettings();                                         \
        replaceAudioEngineMaker([] { return new FakeAudioEngine; });        \
        TestObject tc;                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                          \
        return QTest::qExec(&tc, argc, argv);                               \
    }

TARQUEL_REAL_INPUT_TEST_MAIN(MainWindowTester)
#include "tst_realinput.moc"
