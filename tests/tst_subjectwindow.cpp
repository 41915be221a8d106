// The listener's window: its states through a run, the answers it sends, the
// result text, and the confirmation asked before it closes.

#include "common/WindowGeometry.h"
#include "subject/ResultText.h"
#include "subject/SubjectWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <QtTest>

namespace {

const QString hoverStyle = QStringLiteral(
    "QPushButton:hover {background-color: rgb(0, 255, 255); border: 1px solid blue;}");

// Answers the next modal message box as a listener would, and records what
// the box asked. Polls, since the box only appears once the code under test
// has entered its own event loop.
class BoxAnswerer : public QObject
{
public:
    // answer: a standard button to click, or QMessageBox::Escape for the
    // Escape key.
    explicit BoxAnswerer(int answer)
        : answer(answer)
    {
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer.start(10);
    }

    bool asked = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool enabled = false;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer.stop();
        asked = true;
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        defaultButton = box->standardButton(box->defaultButton());
        enabled = box->isEnabled();
        if (answer == QMessageBox::Escape)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(QMessageBox::StandardButton(answer))->click();
    }

    int answer;
    QTimer timer;
};

} // namespace

class SubjectWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metaObjectOrder_data();
    void metaObjectOrder();
    void layout();
    void states_data();
    void states();
    void resultText_data();
    void resultText();
    void closing_data();
    void closing();
    void keysFollowTheButtonsRules();
    void breakAsksForIAmReady();
    void eventsMadeInTheProgramAreTimedAtTheirArrival();

private:
    // Runs one step of a run on the window: "ready", "tone2", "tone4" press
    // the buttons as the listener would; "play N" is the main window's
    // soundPlaying(N); "finish" is its doneDataCollection.
    static void perform(SubjectWindow &window, const QString &step);
};

void SubjectWindowTester::initTestCase()
{
    // The window under test is often the only one; closing it must not end
    // the test.
    QApplication::setQuitOnLastWindowClosed(false);
}

void SubjectWindowTester::perform(SubjectWindow &window, const QString &step)
{
    if (step == QLatin1String("ready"))
        QTest::mouseClick(window.pushButtonIAmReady, Qt::LeftButton);
    else if (step == QLatin1String("tone2"))
        QTest::mouseClick(window.pushButtonChoice2, Qt::LeftButton);
    else if (step == QLatin1String("tone4"))
        QTest::mouseClick(window.pushButtonChoice4, Qt::LeftButton);
    else if (step.startsWith(QLatin1String("play ")))
        window.updateSubjectWindow(step.mid(5).toInt());
    else if (step == QLatin1String("finish"))
        window.finishExperiment(0.0125, 1.23, 0);
    else
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
}

// The main window connects to these by signature; a renamed or retyped one
// would only show up as a runtime warning and a dead connection.
void SubjectWindowTester::metaObjectOrder_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("access");
    QTest::addColumn<QByteArray>("signature");

    QTest::newRow("0") << 0 << int(QMetaMethod::Signal) << int(QMetaMethod::Public)
                       << QByteArray("subjectResponded(int)");
    QTest::newRow("1") << 1 << int(QMetaMethod::Signal) << int(QMetaMethod::Public)
                       << QByteArray("subjectWindowClosed()");
    QTest::newRow("2") << 2 << int(QMetaMethod::Slot) << int(QMetaMethod::Private)
                       << QByteArray("on_pushButtonIAmReady_clicked()");
    QTest::newRow("3") << 3 << int(QMetaMethod::Slot) << int(QMetaMethod::Public)
                       << QByteArray("enableAllChoiceButtons()");
    QTest::newRow("4") << 4 << int(QMetaMethod::Slot) << int(QMetaMethod::Private)
                       << QByteArray("updateSubjectWindow(int)");
    QTest::newRow("5") << 5 << int(QMetaMethod::Slot) << int(QMetaMethod::Private)
                       << QByteArray("on_pushButtonChoice2_clicked()");
    QTest::newRow("6") << 6 << int(QMetaMethod::Slot) << int(QMetaMethod::Private)
                       << QByteArray("on_pushButtonChoice4_clicked()");
    QTest::newRow("7") << 7 << int(QMetaMethod::Slot) << int(QMetaMethod::Private)
                       << QByteArray("finishExperiment(qreal,qreal,qint32)");
}

