#include "input/EvdevSource.h"

#include "input/EvdevDecoder.h"
#include "input/InputEventLog.h"

#include <QByteArray>
#include <QSet>

#include <chrono>
#include <thread>
#include <vector>

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int rescanMs = 3000;   // how soon a device plugged in later is read

constexpr size_t bitsPerLong = 8 * sizeof(unsigned long);

bool hasBit(const unsigned long *bits, int bit)
{
    return (bits[size_t(bit) / bitsPerLong] >> (size_t(bit) % bitsPerLong)) & 1UL;
}

// A keyboard with the answer keys, a keypad, or a mouse.
bool answersWith(int fd)
{
    unsigned long keys[(KEY_MAX + bitsPerLong) / bitsPerLong] = {};
    if (::ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys) < 0)
        return false;
    return hasBit(keys, KEY_2) || hasBit(keys, KEY_4) || hasBit(keys, KEY_KP2) || hasBit(keys, KEY_KP4)
           || hasBit(keys, BTN_LEFT);
}

} // namespace

struct EvdevSource::Private
{
    struct Device
    {
        QByteArray path;
        int fd = -1;
        EvdevDecoder decoder;
    };

    InputEventLog *log = nullptr;
    int wake[2] = {-1, -1};
    std::vector<Device> devices;
    QSet<QByteArray> passedOver;   // nodes that are no keyboard or mouse
    int denied = 0;                // nodes this account may not read, at the last scan
    std::thread thread;

    void scan();
    void run();
    bool readDevice(Device &device);

    ~Private()
    {
        if (thread.joinable()) {
            const char byte = 0;
            [[maybe_unused]] const ssize_t written = ::write(wake[1], &byte, 1);
            thread.join();
        }
        if (log)
            log->setLive(InputTimeSource::Evdev, false);
        for (Device &device : devices)
            ::close(device.fd);
        for (int fd : wake) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

void EvdevSource::Private::scan()
{
    DIR *folder = ::opendir("/dev/input");
    if (!folder)
        return;
    denied = 0;
    while (dirent *entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith("event"))
            continue;
        const QByteArray path = "/dev/input/" + name;
        if (passedOver.contains(path))
            continue;
        bool known = false;
        for (const Device &device : devices)
            known = known || device.path == path;
        if (known)
            continue;
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM)
                ++denied;
            continue;
        }
        // Stamped on the monotonic clock, or not used at all: the kernel's
        // default is the wall clock, which jumps.
        int clock = CLOCK_MONOTONIC;
        if (!answersWith(fd) || ::ioctl(fd, EVIOCSCLOCKID, &clock) < 0) {
            passedOver.insert(path);
            ::close(fd);
            continue;
        }
        devices.push_back({path, fd, EvdevDecoder()});
    }
    ::closedir(folder);
}

bool EvdevSource::Private::readDevice(Device &device)
{
    input_event events[64];
    for (;;) {
        const ssize_t bytes = ::read(device.fd, events, sizeof(events));
        if (bytes < 0)
            return errno == EAGAIN || errno == EINTR;   // ENODEV: unplugged
        if (bytes == 0)
            return false;
        const int count = int(size_t(bytes) / sizeof(input_event));
        EvdevEvent copied[64];
        for (int i = 0; i < count; ++i) {
            copied[i].seconds = qint64(events[i].input_event_sec);
            copied[i].microseconds = qint64(events[i].input_event_usec);
            copied[i].type = events[i].type;
            copied[i].code = events[i].code;
            copied[i].value = events[i].value;
        }
        for (const RawInputEvent &raw : device.decoder.decode(copied, count))
            log->add(raw);
        if (size_t(bytes) < sizeof(events))
            return true;
    }
}

void EvdevSource::Private::run()
{
    auto lastScan = std::chrono::steady_clock::now();
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({wake[0], POLLIN, 0});
        for (const Device &device : devices)
            fds.push_back({device.fd, POLLIN, 0});
        const int ready = ::poll(fds.data(), nfds_t(fds.size()), rescanMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        for (size_t i = devices.size(); i-- > 0;) {
            const short revents = fds[i + 1].revents;
            if (revents == 0)
                continue;
            if ((revents & (POLLERR | POLLHUP | POLLNVAL)) || !readDevice(devices[i])) {
                ::close(devices[i].fd);
                devices.erase(devices.begin() + long(i));
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastScan >= std::chrono::milliseconds(rescanMs)) {
            lastScan = now;
            scan();
            log->setLive(InputTimeSource::Evdev, !devices.empty());
        }
    }
}

EvdevSource::EvdevSource(std::unique_ptr<Private> d)
    : d(std::move(d))
{
}

EvdevSource::~EvdevSource() = default;

std::unique_ptr<EvdevSource> EvdevSource::start(InputEventLog *log, QString *whyNot)
{
    auto d = std::make_unique<Private>();
    d->log = log;
    d->scan();
    if (d->devices.empty()) {
        *whyNot = d->denied > 0 ? QStringLiteral("this account may not read the input devices (it is not in the "
                                                 "input group)")
                                : QStringLiteral("no keyboard or mouse under /dev/input");
        return nullptr;
    }
    if (::pipe2(d->wake, O_CLOEXEC) != 0) {
        *whyNot = QStringLiteral("no pipe to stop its thread");
        return nullptr;
    }
    log->setLive(InputTimeSource::Evdev, true);
    Private *p = d.get();
    d->thread = std::thread([p] {
        p->run();
        p->log->setLive(InputTimeSource::Evdev, false);
    });
    return std::unique_ptr<EvdevSource>(new EvdevSource(std::move(d)));
}
