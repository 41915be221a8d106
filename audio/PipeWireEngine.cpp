#include "audio/PipeWireEngine.h"

#include "audio/SpscRing.h"
#include "audio/StreamClock.h"

#include <QDebug>
#include <QHash>
#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/props.h>
#include <spa/node/io.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// A cycle whose first frame reaches the device further than this from where
// the cycle before it said it would: the device's timeline jumped (a stall,
// an xrun, a graph that restarted, a changed latency). Resampling moves it by
// a fraction of a frame from cycle to cycle, far less than this.
constexpr qint64 jumpToleranceNs = 250'000;

// How long open() waits for the server and the stream.
constexpr qint64 connectTimeoutNs = 5'000'000'000;

// How often the engine looks for a device that stopped, while a sound is due
// or playing.
constexpr int progressCheckMs = 100;

// Sounds the audio thread holds at a time: far more than a run ever has
// (one per trial, and one being cancelled).
constexpr int maxSounds = 16;

void initialisePipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

QString pipewireError(int result)
{
    return QString::fromUtf8(spa_strerror(result));
}

// A sound on its way to the device. Made by the engine's own thread, handed
// to the audio thread, handed back when done and freed where it was made.
struct RtSound
{
    quint64 id = 0;
    std::vector<float> samples;
    qint64 requestedNs = 0;
    qint64 frame = -1;     // where its first frame went; -1 until placed
    qint64 written = 0;    // frames of it written so far
};

enum class CommandType { Play, Cancel };
struct Command
{
    CommandType type = CommandType::Play;
    RtSound *sound = nullptr;
};

enum class EventType { Placed, Finished, Retired, Jumped, Underrun };
struct Event
{
    EventType type = EventType::Placed;
    RtSound *sound = nullptr;
    quint64 id = 0;
    qint64 frame = 0;           // Placed: first frame; Finished: the frame after the last; Jumped: first frame after it
    StreamTimeline timeline;    // the cycle's own timeline
    qint64 latencyNs = 0;       // Placed: from the cycle's start to the end of what it wrote
    qint64 jumpNs = 0;          // Jumped: how much later than expected the frames now play
};

// What the audio thread last did, for the engine's own thread: written as a
// sequence lock (odd while being written), so that a reader never waits.
struct CycleState
{
    qint64 callbackNs = 0;     // when the last cycle's callback ran
    qint64 nextFrame = 0;      // the first frame not yet written
    qint64 nextFrameNs = 0;    // when it reaches the device
    qint64 graphRate = 0;      // Hz
    qint64 quantum = 0;        // graph frames per cycle
    qint64 cycles = 0;         // cycles since open()
};

class CyclePublisher
{
public:
    void write(const CycleState &state)
    {
        const quint32 s = sequence.load(std::memory_order_relaxed);
        sequence.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        callbackNs.store(state.callbackNs, std::memory_order_relaxed);
        nextFrame.store(state.nextFrame, std::memory_order_relaxed);
        nextFrameNs.store(state.nextFrameNs, std::memory_order_relaxed);
        graphRate.store(state.graphRate, std::memory_order_relaxed);
        quantum.store(state.quantum, std::memory_order_relaxed);
        cycles.store(state.cycles, std::memory_order_relaxed);
        sequence.store(s + 2, std::memory_order_release);
    }

    CycleState read() const
    {
        CycleState state;
        for (;;) {
            const quint32 before = sequence.load(std::memory_order_acquire);
            if (before & 1u)
                continue;
            state.callbackNs = callbackNs.load(std::memory_order_relaxed);
            state.nextFrame = nextFrame.load(std::memory_order_relaxed);
            state.nextFrameNs = nextFrameNs.load(std::memory_order_relaxed);
            state.graphRate = graphRate.load(std::memory_order_relaxed);
            state.quantum = quantum.load(std::memory_order_relaxed);
            state.cycles = cycles.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence.load(std::memory_order_relaxed) == before)
                return state;
        }
    }

private:
    std::atomic<quint32> sequence{0};
    std::atomic<qint64> callbackNs{0}, nextFrame{0}, nextFrameNs{0}, graphRate{0}, quantum{0}, cycles{0};
};

} // namespace

struct PipeWireEngine::Stream
{
    explicit Stream(PipeWireEngine *owner) : engine(owner) {}

    PipeWireEngine *engine;

    // Touched by the loop's thread, and by the engine's own thread only while
    // it holds the loop's lock.
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    spa_hook coreListener{};
    pw_stream *stream = nullptr;
    spa_hook streamListener{};
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    QString stateError;
    QString serverVersion;
    float volume = -1.0f;   // the stream's first channel volume as the server says it, linear
    bool muted = false;
    spa_io_position *position = nullptr;   // the graph's position, read in the cycle

