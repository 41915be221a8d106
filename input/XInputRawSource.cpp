#include "input/XInputRawSource.h"

#include "input/InputEventLog.h"

#ifdef TARQUEL_HAVE_XINPUT2

#include <QSet>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
// X's names of the core events, unused here, would replace those of
// RawInputEvent::Kind.
#undef KeyPress
#undef KeyRelease
#undef ButtonPress
#undef ButtonRelease

namespace {

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct XInputRawSource::Private
{
    Display *display = nullptr;
    int opcode = 0;                  // the XInputExtension's major opcode on this connection
    int wake[2] = {-1, -1};          // a byte written here ends the thread
    QSet<int> xtestDevices;          // the slave devices that XTEST events come from
    InputEventLog *log = nullptr;
    std::thread thread;

    void run();
    void handle(XGenericEventCookie *cookie, qint64 stampNs);

    ~Private()
    {
        if (thread.joinable()) {
            const char byte = 0;
            [[maybe_unused]] const ssize_t written = ::write(wake[1], &byte, 1);
            thread.join();
        }
        if (log)
            log->setLive(InputTimeSource::XInput2, false);
        for (int fd : wake) {
            if (fd >= 0)
                ::close(fd);
        }
        if (display)
            XCloseDisplay(display);
    }
};

void XInputRawSource::Private::run()
{
    const int connection = ConnectionNumber(display);
    for (;;) {
        pollfd fds[2] = {{connection, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;   // interrupted by a signal
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return;   // the X server has gone; the program's own connection says so
        // Every event read in one go arrived at once; a later read gets its
        // own stamp.
        for (;;) {
            const qint64 stampNs = steadyNowNs();
            const int pending = XPending(display);
            if (pending <= 0)
                break;
            for (int i = 0; i < pending; ++i) {
                XEvent event;
                XNextEvent(display, &event);
                XGenericEventCookie *cookie = &event.xcookie;
                if (cookie->type != GenericEvent || cookie->extension != opcode || !XGetEventData(display, cookie))
                    continue;
                handle(cookie, stampNs);
                XFreeEventData(display, cookie);
            }
        }
    }
}

void XInputRawSource::Private::handle(XGenericEventCookie *cookie, qint64 stampNs)
{
    RawInputEvent raw;
    switch (cookie->evtype) {
    case XI_RawKeyPress:
        raw.kind = RawInputEvent::Kind::KeyPress;
        break;
    case XI_RawKeyRelease:
        raw.kind = RawInputEvent::Kind::KeyRelease;
        break;
    case XI_RawButtonPress:
        raw.kind = RawInputEvent::Kind::ButtonPress;
        break;
    case XI_RawButtonRelease:
        raw.kind = RawInputEvent::Kind::ButtonRelease;
        break;
    default:
        return;
    }
    const auto *event = static_cast<const XIRawEvent *>(cookie->data);
    // Buttons 4 to 7 are the wheel's steps, never a click.
    if ((raw.kind == RawInputEvent::Kind::ButtonPress || raw.kind == RawInputEvent::Kind::ButtonRelease)
        && event->detail >= 4 && event->detail <= 7)
        return;
    raw.code = quint32(event->detail);
    raw.stampNs = stampNs;
    raw.serverTimeMs = qint64(quint32(event->time));
    raw.source = InputTimeSource::XInput2;
    raw.synthetic = xtestDevices.contains(event->sourceid);
    log->add(raw);
}

XInputRawSource::XInputRawSource(std::unique_ptr<Private> d)
    : d(std::move(d))
{
}

XInputRawSource::~XInputRawSource() = default;

std::unique_ptr<XInputRawSource> XInputRawSource::start(const QByteArray &displayName, InputEventLog *log,
                                                        QString *whyNot)
{
    auto d = std::make_unique<Private>();
    d->log = log;
    d->display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!d->display) {
        *whyNot = QStringLiteral("no connection to the X server");
        return nullptr;
    }
    int event = 0, error = 0;
    if (!XQueryExtension(d->display, "XInputExtension", &d->opcode, &event, &error)) {
        *whyNot = QStringLiteral("the X server has no XInput extension");
        return nullptr;
    }
    int major = 2, minor = 2;
    if (XIQueryVersion(d->display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
        *whyNot = QStringLiteral("the X server has no XInput 2.2 (it has %1.%2)").arg(major).arg(minor);
        return nullptr;
    }

    int count = 0;
    if (XIDeviceInfo *devices = XIQueryDevice(d->display, XIAllDevices, &count)) {
        for (int i = 0; i < count; ++i) {
            if (QByteArray(devices[i].name).contains("XTEST"))
                d->xtestDevices.insert(devices[i].deviceid);
        }
        XIFreeDeviceInfo(devices);
    }

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof(bits);
    mask.mask = bits;
    XISelectEvents(d->display, DefaultRootWindow(d->display), &mask, 1);
    XSync(d->display, False);

    if (::pipe2(d->wake, O_CLOEXEC) != 0) {
        *whyNot = QStringLiteral("no pipe to stop its thread");
        return nullptr;
    }
    Private *p = d.get();
    log->setLive(InputTimeSource::XInput2, true);
    d->thread = std::thread([p] {
        p->run();
        p->log->setLive(InputTimeSource::XInput2, false);
    });
    return std::unique_ptr<XInputRawSource>(new XInputRawSource(std::move(d)));
}

#else // no libXi at build time

struct XInputRawSource::Private
{
};

XInputRawSource::XInputRawSource(std::unique_ptr<Private> d)
    : d(std::move(d))
{
}

XInputRawSource::~XInputRawSource() = default;

std::unique_ptr<XInputRawSource> XInputRawSource::start(const QByteArray &, InputEventLog *, QString *whyNot)
{
    *whyNot = QStringLiteral("the program was built without libXi");
    return nullptr;
}

#endif
