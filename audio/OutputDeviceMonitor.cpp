#include "audio/OutputDeviceMonitor.h"

#include "audio/AudioEngine.h"
#include "audio/PulseLoop.h"

#include <QPointer>

#include <pulse/pulseaudio.h>

#include <functional>
#include <time.h>

namespace {

// How long a reading waits for the server.
constexpr qint64 answerTimeoutNs = 3'000'000'000;

OutputDeviceState stateOf(const pa_sink_info *info)
{
    OutputDeviceState state;
    state.known = true;
    state.device = QString::fromUtf8(info->name);
    for (int i = 0; i < info->volume.channels; ++i) {
        OutputDeviceState::Channel channel;
        channel.name = QString::fromUtf8(pa_channel_position_to_string(info->channel_map.map[i]));
        channel.percent = 100.0 * double(info->volume.values[i]) / PA_VOLUME_NORM;
        channel.dB = pa_sw_volume_to_dB(info->volume.values[i]);
        state.channels.append(channel);
    }
    state.muted = info->mute != 0;
    if (info->active_port) {
        state.portName = QString::fromUtf8(info->active_port->name);
        state.portDescription = QString::fromUtf8(info->active_port->description);
    }
    return state;
}

} // namespace

// Touched by libpulse's thread and, under the loop's lock, by the
// monitor's own.
struct OutputDeviceMonitor::Connection
{
    OutputDeviceMonitor *owner = nullptr;
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    QString device;          // as asked for
    QString resolved;        // the sink's own name
    quint32 sinkIndex = PA_INVALID_INDEX;
    OutputDeviceState current;
    bool answered = false;
    quint64 generation = 0;

    static void contextState(pa_context *c, void *self);
    static void serverInfo(pa_context *c, const pa_server_info *info, void *self);
    static void sinkInfo(pa_context *c, const pa_sink_info *info, int eol, void *self);
    static void subscribed(pa_context *c, pa_subscription_event_type_t type, quint32 index, void *self);

    void query();
    void tearDown();
};

void OutputDeviceMonitor::Connection::contextState(pa_context *, void *self)
{
    pa_threaded_mainloop_signal(static_cast<Connection *>(self)->loop, 0);
}

void OutputDeviceMonitor::Connection::serverInfo(pa_context *, const pa_server_info *info, void *self)
{
    auto *d = static_cast<Connection *>(self);
    if (info && d->device.isEmpty() && info->default_sink_name)
        d->resolved = QString::fromUtf8(info->default_sink_name);
    pa_threaded_mainloop_signal(d->loop, 0);
}

void OutputDeviceMonitor::Connection::sinkInfo(pa_context *, const pa_sink_info *info, int eol, void *self)
{
    auto *d = static_cast<Connection *>(self);
    if (eol || !info) {
        d->answered = true;
        pa_threaded_mainloop_signal(d->loop, 0);
        return;
    }
    const OutputDeviceState state = stateOf(info);
    d->sinkIndex = info->index;
    const bool changed = !d->current.known || outputDeviceChanges(d->current, state).size() > 0;
    d->current = state;
    if (changed && d->owner) {
        QPointer<OutputDeviceMonitor> owner = d->owner;
        const quint64 generation = d->generation;
        QMetaObject::invokeMethod(
            d->owner,
            [owner, generation, state] {
                if (owner && owner->d->generation == generation)
                    emit owner->stateChanged(state);
            },
            Qt::QueuedConnection);
    }
}

void OutputDeviceMonitor::Connection::subscribed(pa_context *, pa_subscription_event_type_t type, quint32 index,
                                                 void *self)
{
    auto *d = static_cast<Connection *>(self);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_CHANGE && index == d->sinkIndex)
        d->query();
}

void OutputDeviceMonitor::Connection::query()
{
    if (resolved.isEmpty())
        return;
    if (pa_operation *operation =
            pa_context_get_sink_info_by_name(context, resolved.toUtf8().constData(), sinkInfo, this))
        pa_operation_unref(operation);
}

void OutputDeviceMonitor::Connection::tearDown()
{
    closePulseLoop(loop, [this](pa_mainloop_api *) { releasePulseContext(context); });
}

OutputDeviceMonitor::OutputDeviceMonitor(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Connection>())
{
    qRegisterMetaType<OutputDeviceState>();
    d->owner = this;
}

OutputDeviceMonitor::~OutputDeviceMonitor()
{
    d->tearDown();
}

OutputDeviceState OutputDeviceMonitor::start(const QString &device)
{
    stop();
    ++d->generation;
    d->device = device;
    d->resolved = device;
    d->sinkIndex = PA_INVALID_INDEX;
    d->current = OutputDeviceState();
    d->answered = false;
    d->loop = pa_threaded_mainloop_new();
    if (!d->loop || pa_threaded_mainloop_start(d->loop) < 0) {
        d->tearDown();
        return {};
    }
    pa_threaded_mainloop_lock(d->loop);
    const auto wait = [this](const std::function<bool()> &done) {
        const qint64 deadline = monotonicNowNs() + answerTimeoutNs;
        while (!done() && monotonicNowNs() < deadline) {
            // The loop's thread signals at every answer; a server that
            // says nothing more is given up at the deadline.
            timespec slice{0, 10'000'000};
            pa_threaded_mainloop_unlock(d->loop);
            nanosleep(&slice, nullptr);
            pa_threaded_mainloop_lock(d->loop);
        }
        return done();
    };
    d->context = pa_context_new(pa_threaded_mainloop_get_api(d->loop), "Auditory Tarquel (output device)");
    bool ready = false;
    if (d->context) {
        pa_context_set_state_callback(d->context, Connection::contextState, d.get());
        if (pa_context_connect(d->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            ready = wait([this] {
                const pa_context_state_t state = pa_context_get_state(d->context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            }) && pa_context_get_state(d->context) == PA_CONTEXT_READY;
        }
    }
    if (ready && device.isEmpty()) {
        if (pa_operation *operation = pa_context_get_server_info(d->context, Connection::serverInfo, d.get())) {
            wait([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
            pa_operation_unref(operation);
        }
    }
    if (ready && !d->resolved.isEmpty()) {
        pa_context_set_subscribe_callback(d->context, Connection::subscribed, d.get());
        if (pa_operation *operation = pa_context_subscribe(d->context, PA_SUBSCRIPTION_MASK_SINK, nullptr, nullptr))
            pa_operation_unref(operation);
        d->query();
        wait([this] { return d->answered; });
    }
    const OutputDeviceState state = d->current;
    pa_threaded_mainloop_unlock(d->loop);
    if (!state.known)
        stop();
    return state;
}

void OutputDeviceMonitor::stop()
{
    ++d->generation;
    d->tearDown();
}

OutputDeviceState OutputDeviceMonitor::state() const
{
    if (!d->loop)
        return d->current;
    pa_threaded_mainloop_lock(d->loop);
    const OutputDeviceState state = d->current;
    pa_threaded_mainloop_unlock(d->loop);
    return state;
}

OutputDeviceState OutputDeviceMonitor::read(const QString &device)
{
    OutputDeviceMonitor monitor;
    const OutputDeviceState state = monitor.start(device);
    monitor.stop();
    return state;
}