    // The engine's own thread.
    int rate = 0;
    QString requestedDevice;
    AudioOutputInfo info;
    std::atomic<bool> running{false};
    bool failureReported = false;
    bool idle = false;
    quint64 generation = 0;   // one per open(), so that late notices of an old stream are dropped
    quint64 nextId = 1;
    int jumps = 0;
    int eventFd = -1;
    QSocketNotifier *notifier = nullptr;
    QTimer progressTimer;
    bool stalled = false;
    qint64 lastSeenCycles = -1;
    qint64 lastProgressNs = 0;
    struct Tracked
    {
        SoundTiming timing;
        qint64 frame = -1;       // its first frame, once placed
        bool sawStall = false;   // the device stalled while it was due or playing
        bool retired = false;    // the audio thread is done with it
    };
    QHash<quint64, Tracked> tracked;   // sounds handed over and not yet finished

    // Between the threads.
    SpscRing<Command, 64> commands;   // engine -> audio thread
    SpscRing<Event, 256> events;      // audio thread -> engine
    CyclePublisher published;
    std::atomic<int> underruns{0};
    std::atomic<bool> resetTimeline{true};

    // The audio thread's own.
    RtSound *sounds[maxSounds] = {};
    int soundCount = 0;
    qint64 writePos = 0;
    qint64 expectedNextNs = 0;
    bool haveExpectation = false;
    qint64 cycles = 0;

    static void process(void *self);
    static void stateChanged(void *self, pw_stream_state old, pw_stream_state state, const char *error);
    static void ioChanged(void *self, uint32_t id, void *area, uint32_t size);
    static void controlInfo(void *self, uint32_t id, const pw_stream_control *control);
    static void coreInfo(void *self, const pw_core_info *info);
    static void coreError(void *self, uint32_t id, int seq, int res, const char *message);

    void pushEvent(const Event &event, bool &wake);
    void failLater(const QString &reason);
    void retire(int index, bool &wake);
    void tearDown();
};

namespace {

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = PipeWireEngine::Stream::stateChanged;
    events.io_changed = PipeWireEngine::Stream::ioChanged;
    events.control_info = PipeWireEngine::Stream::controlInfo;
    events.process = PipeWireEngine::Stream::process;
    return events;
}();

const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.info = PipeWireEngine::Stream::coreInfo;
    events.error = PipeWireEngine::Stream::coreError;
    return events;
}();

} // namespace

void PipeWireEngine::Stream::pushEvent(const Event &event, bool &wake)
{
    // A full ring means the engine's thread has not looked for a long time;
    // what is lost then is a notice, never a sample.
    if (events.push(event))
        wake = true;
}

// From the loop's thread: the failure reaches the engine on its own thread,
// unless the stream it came from has been closed by then.
void PipeWireEngine::Stream::failLater(const QString &reason)
{
    QPointer<PipeWireEngine> owner = engine;
    const quint64 streamGeneration = generation;
    QMetaObject::invokeMethod(
        engine,
        [owner, streamGeneration, reason] {
            if (owner && owner->d->generation == streamGeneration)
                owner->reportFailure(reason);
        },
        Qt::QueuedConnection);
}

void PipeWireEngine::Stream::retire(int index, bool &wake)
{
    Event event;
    event.type = EventType::Retired;
    event.sound = sounds[index];
    event.id = sounds[index]->id;
    if (!events.push(event)) {
        // Kept until there is room: a sound is never freed here.
        return;
    }
    wake = true;
    sounds[index] = sounds[--soundCount];
    sounds[soundCount] = nullptr;
}

