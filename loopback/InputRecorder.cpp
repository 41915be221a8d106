#include "loopback/InputRecorder.h"

#include "audio/PulseLoop.h"

#include "audio/AudioEngine.h"

#include <QHash>

#ifdef TARQUEL_HAVE_LIBPULSE

#include <pulse/pulseaudio.h>

#include <random>

#include <time.h>

namespace {

constexpr size_t bytesPerFrame = sizeof(float);   // mono float32

// How often the server is asked for its timing: every 2 to 4 ms, at random,
// so that the requests do not keep step with the server's blocks (5 to 43
// ms, on a timer of the same clock) and some come soon after a block arrived
// in every stretch of the recording.
constexpr qint64 timingRequestNs = 2'000'000;
constexpr qint64 timingRequestSpreadNs = 2'000'000;
// The latency asked of a real input, and the size of the blocks the stream
// hands over.
constexpr qint64 fragmentNs = 20'000'000;
// How long start() and the listings wait for the server.
constexpr qint64 connectTimeoutNs = 5'000'000'000;
// A check lasts about 20 s; a recording that grows far beyond has been
// forgotten, and stops growing.
constexpr qint64 maxRecordingSeconds = 120;

} // namespace

// Everything below is touched by the main loop's thread, and by the caller's
// thread only while it holds the main loop's lock.
struct InputRecorder::Stream
{
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    pa_time_event *timingEvent = nullptr;
    pa_time_event *deadlineEvent = nullptr;
    bool deadlinePassed = false;
    bool recording = false;
    QString failure;

    // The input, as the server describes it.
    bool sourceAnswered = false;
    bool sourceFound = false;
    int sourceRate = 0;
    bool monitor = false;

    double rate = 0.0;
    std::vector<float> samples;
    std::vector<RecordingReport> reports;
    std::vector<double> sinkLatenciesMs;
    qint64 holeFrames = 0;
    qint64 lastTimestampUs = -1;
    std::minstd_rand random{1};

    static void contextState(pa_context *c, void *self);
    static void streamState(pa_stream *s, void *self);
    static void sourceInfo(pa_context *c, const pa_source_info *i, int eol, void *self);
    static void readable(pa_stream *s, size_t bytes, void *self);
    static void timingAnswered(pa_stream *s, int success, void *self);
    static void latencyUpdate(pa_stream *s, void *self);
    static void timingTick(pa_mainloop_api *, pa_time_event *e, const struct timeval *, void *self);
    static void deadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self);

    void addReport();
    void fail(const QString &reason);
    void tearDown();
};

void InputRecorder::Stream::contextState(pa_context *c, void *self)
{
    auto *d = static_cast<Stream *>(self);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        d->fail(QStringLiteral("the connection to the audio server was lost (%1)").arg(pulseError(c)));
    pa_threaded_mainloop_signal(d->loop, 0);
}

void InputRecorder::Stream::streamState(pa_stream *s, void *self)
{
    auto *d = static_cast<Stream *>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        d->fail(QStringLiteral("the audio server ended the recording (%1); the input may have been removed")
                    .arg(pulseError(d->context)));
    }
    pa_threaded_mainloop_signal(d->loop, 0);
}

void InputRecorder::Stream::sourceInfo(pa_context *, const pa_source_info *i, int eol, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (!eol && i) {
        d->sourceFound = true;
        d->sourceRate = int(i->sample_spec.rate);
        d->monitor = i->monitor_of_sink != PA_INVALID_INDEX;
    }
    if (eol) {
        d->sourceAnswered = true;
        pa_threaded_mainloop_signal(d->loop, 0);
    }
}

void InputRecorder::Stream::readable(pa_stream *s, size_t, void *self)
{
    auto *d = static_cast<Stream *>(self);
    while (pa_stream_readable_size(s) > 0) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0) {
            d->fail(QStringLiteral("the recording could not be read (%1)").arg(pulseError(d->context)));
            return;
        }
        if (bytes == 0)
            return;
        const size_t frames = bytes / bytesPerFrame;
        if (d->samples.size() + frames <= size_t(maxRecordingSeconds * d->rate)) {
            if (data) {
                const auto *first = static_cast<const float *>(data);
                d->samples.insert(d->samples.end(), first, first + frames);
            } else {
                // A hole: the server had nothing there. Silence keeps every
                // later frame at its place on the stream.
                d->samples.insert(d->samples.end(), frames, 0.0f);
                d->holeFrames += qint64(frames);
            }
        }
        pa_stream_drop(s);
    }
}

