#include "input/AnswerKeys.h"
#include "input/EvdevDecoder.h"
#include "input/InputEventLog.h"
#include "input/WindowSystemTime.h"

#include <QtTest>

#include <linux/input.h>

#include <chrono>
#include <thread>

// The parts of answer timing that need no window: the kernel's events
// decoded, the window system's time placed on the monotonic clock, a raw
// event found behind a window's event, and the answer keys.

using Kind = RawInputEvent::Kind;
Q_DECLARE_METATYPE(QVector<EvdevEvent>)
Q_DECLARE_METATYPE(QVector<RawInputEvent>)

namespace {

constexpr qint64 ms = 1'000'000;   // nanoseconds

EvdevEvent key(qint64 us, quint16 code, qint32 value)
{
    return {us / 1'000'000, us % 1'000'000, EV_KEY, code, value};
}
EvdevEvent syn(qint64 us, quint16 code = SYN_REPORT)
{
    return {us / 1'000'000, us % 1'000'000, EV_SYN, code, 0};
}
RawInputEvent raw(Kind kind, quint32 code, qint64 stampNs, qint64 serverTimeMs, InputTimeSource source)
{
    RawInputEvent event;
    event.kind = kind;
    event.code = code;
    event.stampNs = stampNs;
    event.serverTimeMs = serverTimeMs;
    event.source = source;
    return event;
}
InputQuery query(Kind kind, quint32 code, quint64 windowTimeMs, qint64 arrivalNs)
{
    InputQuery q;
    q.kind = kind;
    q.code = code;
    q.windowTimeMs = windowTimeMs;
    q.arrivalNs = arrivalNs;
    return q;
}

} // namespace

class AnswerTimingTest : public QObject
{
    Q_OBJECT

private slots:
    void evdevDecoding_data();
    void evdevDecoding();
    void windowSystemTime_data();
    void windowSystemTime();
    void matching_data();
    void matching();
    void eachRawEventServesOneEvent();
    void waitsForALiveSourceOnly();
    void answerKeys_data();
    void answerKeys();
};

void AnswerTimingTest::evdevDecoding_data()
{
    QTest::addColumn<QVector<EvdevEvent>>("events");
    QTest::addColumn<QStringList>("decoded");   // "kind code stamp (ns)"
    QTest::newRow("key 2 down, repeating, up") << QVector<EvdevEvent>{
        {5, 250, EV_MSC, MSC_SCAN, 0x1f}, key(5'000'250, KEY_2, 1), syn(5'000'250),
        key(5'500'000, KEY_2, 2), syn(5'500'000), key(5'600'001, KEY_2, 0), syn(5'600'001)}
        << QStringList{"key press 11 5000250000", "key release 11 5600001000"};
    QTest::newRow("keypad 4 is X keycode 83") << QVector<EvdevEvent>{key(7, KEY_KP4, 1)}
                                              << QStringList{"key press 83 7000"};
    QTest::newRow("mouse buttons: left 1, middle 2, right 3") << QVector<EvdevEvent>{
        key(1, BTN_LEFT, 1), key(2, BTN_MIDDLE, 1), key(3, BTN_RIGHT, 0)}
        << QStringList{"button press 1 1000", "button press 2 2000", "button release 3 3000"};
    QTest::newRow("after SYN_DROPPED, nothing up to the next report") << QVector<EvdevEvent>{
        key(1, KEY_4, 1), syn(1), syn(2, SYN_DROPPED), key(3, KEY_4, 0), key(3, KEY_2, 1), syn(3),
        key(4, KEY_2, 0)}
        << QStringList{"key press 13 1000", "key release 11 4000"};
    QTest::newRow("a joystick's trigger and an axis: nothing") << QVector<EvdevEvent>{
        key(1, BTN_TRIGGER, 1), {0, 2, EV_ABS, ABS_X, 100}} << QStringList();
}

void AnswerTimingTest::evdevDecoding()
{
    QFETCH(QVector<EvdevEvent>, events);
    QFETCH(QStringList, decoded);
    EvdevDecoder decoder;
    QStringList got;
    // One event at a time: the decoder keeps its state between reads.
    for (const EvdevEvent &event : events) {
        for (const RawInputEvent &r : decoder.decode(&event, 1)) {
            QCOMPARE(r.source, InputTimeSource::Evdev);
            const bool button = r.kind == Kind::ButtonPress || r.kind == Kind::ButtonRelease;
            const bool press = r.kind == Kind::ButtonPress || r.kind == Kind::KeyPress;
            got << QStringLiteral("%1 %2 %3 %4")
                       .arg(button ? "button" : "key", press ? "press" : "release")
                       .arg(r.code)
                       .arg(r.stampNs);
        }
    }
    QCOMPARE(got, decoded);
}