void SubjectWindowTester::metaObjectOrder()
{
    QFETCH(int, index);
    QFETCH(int, type);
    QFETCH(int, access);
    QFETCH(QByteArray, signature);

    const QMetaObject &meta = SubjectWindow::staticMetaObject;
    QCOMPARE(meta.className(), "SubjectWindow");
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 8);
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(int(method.methodType()), type);
    QCOMPARE(int(method.access()), access);
    // Found by the signature as the connections spell it, typedefs included.
    QCOMPARE(meta.indexOfMethod(QMetaObject::normalizedSignature(signature.constData())),
             meta.methodOffset() + index);
}

void SubjectWindowTester::layout()
{
    SubjectWindow window;
    QCOMPARE(window.windowTitle(),
             QStringLiteral("Vardon Lab | Auditory Tarquel (v020) | Subject Window"));
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    QCOMPARE(window.geometry(), windowGeometry(available, true, 0.3, 0.2, QPoint()));
    QCOMPARE(window.centralWidget(), window.widgetCentral);
    QCOMPARE(window.widgetCentral->layout(), window.gridLayout);

    struct Cell { QWidget *widget; int row, column, rowSpan, columnSpan; };
    const Cell cells[] = {
        {window.pushButtonChoice2, 0, 0, 1, 1},
        {window.pushButtonChoice4, 0, 1, 1, 1},
        {window.labelThreshold, 1, 0, 1, 4},
        {window.pushButtonIAmReady, 2, 1, 1, 2},
        {window.pushButtonDone, 3, 1, 1, 2},
        {window.labelBreak, 4, 0, 1, 4},
        {window.labelKeys, 5, 0, 1, 4},
    };
    QCOMPARE(window.gridLayout->count(), 7);
    for (const Cell &cell : cells) {
        const int at = window.gridLayout->indexOf(cell.widget);
        QVERIFY(at >= 0);
        int row, column, rowSpan, columnSpan;
        window.gridLayout->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}),
                 QList<int>({cell.row, cell.column, cell.rowSpan, cell.columnSpan}));
        QCOMPARE(window.gridLayout->itemAt(at)->alignment(), Qt::Alignment());
    }

    for (QPushButton *choice : {window.pushButtonChoice2, window.pushButtonChoice4}) {
        QCOMPARE(choice->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(choice->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }
    QCOMPARE(window.labelThreshold->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(window.labelThreshold->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    // Exactly these flags: centred across, nothing said about the height, and
    // selectable with the mouse but not by keyboard or as links.
    QCOMPARE(window.labelThreshold->alignment(), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(window.labelThreshold->textInteractionFlags(),
             Qt::TextInteractionFlags(Qt::TextSelectableByMouse));
}

// Each row runs a run up to some point and checks what the listener sees and
// can press there, and every answer sent on the way.
void SubjectWindowTester::states_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("responses");
    QTest::addColumn<bool>("choicesShown");
    QTest::addColumn<bool>("readyShown");
    QTest::addColumn<bool>("doneShown");
    QTest::addColumn<bool>("windowEnabled");
    QTest::addColumn<bool>("choicesEnabled");
    QTest::addColumn<QString>("choiceStyle");

    const QStringList answerDue = {"ready", "play 1", "play -1"};

    QTest::newRow("waiting for the listener")
        << QStringList() << QList<int>()
        << false << true << false << true << true << QString();
    QTest::newRow("I am ready: playing")
        << QStringList{"ready"} << QList<int>{0}
        << true << false << false << false << false << QString();
    QTest::newRow("sound started: still playing")
        << QStringList{"ready", "play 1"} << QList<int>{0}
        << true << false << false << false << false << QString();
    QTest::newRow("sound ended: answer due")
        << answerDue << QList<int>{0}
        << true << false << false << true << true << hoverStyle;
    QTest::newRow("Tone 2: answer given")
        << answerDue + QStringList{"tone2"} << QList<int>{0, 2}
        << true << false << false << false << true << hoverStyle;
    QTest::newRow("Tone 4: answer given")
        << answerDue + QStringList{"tone4"} << QList<int>{0, 4}
        << true << false << false << false << true << hoverStyle;
    QTest::newRow("second press in one trial is lost")
        << answerDue + QStringList{"tone2", "tone2", "tone4"} << QList<int>{0, 2}
        << true << false << false << false << true << hoverStyle;
    QTest::newRow("press while playing is lost")
        << QStringList{"ready", "play 1", "tone2", "tone4"} << QList<int>{0}
        << true << false << false << false << false << QString();
    QTest::newRow("index 3 in answer due disables again")
        << answerDue + QStringList{"play 3"} << QList<int>{0}
        << true << false << false << false << false << hoverStyle;
    QTest::newRow("two trials")
        << answerDue + QStringList{"tone4", "play 1", "play -1", "tone2"} << QList<int>{0, 4, 2}
        << true << false << false << false << true << hoverStyle;
    QTest::newRow("finished")
        << answerDue + QStringList{"tone2", "finish"} << QList<int>{0, 2}
        << false << false << true << true << true << hoverStyle;
}

void SubjectWindowTester::states()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, responses);
    QFETCH(bool, choicesShown);
    QFETCH(bool, readyShown);
    QFETCH(bool, doneShown);
    QFETCH(bool, windowEnabled);
    QFETCH(bool, choicesEnabled);
    QFETCH(QString, choiceStyle);

    SubjectWindow window;
    QSignalSpy responded(&window, &SubjectWindow::subjectResponded);
    QSignalSpy closed(&window, &SubjectWindow::subjectWindowClosed);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    for (const QString &step : steps) {
        perform(window, step);
        if (QTest::currentTestFailed())
            return;
    }

    QList<int> sent;
    for (const QList<QVariant> &arguments : std::as_const(responded))
        sent << arguments.at(0).toInt();
    QCOMPARE(sent, responses);
    QCOMPARE(closed.count(), 0);

    QCOMPARE(window.pushButtonChoice2->isVisible(), choicesShown);
    QCOMPARE(window.pushButtonChoice4->isVisible(), choicesShown);
    QCOMPARE(window.pushButtonIAmReady->isVisible(), readyShown);
    QCOMPARE(window.pushButtonDone->isVisible(), doneShown);
    // The result line never shows; see SubjectWindow::setupLayout().
    QVERIFY(!window.labelThreshold->isVisible());
    QCOMPARE(window.isEnabled(), windowEnabled);
    // The buttons' own flags: disabled windows leave them as they were.
    QCOMPARE(window.pushButtonChoice2->testAttribute(Qt::WA_ForceDisabled), !choicesEnabled);
    QCOMPARE(window.pushButtonChoice4->testAttribute(Qt::WA_ForceDisabled), !choicesEnabled);
    QCOMPARE(window.pushButtonChoice2->styleSheet(), choiceStyle);
    QCOMPARE(window.pushButtonChoice4->styleSheet(), choiceStyle);
    if (steps.contains(QLatin1String("finish")))
        QCOMPARE(window.labelThreshold->text(),
                 QStringLiteral("Frequency Difference = 1.25 %,   Reaction Time = 1.23 ms"));
    else
        QCOMPARE(window.labelThreshold->text(), QStringLiteral("Threshold = "));
}

void SubjectWindowTester::resultText_data()
{
    QTest::addColumn<double>("threshold");
    QTest::addColumn<double>("reactionTime");
    QTest::addColumn<int>("mainParameter");
    QTest::addColumn<QString>("expected");

    QTest::newRow("frequency difference")
        << 0.0125 << 1.23 << 0 << "Frequency Difference = 1.25 %,   Reaction Time = 1.23 ms";
    QTest::newRow("modulation threshold")
        << 0.5 << 250.0 << 1 << "Modulation Threshold = 50 %,   Reaction Time = 250 ms";
    QTest::newRow("unknown parameter: no prefix")
        << 0.5 << 250.0 << 7 << "50 %,   Reaction Time = 250 ms";
    QTest::newRow("negative parameter: no prefix")
        << 0.5 << 250.0 << -1 << "50 %,   Reaction Time = 250 ms";
    QTest::newRow("tiny threshold in exponent notation")
        << 1e-9 << 250.0 << 0 << "Frequency Difference = 1e-07 %,   Reaction Time = 250 ms";
    QTest::newRow("large threshold to six digits")
        << 12345.67 << 250.0 << 0
        << "Frequency Difference = 1.23457e+06 %,   Reaction Time = 250 ms";
    QTest::newRow("reaction time to six digits")
        << 0.0 << 1234.5678 << 1 << "Modulation Threshold = 0 %,   Reaction Time = 1234.57 ms";
}

void SubjectWindowTester::resultText()
{
    QFETCH(double, threshold);
    QFETCH(double, reactionTime);
    QFETCH(int, mainParameter);
    QFETCH(QString, expected);

    QCOMPARE(composeResultText(threshold, reactionTime, mainParameter), expected);
}

// "Done" and the window frame ask the same question; only Yes closes.
void SubjectWindowTester::closing_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("throughFrame");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");

    const QStringList finished = {"ready", "play 1", "play -1", "tone2", "finish"};
    const QStringList playing = {"ready", "play 1"};
    const QStringList answerDue = {"ready", "play 1", "play -1"};

    QTest::newRow("Done, Yes") << finished << false << int(QMessageBox::Yes) << true;
    QTest::newRow("Done, No") << finished << false << int(QMessageBox::No) << false;
    QTest::newRow("Done, Cancel") << finished << false << int(QMessageBox::Cancel) << false;
    QTest::newRow("Done, Escape") << finished << false << int(QMessageBox::Escape) << false;
    QTest::newRow("frame while waiting, Yes") << QStringList() << true << int(QMessageBox::Yes) << true;
    QTest::newRow("frame while playing, Yes") << playing << true << int(QMessageBox::Yes) << true;
    QTest::newRow("frame with answer due, No") << answerDue << true << int(QMessageBox::No) << false;
    QTest::newRow("frame when finished, Cancel") << finished << true << int(QMessageBox::Cancel) << false;
}