// The graph's cycle, on its real-time thread: nothing here waits, locks or
// allocates.
void PipeWireEngine::Stream::process(void *self)
{
    auto *d = static_cast<Stream *>(self);
    bool wake = false;
    pw_buffer *buffer = pw_stream_dequeue_buffer(d->stream);
    if (!buffer) {
        d->underruns.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    pw_time time{};
    pw_stream_get_time_n(d->stream, &time, sizeof(time));
    const qint64 callbackNs = monotonicNowNs();

    spa_data &data = buffer->buffer->datas[0];
    auto *out = static_cast<float *>(data.data);
    if (!out) {
        pw_stream_queue_buffer(d->stream, buffer);
        return;
    }
    const qint64 capacity = qint64(data.maxsize / sizeof(float));
    qint64 frames = buffer->requested > 0 ? std::min<qint64>(qint64(buffer->requested), capacity) : capacity;
    const qint64 graphRate = time.rate.denom > 0 ? qint64(time.rate.denom) / std::max<qint64>(time.rate.num, 1) : 0;
    const qint64 quantum = d->position ? qint64(d->position->clock.duration) : 0;
    if (buffer->requested == 0 && quantum > 0 && graphRate > 0)
        frames = std::min<qint64>(capacity, (quantum * d->rate + graphRate - 1) / graphRate);

    // The first frame of this buffer reaches the device after what the
    // resampler and the stream's queue still hold, and the graph's delay to
    // the device, counted from the cycle's start.
    const long double nsPerTick = time.rate.denom > 0 ? 1e9L * time.rate.num / time.rate.denom : 0.0L;
    const qint64 firstFrameNs = time.now + qint64(std::llround(static_cast<long double>(time.delay) * nsPerTick))
                                + qint64(std::llround((static_cast<long double>(time.buffered) + time.queued) * 1e9L
                                                      / d->rate));
    const StreamTimeline timeline{double(d->writePos), firstFrameNs, double(d->rate)};

    if (d->resetTimeline.exchange(false, std::memory_order_acquire))
        d->haveExpectation = false;
    if (d->haveExpectation && std::llabs(firstFrameNs - d->expectedNextNs) > jumpToleranceNs) {
        Event event;
        event.type = EventType::Jumped;
        event.frame = d->writePos;
        event.timeline = timeline;
        event.jumpNs = firstFrameNs - d->expectedNextNs;
        d->pushEvent(event, wake);
    }

    Command command;
    while (d->commands.pop(command)) {
        switch (command.type) {
        case CommandType::Play:
            if (d->soundCount < maxSounds) {
                d->sounds[d->soundCount++] = command.sound;
            } else {
                Event event;
                event.type = EventType::Retired;
                event.sound = command.sound;
                event.id = command.sound->id;
                d->pushEvent(event, wake);
            }
            break;
        case CommandType::Cancel:
            // Everything stops here: what is already in the graph plays out.
            for (int i = 0; i < d->soundCount; ++i)
                d->sounds[i]->written = qint64(d->sounds[i]->samples.size());
            break;
        }
    }

    std::memset(out, 0, size_t(frames) * sizeof(float));
    const qint64 bufferEnd = d->writePos + frames;
    for (int i = 0; i < d->soundCount; ++i) {
        RtSound *sound = d->sounds[i];
        const qint64 length = qint64(sound->samples.size());
        if (sound->frame < 0 && sound->written < length) {
            // Placed in the cycle that holds its onset, by this cycle's timing.
            const SoundPlacement placement = placeSound(timeline, sound->requestedNs, d->writePos, length);
            if (placement.frame >= bufferEnd)
                continue;
            sound->frame = placement.frame;
            Event event;
            event.type = EventType::Placed;
            event.id = sound->id;
            event.frame = placement.frame;
            event.timeline = timeline;
            event.latencyNs = timeOfFrame(timeline, bufferEnd) - callbackNs;
            d->pushEvent(event, wake);
        }
        if (sound->frame < 0 || sound->written >= length)
            continue;
        const qint64 from = std::max(sound->frame + sound->written, d->writePos);
        const qint64 to = std::min(sound->frame + length, bufferEnd);
        if (to > from) {
            std::memcpy(out + (from - d->writePos), sound->samples.data() + (from - sound->frame),
                        size_t(to - from) * sizeof(float));
            sound->written = to - sound->frame;
        }
        if (sound->written >= length) {
            Event event;
            event.type = EventType::Finished;
            event.id = sound->id;
            event.frame = sound->frame + length;
            event.timeline = timeline;
            d->pushEvent(event, wake);
        }
    }
    // Sounds written in full, or cancelled, go back to be freed.
    for (int i = d->soundCount - 1; i >= 0; --i) {
        if (d->sounds[i]->written >= qint64(d->sounds[i]->samples.size()))
            d->retire(i, wake);
    }

    data.chunk->offset = 0;
    data.chunk->stride = sizeof(float);
    data.chunk->size = uint32_t(frames * qint64(sizeof(float)));
    buffer->size = uint64_t(frames);
    d->writePos = bufferEnd;
    d->expectedNextNs = timeOfFrame(timeline, bufferEnd);
    d->haveExpectation = true;
    ++d->cycles;
    d->published.write({callbackNs, bufferEnd, d->expectedNextNs, graphRate, quantum, d->cycles});
    pw_stream_queue_buffer(d->stream, buffer);

    if (wake) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(d->eventFd, &one, sizeof(one));
    }
}

void PipeWireEngine::Stream::stateChanged(void *self, pw_stream_state, pw_stream_state state, const char *error)
{
    auto *d = static_cast<Stream *>(self);
    d->state = state;
    if (state == PW_STREAM_STATE_ERROR)
        d->stateError = QString::fromUtf8(error ? error : "unknown error");
    if ((state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) && d->running) {
        const QString reason = state == PW_STREAM_STATE_ERROR
                                   ? QStringLiteral("the audio server ended the output stream (%1)").arg(d->stateError)
                                   : QStringLiteral("the audio server disconnected the output stream; the output "
                                                    "device may have been removed");
        d->failLater(reason);
    }
    pw_thread_loop_signal(d->loop, false);
}

void PipeWireEngine::Stream::ioChanged(void *self, uint32_t id, void *area, uint32_t size)
{
    auto *d = static_cast<Stream *>(self);
    if (id == SPA_IO_Position)
        d->position = area && size >= sizeof(spa_io_position) ? static_cast<spa_io_position *>(area) : nullptr;
}