// One report: at `timestamp` (wall-clock time) the server had written the
// stream up to write_index, and the input held source_usec more that it had
// taken in: the input was taking in frame write_index + source_usec x rate.
// A monitor's sink_usec, which libpulse would subtract to place the frame at
// the output device, is left out: through a monitor the recording is what
// the server rendered, when it rendered it.
void InputRecorder::Stream::addReport()
{
    const pa_timing_info *timing = stream ? pa_stream_get_timing_info(stream) : nullptr;
    if (!timing || timing->write_index_corrupt)
        return;
    const qint64 timestampUs = qint64(timing->timestamp.tv_sec) * 1'000'000 + timing->timestamp.tv_usec;
    if (timestampUs == lastTimestampUs)
        return;
    lastTimestampUs = timestampUs;
    // The timestamp is wall-clock time, which NTP may step or slew; its age
    // is what carries over to the monotonic clock.
    const qint64 monotonicNs = monotonicNowNs();
    const qint64 reportNs = monotonicNs - (realtimeNowNs() - timestampUs * 1000);
    RecordingReport report;
    report.timeNs = reportNs;
    report.positionFrames = double(timing->write_index) / bytesPerFrame + double(timing->source_usec) * rate / 1e6;
    reports.push_back(report);
    if (monitor)
        sinkLatenciesMs.push_back(double(timing->sink_usec) / 1000.0);
}

void InputRecorder::Stream::timingAnswered(pa_stream *, int success, void *self)
{
    if (success)
        static_cast<Stream *>(self)->addReport();
}

void InputRecorder::Stream::latencyUpdate(pa_stream *, void *self)
{
    static_cast<Stream *>(self)->addReport();
}

void InputRecorder::Stream::timingTick(pa_mainloop_api *, pa_time_event *e, const struct timeval *, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (d->stream && pa_stream_get_state(d->stream) == PA_STREAM_READY) {
        if (pa_operation *operation = pa_stream_update_timing_info(d->stream, Stream::timingAnswered, d))
            pa_operation_unref(operation);
    }
    const qint64 waitNs = timingRequestNs + qint64(d->random() % quint32(timingRequestSpreadNs + 1));
    pa_context_rttime_restart(d->context, e, pa_rtclock_now() + pa_usec_t(waitNs / 1000));
}

void InputRecorder::Stream::deadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self)
{
    auto *d = static_cast<Stream *>(self);
    d->deadlinePassed = true;
    pa_threaded_mainloop_signal(d->loop, 0);
}

void InputRecorder::Stream::fail(const QString &reason)
{
    if (!recording || !failure.isEmpty())
        return;
    recording = false;
    failure = reason;
}

void InputRecorder::Stream::tearDown()
{
    closePulseLoop(loop, [this](pa_mainloop_api *api) {
        recording = false;
        freePulseTimer(api, timingEvent);
        freePulseTimer(api, deadlineEvent);
        releasePulseStream(stream);
        releasePulseContext(context);
    });
}

InputRecorder::InputRecorder()
    : d(std::make_unique<Stream>())
{
}

InputRecorder::~InputRecorder()
{
    d->tearDown();
}