void SubjectWindowTester::closing()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, throughFrame);
    QFETCH(int, answer);
    QFETCH(bool, closes);

    SubjectWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const QString &step : steps) {
        perform(window, step);
        if (QTest::currentTestFailed())
            return;
    }
    const bool wasEnabled = window.isEnabled();
    const bool doneShown = window.pushButtonDone->isVisible();
    QSignalSpy closed(&window, &SubjectWindow::subjectWindowClosed);
    QSignalSpy responded(&window, &SubjectWindow::subjectResponded);

    BoxAnswerer answerer(answer);
    if (throughFrame) {
        // What the window system sends when the frame's close button is
        // pressed: a close event to the native window.
        QCloseEvent event;
        QCoreApplication::sendEvent(window.windowHandle(), &event);
    } else {
        QTest::mouseClick(window.pushButtonDone, Qt::LeftButton);
    }

    QVERIFY(answerer.asked);
    QCOMPARE(answerer.title, QStringLiteral("Confirmation MessageBox"));
    QCOMPARE(answerer.text, QStringLiteral("Do you want to close this window?\n"));
    QCOMPARE(answerer.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(answerer.defaultButton, QMessageBox::Yes);
    // Answerable in every state, even while the window itself is disabled.
    QVERIFY(answerer.enabled);

    QCOMPARE(closed.count(), closes ? 1 : 0);
    QCOMPARE(responded.count(), 0);
    QCOMPARE(window.isVisible(), !closes);
    if (!closes) {
        QCOMPARE(window.isEnabled(), wasEnabled);
        QCOMPARE(window.pushButtonDone->isVisible(), doneShown);
    }
}