void PipeWireEngine::Stream::controlInfo(void *self, uint32_t id, const pw_stream_control *control)
{
    auto *d = static_cast<Stream *>(self);
    if (id == SPA_PROP_channelVolumes && control->n_values > 0)
        d->volume = control->values[0];
    else if (id == SPA_PROP_mute && control->n_values > 0)
        d->muted = control->values[0] > 0.5f;
}

void PipeWireEngine::Stream::coreInfo(void *self, const pw_core_info *info)
{
    auto *d = static_cast<Stream *>(self);
    if (info && info->version)
        d->serverVersion = QString::fromUtf8(info->version);
    pw_thread_loop_signal(d->loop, false);
}

void PipeWireEngine::Stream::coreError(void *self, uint32_t id, int, int res, const char *message)
{
    auto *d = static_cast<Stream *>(self);
    // Errors about the core itself end the connection (the server went away).
    if (id != PW_ID_CORE)
        return;
    const QString reason = res == -EPIPE ? QStringLiteral("the connection to the audio server was lost")
                                         : QStringLiteral("the audio server reported an error (%1)")
                                               .arg(QString::fromUtf8(message ? message : spa_strerror(res)));
    d->stateError = reason;
    if (d->running) {
        d->failLater(reason);
    }
    pw_thread_loop_signal(d->loop, false);
}

void PipeWireEngine::Stream::tearDown()
{
    running = false;
    progressTimer.stop();
    delete notifier;
    notifier = nullptr;
    if (loop) {
        pw_thread_loop_lock(loop);
        if (stream) {
            spa_hook_remove(&streamListener);
            pw_stream_destroy(stream);
            stream = nullptr;
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
            core = nullptr;
        }
        pw_thread_loop_unlock(loop);
        pw_thread_loop_stop(loop);
        if (context)
            pw_context_destroy(context);
        context = nullptr;
        pw_thread_loop_destroy(loop);
        loop = nullptr;
    }
    // The audio thread is gone: what it held, and what waits in the rings,
    // is freed here.
    for (int i = 0; i < soundCount; ++i)
        delete sounds[i];
    soundCount = 0;
    Command command;
    while (commands.pop(command))
        delete command.sound;
    Event event;
    while (events.pop(event)) {
        if (event.type == EventType::Retired)
            delete event.sound;
    }
    if (eventFd >= 0)
        ::close(eventFd);
    eventFd = -1;
    tracked.clear();
    position = nullptr;
    writePos = 0;
    haveExpectation = false;
    cycles = 0;
    published.write({});
    state = PW_STREAM_STATE_UNCONNECTED;
    stalled = false;
    lastSeenCycles = -1;
    failureReported = false;
}

PipeWireEngine::PipeWireEngine(QObject *parent)
    : AudioEngine(parent)
    , d(std::make_unique<Stream>(this))
{
    d->progressTimer.setInterval(progressCheckMs);
    connect(&d->progressTimer, &QTimer::timeout, this, &PipeWireEngine::checkProgress);
}

PipeWireEngine::~PipeWireEngine()
{
    d->tearDown();
}

bool PipeWireEngine::serverAvailable()
{
    initialisePipeWire();
    pw_main_loop *loop = pw_main_loop_new(nullptr);
    if (!loop)
        return false;
    pw_context *context = pw_context_new(pw_main_loop_get_loop(loop), nullptr, 0);
    pw_core *core = context ? pw_context_connect(context, nullptr, 0) : nullptr;
    const bool available = core != nullptr;
    if (core)
        pw_core_disconnect(core);
    if (context)
        pw_context_destroy(context);
    pw_main_loop_destroy(loop);
    return available;
}