bool InputRecorder::start(const QString &input, QString *errorText)
{
    stop();
    *d = Stream();
    auto fail = [this, errorText](const QString &reason) {
        d->tearDown();
        if (errorText)
            *errorText = reason;
        return false;
    };
    d->loop = pa_threaded_mainloop_new();
    if (!d->loop || pa_threaded_mainloop_start(d->loop) < 0)
        return fail(QStringLiteral("the audio library could not start its thread"));
    pa_threaded_mainloop_lock(d->loop);
    QString reason;
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(d->loop);
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Auditory Tarquel");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "tarquel");
    d->context = pa_context_new_with_proplist(api, "Auditory Tarquel", properties);
    pa_proplist_free(properties);
    if (!d->context) {
        reason = QStringLiteral("the audio library could not be set up");
    } else {
        pa_context_set_state_callback(d->context, Stream::contextState, d.get());
        d->deadlineEvent = pa_context_rttime_new(d->context, pa_rtclock_now() + connectTimeoutNs / 1000,
                                                 Stream::deadline, d.get());
        if (pa_context_connect(d->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            reason = QStringLiteral("no audio server could be reached (%1)").arg(pulseError(d->context));
    }
    while (reason.isEmpty() && pa_context_get_state(d->context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(d->context)))
            reason = QStringLiteral("no audio server could be reached (%1)").arg(pulseError(d->context));
        else if (d->deadlinePassed)
            reason = QStringLiteral("the audio server did not answer within %1 s").arg(connectTimeoutNs / 1e9);
        else
            pa_threaded_mainloop_wait(d->loop);
    }

    const QByteArray inputName = input.toUtf8();
    if (reason.isEmpty()) {
        if (pa_operation *operation =
                pa_context_get_source_info_by_name(d->context, inputName.constData(), Stream::sourceInfo, d.get())) {
            while (!d->sourceAnswered && !d->deadlinePassed && pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
                pa_threaded_mainloop_wait(d->loop);
            pa_operation_unref(operation);
        }
        if (!d->sourceFound || d->sourceRate <= 0)
            reason = QStringLiteral("the input %1 is not connected").arg(input);
    }
    if (reason.isEmpty()) {
        d->rate = d->sourceRate;
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(d->sourceRate), 1};
        pa_channel_map map;
        pa_channel_map_init_mono(&map);
        pa_proplist *streamProperties = pa_proplist_new();
        pa_proplist_sets(streamProperties, PA_PROP_MEDIA_NAME, "Loop-back check");
        d->stream = pa_stream_new_with_proplist(d->context, "Loop-back check", &format, &map, streamProperties);
        pa_proplist_free(streamProperties);
        if (!d->stream) {
            reason = QStringLiteral("the audio server refused a recording at %1 Hz (%2)")
                         .arg(d->sourceRate)
                         .arg(pulseError(d->context));
        } else {
            pa_stream_set_state_callback(d->stream, Stream::streamState, d.get());
            pa_stream_set_read_callback(d->stream, Stream::readable, d.get());
            pa_stream_set_latency_update_callback(d->stream, Stream::latencyUpdate, d.get());
            pa_buffer_attr attributes;
            attributes.maxlength = uint32_t(-1);
            attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
            attributes.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(fragmentNs / 1000), &format));
            auto flags = PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE | PA_STREAM_START_UNMUTED;
            if (!d->monitor)
                flags |= PA_STREAM_ADJUST_LATENCY;
            d->recording = true;
            if (pa_stream_connect_record(d->stream, inputName.constData(), &attributes, pa_stream_flags_t(flags)) < 0)
                reason = QStringLiteral("the audio server refused the recording (%1)").arg(pulseError(d->context));
        }
    }
    while (reason.isEmpty() && pa_stream_get_state(d->stream) != PA_STREAM_READY) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(d->stream)))
            reason = QStringLiteral("the audio server refused to record %1 (%2)").arg(input, pulseError(d->context));
        else if (d->deadlinePassed)
            reason = QStringLiteral("the audio server did not start the recording within %1 s").arg(connectTimeoutNs / 1e9);
        else
            pa_threaded_mainloop_wait(d->loop);
    }
    if (reason.isEmpty() && !d->failure.isEmpty())
        reason = d->failure;
    if (reason.isEmpty()) {
        if (d->deadlineEvent)
            api->time_free(d->deadlineEvent);
        d->deadlineEvent = nullptr;
        d->timingEvent = pa_context_rttime_new(d->context, pa_rtclock_now() + timingRequestNs / 1000,
                                               Stream::timingTick, d.get());
    }
    pa_threaded_mainloop_unlock(d->loop);
    if (!reason.isEmpty())
        return fail(reason);
    return true;
}

void InputRecorder::stop()
{
    d->tearDown();
}

bool InputRecorder::isRecording() const
{
    if (!d->loop)
        return false;
    pa_threaded_mainloop_lock(d->loop);
    const bool recording = d->recording;
    pa_threaded_mainloop_unlock(d->loop);
    return recording;
}

QString InputRecorder::failure() const
{
    if (!d->loop)
        return d->failure;
    pa_threaded_mainloop_lock(d->loop);
    const QString reason = d->failure;
    pa_threaded_mainloop_unlock(d->loop);
    return reason;
}