void AnswerTimingTest::windowSystemTime_data()
{
    QTest::addColumn<quint64>("timestampMs");
    QTest::addColumn<qint64>("arrivalNs");
    QTest::addColumn<qint64>("estimateNs");   // 0: no usable time
    const qint64 wrap = qint64(1) << 32;      // milliseconds
    QTest::newRow("3 ms before its arrival: the middle of its millisecond")
        << quint64(5000) << 5003 * ms + 200'000 << 5000 * ms + 500'000;
    QTest::newRow("in the millisecond of its arrival: never after it")
        << quint64(5003) << 5003 * ms + 200'000 << 5003 * ms + 200'000;
    QTest::newRow("32 bits wide: across the wrap")
        << quint64(wrap - 2) << (wrap + 3) * ms << (wrap - 2) * ms + 500'000;
    QTest::newRow("a 64-bit time is taken to its 32 bits")
        << quint64(wrap + 5000) << (2 * wrap + 5001) * ms << (2 * wrap + 5000) * ms + 500'000;
    QTest::newRow("Qt Test's own count: far from the clock") << quint64(501) << 86'400'000 * ms << qint64(0);
    QTest::newRow("none") << quint64(0) << 5000 * ms << qint64(0);
    QTest::newRow("after its arrival: another clock") << quint64(5010) << 5003 * ms << qint64(0);
    QTest::newRow("more than 30 s before: another clock") << quint64(5000) << 35'001 * ms << qint64(0);
}

void AnswerTimingTest::windowSystemTime()
{
    QFETCH(quint64, timestampMs);
    QFETCH(qint64, arrivalNs);
    QFETCH(qint64, estimateNs);
    QCOMPARE(WindowSystemTime::estimateNs(timestampMs, arrivalNs), estimateNs);
}