bool PipeWireEngine::open(int rateHz, const QString &device, QString *errorText)
{
    close();
    ++d->generation;
    auto fail = [this, errorText](const QString &reason) {
        d->tearDown();
        if (errorText)
            *errorText = reason;
        return false;
    };
    if (rateHz < 1 || rateHz > maximumRateHz()) {
        return fail(QStringLiteral("the audio server plays rates from 1 to %1 Hz, and the sounds have %2 Hz")
                        .arg(maximumRateHz())
                        .arg(rateHz));
    }
    // A missing output is said at once, not after the stream waited for it.
    if (!device.isEmpty()) {
        const QVector<AudioDeviceDescription> outputs = outputDevices();
        const bool present = std::any_of(outputs.begin(), outputs.end(),
                                         [&](const AudioDeviceDescription &output) { return output.name == device; });
        if (!present)
            return fail(QStringLiteral("the output device %1 is not connected").arg(device));
    }

    initialisePipeWire();
    d->rate = rateHz;
    d->requestedDevice = device;
    d->info = AudioOutputInfo();
    d->info.backend = QStringLiteral("libpipewire");
    d->idle = false;
    d->resetTimeline = true;
    d->underruns = 0;
    d->jumps = 0;
    d->volume = -1.0f;
    d->stateError.clear();

    d->eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d->eventFd < 0)
        return fail(QStringLiteral("the audio output could not be set up (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
    d->notifier = new QSocketNotifier(d->eventFd, QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, &PipeWireEngine::handleEvents);

    d->loop = pw_thread_loop_new("tarquel-audio", nullptr);
    d->context = d->loop ? pw_context_new(pw_thread_loop_get_loop(d->loop), nullptr, 0) : nullptr;
    if (!d->context || pw_thread_loop_start(d->loop) < 0)
        return fail(QStringLiteral("the audio library could not start its thread"));

    QString reason;
    pw_thread_loop_lock(d->loop);
    d->core = pw_context_connect(d->context, nullptr, 0);
    if (!d->core) {
        reason = QStringLiteral("no PipeWire server could be reached (%1)").arg(QString::fromLocal8Bit(strerror(errno)));
    } else {
        pw_core_add_listener(d->core, &d->coreListener, &coreEvents, d.get());
        pw_properties *properties = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Production",
            PW_KEY_MEDIA_NAME, "Stimuli", PW_KEY_APP_NAME, "Auditory Tarquel", PW_KEY_APP_ID, "tarquel",
            PW_KEY_NODE_NAME, "tarquel", PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
        if (!device.isEmpty())
            pw_properties_set(properties, PW_KEY_TARGET_OBJECT, device.toUtf8().constData());
        d->stream = pw_stream_new(d->core, "Stimuli", properties);
        if (!d->stream) {
            reason = QStringLiteral("the audio server refused the output stream (%1)")
                         .arg(QString::fromLocal8Bit(strerror(errno)));
        } else {
            pw_stream_add_listener(d->stream, &d->streamListener, &streamEvents, d.get());
            uint8_t podBuffer[1024];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBuffer, sizeof(podBuffer));
            spa_audio_info_raw format{};
            format.format = SPA_AUDIO_FORMAT_F32_LE;
            format.channels = 1;
            format.rate = uint32_t(rateHz);
            format.position[0] = SPA_AUDIO_CHANNEL_MONO;
            const spa_pod *parameters[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
            const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                               | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_DONT_RECONNECT);
            const int result = pw_stream_connect(d->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, parameters, 1);
            if (result < 0)
                reason = QStringLiteral("the audio server refused a %1 Hz mono float stream (%2)")
                             .arg(rateHz)
                             .arg(pipewireError(result));
        }
    }
    // Until the first cycle has run, so that the stream's timing is known.
    // The audio thread never signals this one, so the wait looks every 10 ms.
    const qint64 deadlineNs = monotonicNowNs() + connectTimeoutNs;
    while (reason.isEmpty() && d->published.read().cycles == 0) {
        if (d->state == PW_STREAM_STATE_ERROR || !d->stateError.isEmpty()) {
            reason = QStringLiteral("the audio server refused a %1 Hz mono float stream%2 (%3)")
                         .arg(QString::number(rateHz),
                              device.isEmpty() ? QString() : QStringLiteral(" on ") + device,
                              d->stateError.isEmpty() ? QStringLiteral("unknown error") : d->stateError);
            break;
        }
        if (monotonicNowNs() >= deadlineNs) {
            reason = QStringLiteral("the audio server did not start the stream within %1 s")
                         .arg(connectTimeoutNs / 1e9);
            break;
        }
        timespec slice{};
        pw_thread_loop_get_time(d->loop, &slice, 10'000'000);
        pw_thread_loop_timed_wait_full(d->loop, &slice);
    }
    if (reason.isEmpty()) {
        // Full volume, unmuted, whatever a restored setting says: the samples
        // reach the device as stored.
        float one = 1.0f, zero = 0.0f;
        pw_stream_set_control(d->stream, SPA_PROP_channelVolumes, 1, &one, SPA_PROP_mute, 1, &zero, 0);
        d->info.server = QStringLiteral("PipeWire ")
                         + (d->serverVersion.isEmpty() ? QString::fromUtf8(pw_get_library_version()) : d->serverVersion);
        d->running = true;
    }
    pw_thread_loop_unlock(d->loop);
    if (!reason.isEmpty())
        return fail(reason);

    const CycleState cycle = d->published.read();
    d->info.graphRateHz = int(cycle.graphRate);
    d->info.cycleFrames = int(cycle.quantum);
    d->info.deviceRateHz = double(cycle.graphRate);
    d->info.resampled = cycle.graphRate != rateHz;
    d->info.volume = QStringLiteral("100 %");
    d->info.device = device;
    // The device the stream went to: the one asked for, or the server's
    // default, named as the pulse server names it.
    const QVector<AudioDeviceDescription> outputs = outputDevices();
    QString name = device;
    if (name.isEmpty()) {
        // The server's default output, as its metadata names it.
        for (const AudioDeviceDescription &output : outputs) {
            if (output.isDefault)
                name = output.name;
        }
    }
    d->info.device = name.isEmpty() ? QStringLiteral("the server's default output") : name;
    d->info.deviceName = name;
    for (const AudioDeviceDescription &output : outputs) {
        if (output.name == name && !output.description.isEmpty() && output.description != name)
            d->info.device += QStringLiteral(" (") + output.description + QLatin1Char(')');
    }
    d->lastProgressNs = monotonicNowNs();
    d->lastSeenCycles = cycle.cycles;
    d->progressTimer.start();
    qInfo().noquote() << "Audio output: libpipewire," << d->info.server << "," << d->info.device << ", graph"
                      << d->info.graphRateHz << "Hz, cycle" << d->info.cycleFrames << "samples";
    return true;
}