CheckRecording InputRecorder::recording() const
{
    if (d->loop)
        pa_threaded_mainloop_lock(d->loop);
    CheckRecording recording;
    recording.rateHz = d->rate;
    recording.samples = d->samples;
    recording.reports = d->reports;
    recording.sinkLatenciesMs = d->sinkLatenciesMs;
    recording.holeFrames = d->holeFrames;
    if (d->loop)
        pa_threaded_mainloop_unlock(d->loop);
    return recording;
}

namespace {

// The server's sources, sinks and default output, asked on a plain main
// loop run here.
struct Listing
{
    struct Source
    {
        AudioInputDescription input;
        uint32_t monitorOfSink = PA_INVALID_INDEX;
    };
    QVector<Source> sources;
    QHash<uint32_t, QString> sinkNames;
    QString defaultOutput;
    bool wantInputs = true;
    int answered = 0;
};

void listSource(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    auto *listing = static_cast<Listing *>(userdata);
    if (eol || !info) {
        ++listing->answered;
        return;
    }
    Listing::Source source;
    source.input.name = QString::fromUtf8(info->name);
    source.input.description = QString::fromUtf8(info->description);
    source.input.rateHz = int(info->sample_spec.rate);
    if (info->active_port && info->active_port->name)
        source.input.activePort = QString::fromUtf8(info->active_port->name);
    source.monitorOfSink = info->monitor_of_sink;
    listing->sources.append(source);
}

void listSink(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    auto *listing = static_cast<Listing *>(userdata);
    if (eol || !info) {
        ++listing->answered;
        return;
    }
    listing->sinkNames.insert(info->index, QString::fromUtf8(info->name));
}

void serverAnswered(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *listing = static_cast<Listing *>(userdata);
    if (info && info->default_sink_name)
        listing->defaultOutput = QString::fromUtf8(info->default_sink_name);
    ++listing->answered;
}

bool askServer(Listing &listing)
{
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return false;
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Auditory Tarquel");
    const qint64 deadline = monotonicNowNs() + connectTimeoutNs;
    std::vector<pa_operation *> operations;
    const int wanted = listing.wantInputs ? 3 : 1;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (monotonicNowNs() < deadline && listing.answered < wanted) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && operations.empty()) {
                operations.push_back(pa_context_get_server_info(context, serverAnswered, &listing));
                if (listing.wantInputs) {
                    operations.push_back(pa_context_get_source_info_list(context, listSource, &listing));
                    operations.push_back(pa_context_get_sink_info_list(context, listSink, &listing));
                }
            }
            // One turn of the loop, waiting at most 10 ms.
            if (pa_mainloop_prepare(loop, 10'000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
    }
    for (pa_operation *operation : operations) {
        if (operation) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
        }
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return listing.answered >= wanted;
}

} // namespace

QVector<AudioInputDescription> InputRecorder::inputDevices(QString *defaultOutput)
{
    Listing listing;
    if (!askServer(listing))
        return {};
    if (defaultOutput)
        *defaultOutput = listing.defaultOutput;
    QVector<AudioInputDescription> inputs;
    for (Listing::Source &source : listing.sources) {
        if (source.monitorOfSink != PA_INVALID_INDEX)
            source.input.monitorOf = listing.sinkNames.value(source.monitorOfSink);
        inputs.append(source.input);
    }
    return inputs;
}

QString InputRecorder::defaultOutput()
{
    Listing listing;
    listing.wantInputs = false;
    return askServer(listing) ? listing.defaultOutput : QString();
}

#else // no libpulse: nothing to record with

struct InputRecorder::Stream
{
};

InputRecorder::InputRecorder()
    : d(std::make_unique<Stream>())
{
}

InputRecorder::~InputRecorder() = default;

bool InputRecorder::start(const QString &, QString *errorText)
{
    if (errorText)
        *errorText = QStringLiteral("this program was built without libpulse, which the recording needs");
    return false;
}

void InputRecorder::stop() {}
bool InputRecorder::isRecording() const { return false; }
QString InputRecorder::failure() const { return QString(); }
CheckRecording InputRecorder::recording() const { return CheckRecording(); }
QVector<AudioInputDescription> InputRecorder::inputDevices(QString *) { return {}; }
QString InputRecorder::defaultOutput() { return QString(); }

#endif