namespace {

void sendKey(QWidget *window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(window, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(window, &release);
}

} // namespace

// Keys 2 and 4 answer exactly where the buttons would, once per trial; a
// key repeating because it is held down counts for nothing; Space presses
// "I am ready" while it is shown, never an answer button.
void SubjectWindowTester::keysFollowTheButtonsRules()
{
    SubjectWindow window;
    window.show();
    QSignalSpy responded(&window, &SubjectWindow::subjectResponded);
    for (QPushButton *button : window.findChildren<QPushButton *>())
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);

    sendKey(&window, Qt::Key_2);                 // no answer is due before the run starts
    QVERIFY(responded.isEmpty());
    sendKey(&window, Qt::Key_Space);
    QCOMPARE(responded.takeFirst().at(0).toInt(), 0);
    QCOMPARE(window.lastInput(), SubjectWindow::Input::Mouse);   // reset once the message is out

    perform(window, QStringLiteral("play 1"));
    sendKey(&window, Qt::Key_4);                 // while the sound plays
    sendKey(&window, Qt::Key_Space);             // "I am ready" is gone
    perform(window, QStringLiteral("play -1"));
    sendKey(&window, Qt::Key_4, Qt::NoModifier, true);   // held since the sound
    QVERIFY(responded.isEmpty());