void PipeWireEngine::close()
{
    d->tearDown();
}

bool PipeWireEngine::isOpen() const
{
    return d->loop && d->running;
}

int PipeWireEngine::rateHz() const
{
    return d->rate;
}

QString PipeWireEngine::device() const
{
    return d->requestedDevice;
}

quint64 PipeWireEngine::play(const QVector<float> &samples, qint64 onsetNs)
{
    const quint64 id = d->nextId++;
    if (!isOpen() || samples.isEmpty())
        return id;
    if (d->idle)
        setIdle(false);
    auto *sound = new RtSound;
    sound->id = id;
    sound->samples.assign(samples.begin(), samples.end());
    sound->requestedNs = onsetNs;
    if (!d->commands.push({CommandType::Play, sound})) {
        delete sound;
        reportFailure(QStringLiteral("the audio thread took no more sounds"));
        return id;
    }
    Stream::Tracked entry;
    entry.timing.soundId = id;
    entry.timing.frames = samples.size();
    entry.timing.requestedOnsetNs = onsetNs;
    entry.sawStall = d->stalled;
    d->tracked.insert(id, entry);
    return id;
}

void PipeWireEngine::cancel()
{
    if (!isOpen())
        return;
    d->commands.push({CommandType::Cancel, nullptr});
    d->tracked.clear();
}

void PipeWireEngine::setIdle(bool idle)
{
    if (!isOpen() || idle == d->idle)
        return;
    d->idle = idle;
    d->resetTimeline = true;
    pw_thread_loop_lock(d->loop);
    pw_stream_set_active(d->stream, !idle);
    pw_thread_loop_unlock(d->loop);
    d->lastProgressNs = monotonicNowNs();
    d->lastSeenCycles = d->published.read().cycles;
    if (idle) {
        d->progressTimer.stop();
        if (d->stalled) {
            d->stalled = false;
            emit deviceStalled(false);
        }
    } else {
        d->progressTimer.start();
    }
}

bool PipeWireEngine::deviceProgressing() const
{
    if (!isOpen() || d->idle)
        return false;
    // The next cycle is due a cycle after the last one; a little more is a
    // late wake-up, not yet a stall.
    const CycleState cycle = d->published.read();
    if (cycle.cycles == 0 || cycle.graphRate <= 0)
        return false;
    const qint64 periodNs = cycle.quantum * 1'000'000'000 / cycle.graphRate;
    return monotonicNowNs() - cycle.callbackNs < periodNs + 3'000'000;
}

AudioOutputInfo PipeWireEngine::outputInfo() const
{
    AudioOutputInfo info = d->info;
    if (d->loop) {
        pw_thread_loop_lock(d->loop);
        if (d->volume >= 0.0f) {
            // The server's volumes are linear factors; a percentage is the
            // cube root of one, as the desktop's volume controls show it.
            info.volume = QStringLiteral("%1 %").arg(100.0 * std::cbrt(double(d->volume)), 0, 'f', 0);
            if (d->muted)
                info.volume += QStringLiteral(", muted");
        }
        pw_thread_loop_unlock(d->loop);
    }
    // The graph may have moved to another rate or cycle since the stream
    // opened (a rate follows the first stream on an idle graph).
    const CycleState cycle = d->published.read();
    if (cycle.quantum > 0 && cycle.graphRate > 0) {
        info.cycleFrames = int(cycle.quantum);
        info.graphRateHz = int(cycle.graphRate);
        info.deviceRateHz = double(cycle.graphRate);
        info.resampled = cycle.graphRate != d->rate;
    }
    return info;
}

qint64 PipeWireEngine::outputLatencyNs() const
{
    if (!isOpen())
        return 0;
    // A frame handed over now is written in the next cycle at the earliest.
    const CycleState cycle = d->published.read();
    return cycle.cycles > 0 ? cycle.nextFrameNs - monotonicNowNs() : 0;
}

int PipeWireEngine::maximumRateHz() const
{
    return 384000;
}

int PipeWireEngine::underrunCount() const
{
    return d->underruns.load();
}

int PipeWireEngine::jumpCount() const
{
    return d->jumps;
}

