#include "input/AnswerInput.h"

#include "audio/AudioEngine.h"
#include "input/EvdevSource.h"
#include "input/WindowSystemTime.h"
#include "input/XInputRawSource.h"

#include <QDebug>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace {

bool platformGivesXKeycodes()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

quint32 xButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::MiddleButton:
        return 2;
    case Qt::RightButton:
        return 3;
    case Qt::BackButton:
        return 8;
    case Qt::ForwardButton:
        return 9;
    default:
        return 0;
    }
}

} // namespace

AnswerInput &AnswerInput::shared()
{
    static AnswerInput input;
    return input;
}

AnswerInput::AnswerInput()
{
    // TARQUEL_ANSWER_TIMES names the best source to use ("evdev",
    // "xinput2", "window-system"), for measuring one against another.
    const QByteArray limit = qgetenv("TARQUEL_ANSWER_TIMES");
    const bool evdevAllowed = limit.isEmpty() || limit == "evdev";
    const bool xinputAllowed = evdevAllowed || limit == "xinput2";

    QString whyNot;
    if (evdevAllowed) {
        evdev = EvdevSource::start(&events, &whyNot);
        if (!evdev)
            qInfo().noquote() << "Answer times: no evdev:" << whyNot;
    }
    if (xinputAllowed && QGuiApplication::platformName() == QLatin1String("xcb")) {
        xinput = XInputRawSource::start(QByteArray(), &events, &whyNot);
        if (!xinput)
            qInfo().noquote() << "Answer times: no XInput2 raw events:" << whyNot;
    }
    // Without a window system (Qt's offscreen and minimal platforms) every
    // event is made inside the program, and its time is a count of Qt
    // Test's own that may happen to look like the clock's.
    const QString platform = QGuiApplication::platformName();
    windowSystemEvents = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
    qInfo().noquote() << "Answer times:" << inputTimeSourceName(bestSource());
}

AnswerInput::~AnswerInput() = default;

InputTimeSource AnswerInput::bestSource() const
{
    if (events.isLive(InputTimeSource::Evdev))
        return InputTimeSource::Evdev;
    if (events.isLive(InputTimeSource::XInput2))
        return InputTimeSource::XInput2;
    return InputTimeSource::WindowSystem;
}

quint32 AnswerInput::xKeycode(const QKeyEvent *event)
{
    return platformGivesXKeycodes() ? event->nativeScanCode() : 0;
}

InputStamp AnswerInput::timeOf(const QInputEvent *event)
{
    const qint64 arrivalNs = monotonicNowNs();
    if (!windowSystemEvents)
        return {arrivalNs, InputTimeSource::Arrival};
    InputQuery query;
    query.arrivalNs = arrivalNs;
    query.windowTimeMs = quint64(event->timestamp());
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        query.kind = RawInputEvent::Kind::ButtonPress;
        query.code = xButton(static_cast<const QMouseEvent *>(event)->button());
        break;
    case QEvent::MouseButtonRelease:
        query.kind = RawInputEvent::Kind::ButtonRelease;
        query.code = xButton(static_cast<const QMouseEvent *>(event)->button());
        break;
    case QEvent::KeyPress:
        query.kind = RawInputEvent::Kind::KeyPress;
        query.code = xKeycode(static_cast<const QKeyEvent *>(event));
        break;
    case QEvent::KeyRelease:
        query.kind = RawInputEvent::Kind::KeyRelease;
        query.code = xKeycode(static_cast<const QKeyEvent *>(event));
        break;
    default:
        return {arrivalNs, InputTimeSource::Arrival};
    }

    // The window system's time, where it is on the monotonic clock: an event
    // that has one is a real one, worth waiting for a source's thread.
    const qint64 windowNs = WindowSystemTime::estimateNs(query.windowTimeMs, arrivalNs);
    const qint64 millisecondNs = WindowSystemTime::millisecondStartNs(query.windowTimeMs, arrivalNs);
    const bool real = windowNs != 0;

    std::optional<InputStamp> best;
    bool synthetic = false;
    if (events.isLive(InputTimeSource::XInput2)) {
        if (const auto raw = events.take(query, InputTimeSource::XInput2, real ? arrivalNs + xinputWaitNs : 0)) {
            synthetic = raw->synthetic;
            // The thread's stamp comes a fraction of a millisecond after the
            // server's time of the event. Past the end of that millisecond
            // the event is known to lie before it: the end is the better
            // time. A thread held up longer than that says nothing finer
            // than the millisecond itself.
            qint64 ns = std::min(raw->stampNs, arrivalNs);
            InputTimeSource source = InputTimeSource::XInput2;
            if (millisecondNs != 0 && ns > millisecondNs + 1'000'000) {
                if (ns <= millisecondNs + 2'000'000) {
                    ns = millisecondNs + 1'000'000;
                } else {
                    ns = windowNs;
                    source = InputTimeSource::WindowSystem;
                }
            }
            best = InputStamp{ns, source};
        }
    }
    // XTEST's events never pass the kernel's devices.
    if (!synthetic && events.isLive(InputTimeSource::Evdev)) {
        if (const auto raw = events.take(query, InputTimeSource::Evdev, real ? arrivalNs + evdevWaitNs : 0))
            best = InputStamp{std::min(raw->stampNs, arrivalNs), InputTimeSource::Evdev};
    }
    if (best)
        return *best;
    if (real)
        return {windowNs, InputTimeSource::WindowSystem};
    return {arrivalNs, InputTimeSource::Arrival};
}