    SubjectWindow::Input inputDuringAnswer = SubjectWindow::Input::Mouse;
    connect(&window, &SubjectWindow::subjectResponded, this, [&] { inputDuringAnswer = window.lastInput(); });
    sendKey(&window, Qt::Key_4, Qt::KeypadModifier);
    QCOMPARE(responded.takeFirst().at(0).toInt(), 4);
    QCOMPARE(inputDuringAnswer, SubjectWindow::Input::Key);
    sendKey(&window, Qt::Key_2);                 // one answer per trial
    QVERIFY(responded.isEmpty());

    perform(window, QStringLiteral("play 1"));
    perform(window, QStringLiteral("play -1"));
    sendKey(&window, Qt::Key_Space);             // Space never answers
    QVERIFY(responded.isEmpty());
    sendKey(&window, Qt::Key_2);
    QCOMPARE(responded.takeFirst().at(0).toInt(), 2);
}

void SubjectWindowTester::breakAsksForIAmReady()
{
    SubjectWindow window;
    window.show();
    perform(window, QStringLiteral("ready"));
    perform(window, QStringLiteral("play 1"));
    perform(window, QStringLiteral("play -1"));
    perform(window, QStringLiteral("tone2"));
    window.showBreak();
    QVERIFY(window.isEnabled());
    QVERIFY(window.labelBreak->isVisible());
    QCOMPARE(window.labelBreak->text(), QStringLiteral("Break: take a rest, then press I am ready."));
    QVERIFY(window.pushButtonIAmReady->isVisible() && !window.pushButtonChoice2->isVisible());
    QSignalSpy responded(&window, &SubjectWindow::subjectResponded);
    sendKey(&window, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(responded.takeFirst().at(0).toInt(), 0);
    QVERIFY(!window.labelBreak->isVisible());
    QVERIFY(window.pushButtonChoice2->isVisible() && !window.pushButtonChoice2->isEnabled());
}

// Qt Test's own events carry a count of their own as their time, which can
// read like the clock's (on a computer started minutes ago). An event made
// inside the program is timed at its arrival whatever its time says, so a
// click once the buttons are on always answers.
void SubjectWindowTester::eventsMadeInTheProgramAreTimedAtTheirArrival()
{
    SubjectWindow window;
    window.show();
    perform(window, QStringLiteral("ready"));
    perform(window, QStringLiteral("play 1"));
    perform(window, QStringLiteral("play -1"));
    AnswerTiming timing;
    connect(&window, &SubjectWindow::subjectResponded, this, [&] { timing = window.lastAnswer(); });
    const QPoint centre = window.pushButtonChoice4->rect().center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, centre, window.pushButtonChoice4->mapToGlobal(centre), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        event.setTimestamp(ulong(window.answersOnNs() / 1'000'000 - 5000));   // 5 s before the buttons came on
        QApplication::sendEvent(window.pushButtonChoice4, &event);
    }
    QVERIFY(timing.valid);
    QCOMPARE(timing.press.source, InputTimeSource::Arrival);
    QVERIFY(timing.press.ns >= window.answersOnNs());
    QVERIFY(timing.heldMs() < 0);
}

QTEST_MAIN(SubjectWindowTester)
#include "tst_subjectwindow.moc"