// The audio thread's notices, on the engine's own thread.
void PipeWireEngine::handleEvents()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(d->eventFd, &count, sizeof(count));
    Event event;
    while (d->events.pop(event)) {
        switch (event.type) {
        case EventType::Retired:
            delete event.sound;
            break;
        case EventType::Underrun:
            break;
        case EventType::Placed: {
            auto it = d->tracked.find(event.id);
            if (it == d->tracked.end())
                break;
            SoundTiming &timing = it->timing;
            it->frame = event.frame;
            const SoundPlacement placement{event.frame, timeOfFrame(event.timeline, event.frame),
                                           timeOfFrame(event.timeline, event.frame + timing.frames)};
            timing.onsetNs = placement.onsetNs;
            timing.endNs = placement.endNs;
            timing.latencyNs = event.latencyNs;
            // A sound that waited through a stall was due at its request: how
            // late the stall made it is measured from there.
            timing.plannedOnsetNs = placement.onsetNs;
            timing.plannedEndNs = placement.endNs;
            if (it->sawStall) {
                timing.plannedOnsetNs = timing.requestedOnsetNs;
                timing.plannedEndNs = timing.requestedOnsetNs + (placement.endNs - placement.onsetNs);
                timing.deviceStalled = timing.onsetErrorNs() > revisionToleranceNs;
            }
            emit soundPlaced(timing);
            break;
        }
        case EventType::Finished: {
            // The cycle that wrote its last frame knows its end exactly.
            auto it = d->tracked.find(event.id);
            if (it == d->tracked.end())
                break;
            SoundTiming &timing = it->timing;
            const qint64 endNs = timeOfFrame(event.timeline, event.frame);
            if (std::llabs(endNs - timing.endNs) > 10'000) {
                timing.endNs = endNs;
                if (std::llabs(timing.endDelayNs()) > revisionToleranceNs)
                    timing.deviceStalled = true;
                emit soundTimingRevised(timing);
            }
            break;
        }
        case EventType::Jumped: {
            ++d->jumps;
            qInfo().noquote() << "Audio output: the device's timeline jumped by" << event.jumpNs / 1e6 << "ms";
            // Sounds placed before the jump: frames from the jump on play by
            // the new timing. Sounds not placed yet follow it by themselves.
            for (auto it = d->tracked.begin(); it != d->tracked.end(); ++it) {
                if (it->frame < 0)
                    continue;
                const SoundTiming moved = moveAcrossJump(it->timing, it->frame, event.frame, event.timeline,
                                                         revisionToleranceNs);
                if (moved.onsetNs != it->timing.onsetNs || moved.endNs != it->timing.endNs) {
                    it->timing = moved;
                    emit soundTimingRevised(moved);
                }
            }
            break;
        }
        }
        if (event.type == EventType::Retired) {
            // Kept until its end has passed: a device that stalls before then
            // still holds it up.
            auto it = d->tracked.find(event.id);
            if (it != d->tracked.end())
                it->retired = true;
        }
    }
    const qint64 now = monotonicNowNs();
    for (auto it = d->tracked.begin(); it != d->tracked.end();) {
        if (it->retired && (it->frame < 0 || it->timing.endNs < now))
            it = d->tracked.erase(it);
        else
            ++it;
    }
}

// Whether the device still moves: the audio thread runs once a cycle while
// the stream is active. A device that stands still while a sound is due or
// playing has stalled; one that stays still for stallFailureNs has failed.
void PipeWireEngine::checkProgress()
{
    if (!isOpen())
        return;
    handleEvents();
    const CycleState cycle = d->published.read();
    const qint64 now = monotonicNowNs();
    if (cycle.cycles != d->lastSeenCycles) {
        d->lastSeenCycles = cycle.cycles;
        d->lastProgressNs = now;
        if (d->stalled) {
            d->stalled = false;
            qInfo() << "Audio output: the device moves again";
            emit deviceStalled(false);
        }
        return;
    }
    const bool soundDue = !d->tracked.isEmpty();
    if (!soundDue) {
        d->lastProgressNs = std::max(d->lastProgressNs, now - stallNs / 2);
        return;
    }
    const qint64 stillNs = now - d->lastProgressNs;
    if (stillNs >= stallFailureNs) {
        reportFailure(QStringLiteral("the output device made no progress for %1 s").arg(stallFailureNs / 1e9));
        return;
    }
    if (stillNs >= stallNs && !d->stalled) {
        d->stalled = true;
        for (auto it = d->tracked.begin(); it != d->tracked.end(); ++it)
            it->sawStall = true;
        qWarning().noquote() << "Audio output: the device has made no progress for" << stillNs / 1e6 << "ms";
        emit deviceStalled(true);
    }
}

void PipeWireEngine::reportFailure(const QString &reason)
{
    if (!d->running || d->failureReported)
        return;
    d->failureReported = true;
    d->running = false;
    d->progressTimer.stop();
    d->tracked.clear();
    emit failed(reason);
}