void AnswerTimingTest::matching_data()
{
    QTest::addColumn<QVector<RawInputEvent>>("events");
    QTest::addColumn<int>("kind");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<quint64>("windowTimeMs");
    QTest::addColumn<qint64>("stampNs");   // of the raw event found; 0: none
    const auto X = InputTimeSource::XInput2;
    const auto E = InputTimeSource::Evdev;
    const qint64 t = 5000 * ms;   // the window system's millisecond
    QTest::newRow("XInput2: the same server time and key")
        << QVector<RawInputEvent>{raw(Kind::KeyPress, 11, t + 300'000, 5000, X)} << int(Kind::KeyPress) << 11u
        << quint64(5000) << t + 300'000;
    QTest::newRow("XInput2: another millisecond is another event")
        << QVector<RawInputEvent>{raw(Kind::KeyPress, 11, t + 300'000, 4999, X)} << int(Kind::KeyPress) << 11u
        << quint64(5000) << qint64(0);
    QTest::newRow("XInput2: another key in the same millisecond is not it")
        << QVector<RawInputEvent>{raw(Kind::KeyPress, 12, t, 5000, X)} << int(Kind::KeyPress) << 11u
        << quint64(5000) << qint64(0);
    QTest::newRow("XInput2: a left-handed mouse's button 3 is Qt's left button")
        << QVector<RawInputEvent>{raw(Kind::ButtonPress, 3, t, 5000, X)} << int(Kind::ButtonPress) << 1u
        << quint64(5000) << t;
    QTest::newRow("XInput2: a release is no press")
        << QVector<RawInputEvent>{raw(Kind::ButtonRelease, 1, t, 5000, X)} << int(Kind::ButtonPress) << 1u
        << quint64(5000) << qint64(0);
    QTest::newRow("evdev: the latest up to the end of the window system's millisecond")
        << QVector<RawInputEvent>{raw(Kind::KeyPress, 11, t - 40 * ms, -1, E),
                                  raw(Kind::KeyPress, 11, t - 300'000, -1, E),
                                  raw(Kind::KeyPress, 11, t + 1'200'000, -1, E)}
        << int(Kind::KeyPress) << 11u << quint64(5000) << t - 300'000;
    QTest::newRow("evdev: more than 100 ms before is another press")
        << QVector<RawInputEvent>{raw(Kind::KeyPress, 11, t - 101 * ms, -1, E)} << int(Kind::KeyPress) << 11u
        << quint64(5000) << qint64(0);
    QTest::newRow("an event made inside the program has no time: nothing")
        << QVector<RawInputEvent>{raw(Kind::KeyPress, 11, t, 0, X), raw(Kind::KeyPress, 11, t, -1, E)}
        << int(Kind::KeyPress) << 11u << quint64(0) << qint64(0);
}

void AnswerTimingTest::matching()
{
    QFETCH(QVector<RawInputEvent>, events);
    QFETCH(int, kind);
    QFETCH(quint32, code);
    QFETCH(quint64, windowTimeMs);
    QFETCH(qint64, stampNs);
    InputEventLog log;
    for (const RawInputEvent &event : events)
        log.add(event);
    const InputQuery q = query(Kind(kind), code, windowTimeMs, 5010 * ms);
    std::optional<RawInputEvent> found = log.take(q, InputTimeSource::XInput2, 0);
    if (!found)
        found = log.take(q, InputTimeSource::Evdev, 0);
    QCOMPARE(found ? found->stampNs : qint64(0), stampNs);
}

// Two presses of one key in one millisecond go to two events, in order; a
// third finds none left.
void AnswerTimingTest::eachRawEventServesOneEvent()
{
    InputEventLog log;
    log.add(raw(Kind::KeyPress, 13, 7 * ms, 7, InputTimeSource::XInput2));
    log.add(raw(Kind::KeyPress, 13, 7 * ms + 600'000, 7, InputTimeSource::XInput2));
    const InputQuery q = query(Kind::KeyPress, 13, 7, 9 * ms);
    QCOMPARE(log.take(q, InputTimeSource::XInput2, 0)->stampNs, 7 * ms);
    QCOMPARE(log.take(q, InputTimeSource::XInput2, 0)->stampNs, 7 * ms + 600'000);
    QVERIFY(!log.take(q, InputTimeSource::XInput2, 0));
}

// A source whose thread runs is waited for, up to the limit given; one that
// does not run is not.
void AnswerTimingTest::waitsForALiveSourceOnly()
{
    const auto nowNs = [] {
        return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
    InputEventLog log;
    const InputQuery q = query(Kind::KeyPress, 11, 42, 50 * ms);
    qint64 start = nowNs();
    QVERIFY(!log.take(q, InputTimeSource::XInput2, start + 5000 * ms));
    QVERIFY(nowNs() - start < 1000 * ms);

    log.setLive(InputTimeSource::XInput2, true);
    std::thread source([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        log.add(raw(Kind::KeyPress, 11, 49 * ms, 42, InputTimeSource::XInput2));
    });
    start = nowNs();
    const std::optional<RawInputEvent> found = log.take(q, InputTimeSource::XInput2, start + 5000 * ms);
    const qint64 waitedNs = nowNs() - start;
    source.join();
    QVERIFY(found);
    QVERIFY(waitedNs > 10 * ms && waitedNs < 4000 * ms);
}

void AnswerTimingTest::answerKeys_data()
{
    QTest::addColumn<quint32>("xKeycode");   // 0: not known
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("answer");
    QTest::newRow("AZERTY main-row 2 gives é") << 11u << int(Qt::Key_Eacute) << "é" << 2;
    QTest::newRow("AZERTY main-row 4 gives '") << 13u << int(Qt::Key_Apostrophe) << "'" << 4;
    QTest::newRow("keypad 2, NumLock off") << 88u << int(Qt::Key_Down) << "" << 2;
    QTest::newRow("keypad 4, NumLock off") << 83u << int(Qt::Key_Left) << "" << 4;
    QTest::newRow("the character 2 on another key") << 20u << int(Qt::Key_2) << "2" << 2;
    QTest::newRow("Qt Test's keypad 4, no keycode") << 0u << int(Qt::Key_4) << "" << 4;
    QTest::newRow("main-row 3") << 12u << int(Qt::Key_3) << "3" << 0;
    QTest::newRow("a letter") << 38u << int(Qt::Key_A) << "a" << 0;
}

void AnswerTimingTest::answerKeys()
{
    QFETCH(quint32, xKeycode);
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, answer);
    QCOMPARE(answerForKey(xKeycode, key, text), answer);
}

QTEST_APPLESS_MAIN(AnswerTimingTest)
#include "tst_answertiming.moc"