namespace {

// The server's outputs and its default one, read off its registry on a
// connection of its own.
struct Registry
{
    pw_main_loop *loop = nullptr;
    pw_core *core = nullptr;
    pw_registry *registry = nullptr;
    spa_hook registryListener{};
    spa_hook coreListener{};
    pw_metadata *metadata = nullptr;
    spa_hook metadataListener{};
    int syncSeq = 0;
    int syncs = 0;
    QVector<AudioDeviceDescription> sinks;
    QString defaultSink;
};

void metadataProperty(void *data, uint32_t, const char *key, const char *, const char *value)
{
    auto *registry = static_cast<Registry *>(data);
    if (!key || !value || std::strcmp(key, "default.audio.sink") != 0)
        return;
    // {"name":"<node name>"}
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("\"name\"\\s*:\\s*\"([^\"]*)\"")).match(QString::fromUtf8(value));
    if (match.hasMatch())
        registry->defaultSink = match.captured(1);
}

int metadataPropertyResult(void *data, uint32_t subject, const char *key, const char *type, const char *value)
{
    metadataProperty(data, subject, key, type, value);
    return 0;
}

void registryGlobal(void *data, uint32_t id, uint32_t, const char *type, uint32_t, const spa_dict *props)
{
    auto *registry = static_cast<Registry *>(data);
    if (!props)
        return;
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        const char *mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        const char *name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
        if (mediaClass && name && std::strcmp(mediaClass, "Audio/Sink") == 0) {
            const char *description = spa_dict_lookup(props, PW_KEY_NODE_DESCRIPTION);
            registry->sinks.append({QString::fromUtf8(name), QString::fromUtf8(description ? description : name)});
        }
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 && !registry->metadata) {
        const char *name = spa_dict_lookup(props, "metadata.name");
        if (name && std::strcmp(name, "default") == 0) {
            registry->metadata = static_cast<pw_metadata *>(
                pw_registry_bind(registry->registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
            static const pw_metadata_events events = [] {
                pw_metadata_events e{};
                e.version = PW_VERSION_METADATA_EVENTS;
                e.property = metadataPropertyResult;
                return e;
            }();
            if (registry->metadata)
                pw_metadata_add_listener(registry->metadata, &registry->metadataListener, &events, registry);
            // Its properties come after another round trip.
            registry->syncSeq = pw_core_sync(registry->core, PW_ID_CORE, registry->syncSeq);
            ++registry->syncs;
        }
    }
}

void coreDone(void *data, uint32_t id, int seq)
{
    auto *registry = static_cast<Registry *>(data);
    if (id == PW_ID_CORE && seq == registry->syncSeq)
        pw_main_loop_quit(registry->loop);
}

void coreFailed(void *data, uint32_t id, int, int, const char *)
{
    auto *registry = static_cast<Registry *>(data);
    if (id == PW_ID_CORE)
        pw_main_loop_quit(registry->loop);
}

} // namespace

QVector<AudioDeviceDescription> PipeWireEngine::outputDevices() const
{
    initialisePipeWire();
    Registry registry;
    registry.loop = pw_main_loop_new(nullptr);
    if (!registry.loop)
        return {};
    pw_context *context = pw_context_new(pw_main_loop_get_loop(registry.loop), nullptr, 0);
    registry.core = context ? pw_context_connect(context, nullptr, 0) : nullptr;
    bool done = false;
    if (registry.core) {
        static const pw_core_events events = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.done = coreDone;
            e.error = coreFailed;
            return e;
        }();
        static const pw_registry_events registryEvents = [] {
            pw_registry_events e{};
            e.version = PW_VERSION_REGISTRY_EVENTS;
            e.global = registryGlobal;
            return e;
        }();
        pw_core_add_listener(registry.core, &registry.coreListener, &events, &registry);
        registry.registry = pw_core_get_registry(registry.core, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(registry.registry, &registry.registryListener, &registryEvents, &registry);
        registry.syncSeq = pw_core_sync(registry.core, PW_ID_CORE, 0);
        // A server that does not answer within the wait gives no list.
        pw_loop *loop = pw_main_loop_get_loop(registry.loop);
        const qint64 deadline = monotonicNowNs() + connectTimeoutNs;
        struct Quit
        {
            static void onTimeout(void *data, uint64_t) { pw_main_loop_quit(static_cast<pw_main_loop *>(data)); }
        };
        spa_source *timer = pw_loop_add_timer(loop, Quit::onTimeout, registry.loop);
        timespec value{connectTimeoutNs / 1'000'000'000, 0};
        pw_loop_update_timer(loop, timer, &value, nullptr, false);
        pw_main_loop_run(registry.loop);
        done = monotonicNowNs() < deadline;
        pw_loop_destroy_source(loop, timer);
        if (registry.metadata) {
            spa_hook_remove(&registry.metadataListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry.metadata));
        }
        spa_hook_remove(&registry.registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry.registry));
        spa_hook_remove(&registry.coreListener);
        pw_core_disconnect(registry.core);
    }
    if (context)
        pw_context_destroy(context);
    pw_main_loop_destroy(registry.loop);
    if (!done)
        return {};
    for (AudioDeviceDescription &sink : registry.sinks)
        sink.isDefault = sink.name == registry.defaultSink;
    return registry.sinks;
}
