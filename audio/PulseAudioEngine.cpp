#include "audio/PulseAudioEngine.h"

#include "audio/PulseLoop.h"
#include "audio/StreamClock.h"

#include <QDebug>
#include <QPointer>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <numeric>
#include <time.h>

namespace {

// The stream's queue, from what the program writes to what the server has
// taken. Large enough that the main loop's thread may stall for this long
// (a loaded machine) before the server runs dry; the timing of sounds does
// not depend on it, since every onset is placed by stream position.
constexpr qint64 queueNs = 100'000'000;

// How much the server asks for at a time. The stream asks for early
// requests, which makes this also how far ahead of the device the server
// reads from the stream: queued silence from about this far ahead of the
// device on can still be overwritten by a sound that is due soon.
constexpr qint64 requestNs = 10'000'000;

// Timing reports asked for this often; libpulse's automatic updates slow
// down to one every 1.5 s or so once a stream runs. A server that reports
// whole cycles is asked more often, so that some reports come soon after a
// cycle starts.
constexpr qint64 timingUpdateNs = 20'000'000;
constexpr qint64 cycleTimingUpdateNs = 5'000'000;

// Reports in a row without a sink latency, and read-index steps, needed
// before the steps' common divisor is taken as the server's cycle.
constexpr size_t minCycleSteps = 20;

// Kept between the last frame the server may have read and a frame that is
// overwritten, on top of the transport time of the write.
constexpr qint64 writeMarginNs = 2'000'000;

// A server that has sent no timing report for this long has stopped (it
// hangs, or was suspended): the stream is given up. Long enough that a
// machine under heavy load (a build beside the run) is not taken for one.
constexpr qint64 serverSilenceNs = 10'000'000'000;

// Placed sounds are kept this long after their end, for a timeline that
// jumps to revise.
constexpr qint64 keepPlacedNs = 2'000'000'000;

// How often a corked stream is looked at: only to see that the server is
// still there.
constexpr qint64 idleTimingUpdateNs = 1'000'000'000;

// How long open() waits for the server to answer.
constexpr qint64 connectTimeoutNs = 5'000'000'000;

constexpr size_t bytesPerFrame = sizeof(float);   // mono float32

// Silence written without a copy: libpulse keeps a reference to data whose
// free callback is set, and this buffer never changes.
const float zeros[16384] = {};
void keepZeros(void *) {}

} // namespace

// Everything below is touched by the main loop's thread, and by the engine's
// own thread only while it holds the main loop's lock.
struct PulseAudioEngine::Stream
{
    struct Sound
    {
        quint64 id = 0;
        QVector<float> samples;
        qint64 requestedNs = 0;
        qint64 frame = -1;    // where its first sample went; -1 until placed
        qint64 written = 0;   // frames of it written so far
        // A sound placed again after the device's timeline jumped keeps the
        // plan of its first placement; replaced says it has one.
        bool replaced = false;
        bool sawStall = false;   // the device stalled while it was due
        SoundTiming plan;
    };

    // A sound written to the stream, kept until well after its end so that a
    // jump of the device's timeline can revise its timing.
    struct Placed
    {
        SoundTiming timing;
        qint64 frame = 0;
        bool sawStall = false;
        QVector<float> samples;   // shared with the sound: kept to place it again
    };

    explicit Stream(PulseAudioEngine *owner) : engine(owner) {}

    PulseAudioEngine *engine;
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    pa_time_event *timingEvent = nullptr;
    pa_time_event *deadlineEvent = nullptr;
    bool deadlinePassed = false;

    int rate = 0;
    QString requestedDevice;
    AudioOutputInfo info;
    // Read without the lock by isOpen(); written under it.
    std::atomic<bool> running{false};
    bool failureReported = false;
    // One per open(): a notice queued by an earlier stream is dropped when
    // it arrives after a close and a reopen. Read and written only on the
    // engine's own thread.
    quint64 generation = 0;
    bool corked = false;
    bool uncorking = false;   // asked to move again, and not yet confirmed
    bool pipewireServer = false;   // the server is PipeWire's pulse server
    // Progress of the device: the read index, and when it last moved.
    qint64 progressFrames = -1;
    qint64 progressNs = 0;
    bool stalled = false;
    double lastFittedPosition = 0.0;   // the device's position at the last report on the line
    bool lastReportOnLine = false;
    std::deque<Placed> placed;

    StreamClockFit clock{1.0};
    qint64 lastReportTimestampUs = -1;
    qint64 lastReportArrivalNs = 0;   // monotonic
    std::deque<std::pair<qint64, qint64>> sinkLatencies;   // (report time, sink latency), ns
    // Read-index steps between reports, frames, and whether any report of the
    // window gave a sink latency: how the server counts what it has read.
    std::deque<std::pair<qint64, qint64>> readSteps;       // (report time, step)
    qint64 lastReadFrames = -1;
    qint64 cycleFrames = 0;                                 // 0: reports place the device exactly
    bool zeroLatencyReports = false;                        // the last report gave no sink latency
    size_t zeroLatencyRun = 0;                              // reports in a row without one
    qint64 transportNs = 0;
    qint64 configuredSinkLatencyNs = 0;

    // Stream positions in frames, counted from the stream's start.
    qint64 writeEnd = 0;     // where the next write goes
    qint64 queuedEnd = 0;    // the furthest frame written so far
    qint64 soundsEnd = 0;    // end of the last sound placed: the next may not overlap it
    qint64 maxPieceFrames = 0;
    qint64 requestFrames = 0;

    quint64 nextId = 1;
    std::deque<Sound> sounds;   // the front one may be placed and partly written
    int underruns = 0;

    // Sounds written and not yet confirmed to have reached the server before
    // it read past their first frame, in the order their checks were sent.
    struct ArrivalCheck
    {
        quint64 soundId;
        qint64 offset;   // the piece's first frame, counted in the sound
        qint64 frame;    // its first frame on the stream
        qint64 frames;   // its length
    };
    std::deque<ArrivalCheck> arrivalChecks;

    // Libpulse callbacks.
    static void contextState(pa_context *c, void *self);
    static void streamState(pa_stream *s, void *self);
    static void writeRequest(pa_stream *s, size_t bytes, void *self);
    static void underflow(pa_stream *s, void *self);
    static void latencyUpdate(pa_stream *s, void *self);
    static void arrivalChecked(pa_stream *s, int success, void *self);
    static void corkDone(pa_stream *s, int success, void *self);
    static void timingTick(pa_mainloop_api *, pa_time_event *e, const struct timeval *, void *self);
    static void deadline(pa_mainloop_api *, pa_time_event *e, const struct timeval *, void *self);
    static void serverInfo(pa_context *c, const pa_server_info *i, void *self);
    static void sinkInfo(pa_context *c, const pa_sink_info *i, int eol, void *self);
    static void sinkInputInfo(pa_context *c, const pa_sink_input_info *i, int eol, void *self);

    bool waitFor(pa_operation *operation);
    void reportFailure(const QString &reason);
    void addTimingReport();
    qint64 earliestWritableFrame() const;
    void fill(qint64 wantedEnd);
    bool write(const float *data, qint64 frames, qint64 atFrame, bool copy = true);
    bool writeSilence(qint64 atFrame, qint64 frames);
    bool placeFront(const SoundPlacement &placement);
    void tearDown();
    template<typename Notice>
    void notify(Notice notice);
    void timelineJumped();
    void checkProgress(qint64 readFrames);
    bool soundDue() const;
};

// Runs notice on the engine's own thread, unless the stream it came from
// has been closed by then.
template<typename Notice>
void PulseAudioEngine::Stream::notify(Notice notice)
{
    QPointer<PulseAudioEngine> owner = engine;
    const quint64 streamGeneration = generation;
    QMetaObject::invokeMethod(
        engine,
        [owner, streamGeneration, notice] {
            if (owner && owner->d->generation == streamGeneration)
                notice(owner.data());
        },
        Qt::QueuedConnection);
}

void PulseAudioEngine::Stream::contextState(pa_context *c, void *self)
{
    auto *d = static_cast<Stream *>(self);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        d->reportFailure(QStringLiteral("the connection to the audio server was lost (%1)").arg(pulseError(c)));
    pa_threaded_mainloop_signal(d->loop, 0);
}

void PulseAudioEngine::Stream::streamState(pa_stream *s, void *self)
{
    auto *d = static_cast<Stream *>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        d->reportFailure(QStringLiteral("the audio server ended the output stream (%1); "
                                        "the output device may have been removed")
                             .arg(pulseError(d->context)));
    }
    pa_threaded_mainloop_signal(d->loop, 0);
}

void PulseAudioEngine::Stream::writeRequest(pa_stream *, size_t bytes, void *self)
{
    auto *d = static_cast<Stream *>(self);
    d->fill(d->writeEnd + qint64(bytes / bytesPerFrame));
}

void PulseAudioEngine::Stream::underflow(pa_stream *, void *self)
{
    auto *d = static_cast<Stream *>(self);
    ++d->underruns;
    // The stream has no prebuffer, so the server keeps reading on through an
    // underrun and the timeline stays where it was; the reports around it
    // may not, and the fit sheds them as outliers.
    qWarning() << "Audio output underrun" << d->underruns;
}

void PulseAudioEngine::Stream::latencyUpdate(pa_stream *, void *self)
{
    static_cast<Stream *>(self)->addTimingReport();
}

// The answer to the timing request sent right after a piece of a sound was
// written (its first piece, or a later one of a long sound written on the
// server's requests): the server handled the write before the request, so a
// read index past the piece's first frame means that the server had already
// read that far when the piece reached it (the write was held up on a busy
// computer). What lay there, queued silence, was played in its place, unless
// the server could still rewind its device.
void PulseAudioEngine::Stream::arrivalChecked(pa_stream *s, int success, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (d->arrivalChecks.empty())
        return;
    const ArrivalCheck check = d->arrivalChecks.front();
    d->arrivalChecks.pop_front();
    const pa_timing_info *timing = success ? pa_stream_get_timing_info(s) : nullptr;
    if (!timing || timing->read_index_corrupt)
        return;
    const qint64 readFrames = timing->read_index / qint64(bytesPerFrame);
    if (readFrames <= check.frame)
        return;
    const qint64 lost = std::min(readFrames - check.frame, check.frames);
    qWarning().noquote() << "Audio: the server had passed" << lost << "frames of a sound, from its frame"
                         << check.offset << "on, when they arrived; they may not have been played";
    const quint64 id = check.soundId;
    const qint64 offset = check.offset;
    if (offset == 0)
        d->notify([id, lost](PulseAudioEngine *owner) { emit owner->soundStartMaybeLost(id, lost); });
    else
        d->notify([id, offset, lost](PulseAudioEngine *owner) { emit owner->soundPartMaybeLost(id, offset, lost); });
}

void PulseAudioEngine::Stream::corkDone(pa_stream *s, int, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (d->corked || !d->uncorking)
        return;
    d->uncorking = false;
    d->clock.restart();
    d->lastReportTimestampUs = -1;
    if (pa_operation *operation = pa_stream_update_timing_info(s, nullptr, nullptr))
        pa_operation_unref(operation);
}

void PulseAudioEngine::Stream::timingTick(pa_mainloop_api *, pa_time_event *e, const struct timeval *, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (d->running && !d->corked && monotonicNowNs() - d->lastReportArrivalNs > serverSilenceNs) {
        d->reportFailure(QStringLiteral("the audio server stopped answering (no word from it for %1 s)")
                             .arg(serverSilenceNs / 1e9));
    }
    if (d->stream && pa_stream_get_state(d->stream) == PA_STREAM_READY) {
        if (pa_operation *operation = pa_stream_update_timing_info(d->stream, nullptr, nullptr))
            pa_operation_unref(operation);
    }
    const qint64 intervalNs = d->corked               ? idleTimingUpdateNs
                              : d->zeroLatencyReports ? cycleTimingUpdateNs
                                                      : timingUpdateNs;
    pa_context_rttime_restart(d->context, e, pa_rtclock_now() + pa_usec_t(intervalNs / 1000));
}

void PulseAudioEngine::Stream::deadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *self)
{
    auto *d = static_cast<Stream *>(self);
    d->deadlinePassed = true;
    pa_threaded_mainloop_signal(d->loop, 0);
}

void PulseAudioEngine::Stream::serverInfo(pa_context *, const pa_server_info *i, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (i) {
        d->info.server = QString::fromUtf8(i->server_name) + QLatin1Char(' ')
                         + QString::fromUtf8(i->server_version);
    }
    pa_threaded_mainloop_signal(d->loop, 0);
}

void PulseAudioEngine::Stream::sinkInfo(pa_context *, const pa_sink_info *i, int eol, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (!eol && i) {
        d->info.device = QString::fromUtf8(i->name);
        d->info.deviceName = d->info.device;
        const QString description = QString::fromUtf8(i->description);
        if (!description.isEmpty() && description != d->info.device)
            d->info.device += QStringLiteral(" (") + description + QLatin1Char(')');
        d->info.deviceRateHz = i->sample_spec.rate;
        d->info.resampled = int(i->sample_spec.rate) != d->rate;
        d->configuredSinkLatencyNs = qint64(i->configured_latency) * 1000;
    }
    pa_threaded_mainloop_signal(d->loop, 0);
}

void PulseAudioEngine::Stream::sinkInputInfo(pa_context *, const pa_sink_input_info *i, int eol, void *self)
{
    auto *d = static_cast<Stream *>(self);
    if (!eol && i) {
        const double percent = 100.0 * pa_cvolume_avg(&i->volume) / PA_VOLUME_NORM;
        d->info.volume = QStringLiteral("%1 %").arg(percent, 0, 'f', 0);
        if (i->mute)
            d->info.volume += QStringLiteral(", muted");
    }
    pa_threaded_mainloop_signal(d->loop, 0);
}

bool PulseAudioEngine::Stream::waitFor(pa_operation *operation)
{
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !deadlinePassed)
        pa_threaded_mainloop_wait(loop);
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!done)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

void PulseAudioEngine::Stream::reportFailure(const QString &reason)
{
    if (!running || failureReported)
        return;
    failureReported = true;
    running = false;
    sounds.clear();
    notify([reason](PulseAudioEngine *owner) { emit owner->failed(reason); });
}

bool PulseAudioEngine::Stream::soundDue() const
{
    if (!sounds.empty())
        return true;
    const qint64 now = monotonicNowNs();
    return std::any_of(placed.begin(), placed.end(), [now](const Placed &p) { return p.timing.endNs > now; });
}

// The device makes progress while the server reads the stream on. One that
// reads nothing for stallNs while a sound is due or playing has stalled (a
// suspended or stuck device); one that reads nothing for stallFailureNs has
// failed.
void PulseAudioEngine::Stream::checkProgress(qint64 readFrames)
{
    const qint64 now = monotonicNowNs();
    if (readFrames != progressFrames || !soundDue()) {
        const bool moved = readFrames != progressFrames;
        progressFrames = readFrames;
        if (moved || !stalled)
            progressNs = now;
        if (moved && stalled) {
            stalled = false;
            qInfo() << "Audio output: the device moves again";
            notify([](PulseAudioEngine *owner) { emit owner->deviceStalled(false); });
        }
        return;
    }
    if (now - progressNs >= stallFailureNs) {
        reportFailure(QStringLiteral("the output device made no progress for %1 s").arg(stallFailureNs / 1e9));
        return;
    }
    if (now - progressNs >= stallNs && !stalled) {
        stalled = true;
        for (Sound &sound : sounds)
            sound.sawStall = true;
        for (Placed &p : placed)
            p.sawStall = true;
        qWarning().noquote() << "Audio output: the device has made no progress for" << (now - progressNs) / 1e6 << "ms";
        notify([](PulseAudioEngine *owner) { emit owner->deviceStalled(true); });
    }
}

// The device's timeline jumped, and the fit has restarted on it. A sound
// whose start the server has not read yet is placed again for its time; one
// already under way keeps the frames it has, which now play by the new
// timeline from the jump on.
void PulseAudioEngine::Stream::timelineJumped()
{
    const StreamTimeline timeline = clock.timeline();
    const qint64 earliest = earliestWritableFrame();
    const qint64 jumpFrame = qint64(std::ceil(lastFittedPosition));
    std::deque<Sound> again;
    for (auto it = placed.begin(); it != placed.end();) {
        const bool notStarted = it->frame >= earliest && it->timing.endNs > monotonicNowNs();
        auto queued = std::find_if(sounds.begin(), sounds.end(), [&](const Sound &s) { return s.id == it->timing.soundId; });
        if (notStarted && (queued == sounds.end() || queued->frame >= 0)) {
            Sound sound;
            sound.id = it->timing.soundId;
            sound.samples = it->samples;
            sound.requestedNs = it->timing.requestedOnsetNs;
            sound.replaced = true;
            sound.sawStall = it->sawStall;
            sound.plan = it->timing;
            if (queued != sounds.end())
                sounds.erase(queued);
            again.push_back(sound);
            // What was written of it becomes silence, up to the end of the
            // queue (a run has one sound in flight at a time).
            soundsEnd = std::min(soundsEnd, it->frame);
            writeSilence(it->frame, queuedEnd - it->frame);
            it = placed.erase(it);
            continue;
        }
        SoundTiming moved = moveAcrossJump(it->timing, it->frame, jumpFrame, timeline, AudioEngine::revisionToleranceNs);
        if (moved.onsetNs != it->timing.onsetNs || moved.endNs != it->timing.endNs) {
            it->timing = moved;
            notify([moved](PulseAudioEngine *owner) { emit owner->soundTimingRevised(moved); });
        }
        ++it;
    }
    for (auto it = again.rbegin(); it != again.rend(); ++it)
        sounds.push_front(*it);
}

// One timing report of the server: at `timestamp` (wall-clock time) it had
// read the stream up to read_index, and the sample it read last takes
// sink_usec more to reach the device. The device was therefore playing
// stream position read_index - sink_usec x rate at that moment.
void PulseAudioEngine::Stream::addTimingReport()
{
    const pa_timing_info *timing = stream ? pa_stream_get_timing_info(stream) : nullptr;
    if (!timing || timing->read_index_corrupt || corked || uncorking)
        return;
    const qint64 timestampUs = qint64(timing->timestamp.tv_sec) * 1'000'000 + timing->timestamp.tv_usec;
    if (timestampUs == lastReportTimestampUs)
        return;
    lastReportTimestampUs = timestampUs;
    lastReportArrivalNs = monotonicNowNs();

    // The timestamp is wall-clock time, which NTP may step or slew; its age
    // is what carries over to the monotonic clock.
    const qint64 monotonicNs = monotonicNowNs();
    const qint64 ageNs = realtimeNowNs() - timestampUs * 1000;
    const qint64 reportNs = monotonicNs - ageNs;

    const double position = double(timing->read_index) / bytesPerFrame
                            - double(timing->sink_usec) * rate / 1e6;
    // A server that reports no sink latency counts each processing cycle
    // as read when it starts; its read index then moves in whole cycles, the
    // greatest common divisor of its steps.
    const qint64 readFrames = timing->read_index / qint64(bytesPerFrame);
    // A sink that is not playing (suspended) says where its position stands
    // still: nothing of the device's timeline, only that it makes no progress.
    if (!timing->playing) {
        lastReportOnLine = false;
        checkProgress(readFrames);
        return;
    }
    if (lastReadFrames >= 0 && readFrames > lastReadFrames)
        readSteps.emplace_back(reportNs, readFrames - lastReadFrames);
    lastReadFrames = readFrames;
    while (!readSteps.empty() && readSteps.front().first < reportNs - StreamClockFit::windowNs)
        readSteps.pop_front();
    // Until enough steps have been seen, a common divisor may still be a
    // multiple of the cycle; the reports are then taken as exact.
    qint64 cycle = 0;
    zeroLatencyReports = timing->sink_usec == 0;
    zeroLatencyRun = zeroLatencyReports ? zeroLatencyRun + 1 : 0;
    if (zeroLatencyRun >= minCycleSteps && readSteps.size() >= minCycleSteps) {
        for (const auto &step : readSteps)
            cycle = std::gcd(cycle, step.second);
    }
    clock.setCycleFrames(cycle);
    cycleFrames = cycle;
    const StreamClockFit::Report fitted = clock.addReport(reportNs, position);
    lastReportOnLine = fitted != StreamClockFit::Report::Outlier;
    if (fitted == StreamClockFit::Report::Fitted)
        lastFittedPosition = position;
    checkProgress(readFrames);
    if (fitted == StreamClockFit::Report::Restarted) {
        qInfo().noquote() << "Audio output: the device's timeline jumped; its clock is fitted anew";
        timelineJumped();
        lastFittedPosition = position;
    }

    transportNs = qint64(timing->transport_usec) * 1000;
    sinkLatencies.emplace_back(reportNs, qint64(timing->sink_usec) * 1000);
    while (sinkLatencies.front().first < reportNs - StreamClockFit::windowNs)
        sinkLatencies.pop_front();
    if (timing->configured_sink_usec > 0)
        configuredSinkLatencyNs = qint64(timing->configured_sink_usec) * 1000;
}

// The first stream frame that a write issued now can still put in place:
// past what the device plays by the time the write reaches the server,
// plus everything the server may have read ahead of the device by then.
qint64 PulseAudioEngine::Stream::earliestWritableFrame() const
{
    qint64 readAheadNs = configuredSinkLatencyNs;
    for (const auto &report : sinkLatencies)
        readAheadNs = std::max(readAheadNs, report.second);
    const StreamTimeline timeline = clock.timeline();
    const qint64 arrivalNs = monotonicNowNs() + transportNs + writeMarginNs + readAheadNs;
    // A server that reads whole cycles may have taken the next one already.
    return std::max(firstFrameAtOrAfter(timeline, arrivalNs) + 2 * cycleFrames, soundsEnd);
}

bool PulseAudioEngine::Stream::write(const float *data, qint64 frames, qint64 atFrame, bool copy)
{
    const pa_seek_mode_t mode = atFrame == writeEnd ? PA_SEEK_RELATIVE : PA_SEEK_ABSOLUTE;
    const int64_t offset = mode == PA_SEEK_RELATIVE ? 0 : int64_t(atFrame) * int64_t(bytesPerFrame);
    const int result = pa_stream_write(stream, data, size_t(frames) * bytesPerFrame,
                                       copy ? nullptr : keepZeros, offset, mode);
    if (result < 0) {
        reportFailure(QStringLiteral("the audio server took no more sound (%1)").arg(pulseError(context)));
        return false;
    }
    writeEnd = atFrame + frames;
    queuedEnd = std::max(queuedEnd, writeEnd);
    return true;
}

bool PulseAudioEngine::Stream::writeSilence(qint64 atFrame, qint64 frames)
{
    const qint64 chunk = qint64(sizeof(zeros) / bytesPerFrame);
    while (frames > 0) {
        const qint64 n = std::min(frames, chunk);
        if (!write(zeros, n, atFrame, false))
            return false;
        atFrame += n;
        frames -= n;
    }
    return true;
}

// Writes the front sound at placement.frame: with the silence before it, in
// one piece, when the write goes at the end of the queue; on its own, over
// queued silence, when it is due before the end of the queue. A sound longer
// than the stream's buffer holds is written in pieces, the first here.
bool PulseAudioEngine::Stream::placeFront(const SoundPlacement &placement)
{
    Sound &sound = sounds.front();
    const qint64 frames = sound.samples.size();
    const qint64 padding = std::max<qint64>(placement.frame - writeEnd, 0);
    const qint64 first = std::min(frames, maxPieceFrames);
    const qint64 at = padding > 0 ? writeEnd : placement.frame;

    std::vector<float> piece(size_t(padding + first), 0.0f);
    std::memcpy(piece.data() + padding, sound.samples.constData(), size_t(first) * sizeof(float));
    if (!write(piece.data(), padding + first, at))
        return false;

    sound.frame = placement.frame;
    sound.written = first;
    soundsEnd = placement.frame + frames;

    SoundTiming timing = sound.replaced ? sound.plan : SoundTiming();
    timing.soundId = sound.id;
    timing.frames = frames;
    timing.requestedOnsetNs = sound.requestedNs;
    timing.onsetNs = placement.onsetNs;
    timing.endNs = placement.endNs;
    timing.latencyNs = timeOfFrame(clock.timeline(), queuedEnd) - monotonicNowNs();
    if (!sound.replaced) {
        timing.plannedOnsetNs = placement.onsetNs;
        timing.plannedEndNs = placement.endNs;
        // A sound that waited through a stall was due at its request.
        if (sound.sawStall) {
            timing.plannedOnsetNs = sound.requestedNs;
            timing.plannedEndNs = sound.requestedNs + (placement.endNs - placement.onsetNs);
        }
    }
    if (std::abs(timing.onsetDelayNs()) > AudioEngine::revisionToleranceNs
        || std::abs(timing.endDelayNs()) > AudioEngine::revisionToleranceNs)
        timing.deviceStalled = true;
    placed.push_back({timing, placement.frame, sound.sawStall, sound.samples});
    while (!placed.empty() && placed.front().timing.endNs < monotonicNowNs() - keepPlacedNs)
        placed.pop_front();
    if (sound.replaced)
        notify([timing](PulseAudioEngine *owner) { emit owner->soundTimingRevised(timing); });
    else
        notify([timing](PulseAudioEngine *owner) { emit owner->soundPlaced(timing); });

    // Whether the sound's start reached the server before it read that far.
    if (pa_operation *operation = pa_stream_update_timing_info(stream, arrivalChecked, this)) {
        arrivalChecks.push_back({sound.id, 0, placement.frame, first});
        pa_operation_unref(operation);
    }

    if (sound.written == frames)
        sounds.pop_front();
    return true;
}

// Writes until the queue reaches wantedEnd: the rest of a long sound, a
// sound whose onset falls before wantedEnd (over queued silence if need be),
// silence otherwise. A sound's place is only fixed when it is written, with
// the timeline as it stands then.
void PulseAudioEngine::Stream::fill(qint64 wantedEnd)
{
    while (running) {
        if (!sounds.empty() && sounds.front().frame >= 0) {
            Sound &sound = sounds.front();
            if (writeEnd >= wantedEnd)
                return;
            const qint64 n = std::min<qint64>(sound.samples.size() - sound.written, maxPieceFrames / 2);
            const qint64 pieceFrame = writeEnd;
            if (!write(sound.samples.constData() + sound.written, n, writeEnd))
                return;
            // Whether this piece too reached the server before it read that far.
            if (pa_operation *operation = pa_stream_update_timing_info(stream, arrivalChecked, this)) {
                arrivalChecks.push_back({sound.id, sound.written, pieceFrame, n});
                pa_operation_unref(operation);
            }
            sound.written += n;
            if (sound.written == sound.samples.size())
                sounds.pop_front();
            continue;
        }
        // While the device stands still its old timeline says nothing of
        // when a sound would play: the sound waits for it to move again.
        if (!sounds.empty() && clock.timeline().isValid() && !stalled) {
            const Sound &sound = sounds.front();
            const SoundPlacement placement = placeSound(clock.timeline(), sound.requestedNs,
                                                        earliestWritableFrame(), sound.samples.size());
            if (placement.frame < wantedEnd || placement.frame < writeEnd) {
                if (!placeFront(placement))
                    return;
                continue;
            }
        }
        if (writeEnd < wantedEnd)
            writeSilence(writeEnd, wantedEnd - writeEnd);
        return;
    }
}

void PulseAudioEngine::Stream::tearDown()
{
    if (!loop)
        return;
    closePulseLoop(loop, [this](pa_mainloop_api *api) {
        running = false;
        // Timers go before the stream and the context they were made on.
        freePulseTimer(api, timingEvent);
        freePulseTimer(api, deadlineEvent);
        releasePulseStream(stream);
        releasePulseContext(context);
    });

    sounds.clear();
    clock.restart();
    sinkLatencies.clear();
    readSteps.clear();
    arrivalChecks.clear();
    placed.clear();
    stalled = false;
    corked = false;
    uncorking = false;
    lastReportOnLine = false;
    progressFrames = -1;
    cycleFrames = 0;
    zeroLatencyReports = false;
    zeroLatencyRun = 0;
    lastReadFrames = -1;
    lastReportTimestampUs = -1;
    writeEnd = queuedEnd = soundsEnd = 0;
    failureReported = false;
}

PulseAudioEngine::PulseAudioEngine(QObject *parent)
    : AudioEngine(parent)
    , d(std::make_unique<Stream>(this))
{
}

PulseAudioEngine::~PulseAudioEngine()
{
    d->tearDown();
}

bool PulseAudioEngine::open(int rateHz, const QString &device, QString *errorText)
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
                        .arg(maximumRateHz()).arg(rateHz));
    }

    d->rate = rateHz;
    d->requestedDevice = device;
    d->info = AudioOutputInfo();
    d->info.backend = QStringLiteral("libpulse");
    d->clock = StreamClockFit(rateHz);
    d->requestFrames = qint64(double(rateHz) * requestNs / 1e9 + 0.5);
    d->deadlinePassed = false;

    d->loop = pa_threaded_mainloop_new();
    if (!d->loop || pa_threaded_mainloop_start(d->loop) < 0)
        return fail(QStringLiteral("the audio library could not start its thread"));
    pa_threaded_mainloop_lock(d->loop);
    struct Unlock
    {
        pa_threaded_mainloop *loop;
        ~Unlock() { pa_threaded_mainloop_unlock(loop); }
    };
    QString reason;
    {
        Unlock unlock{d->loop};
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
        }
        if (reason.isEmpty() && pa_context_connect(d->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            reason = QStringLiteral("no audio server could be reached (%1)").arg(pulseError(d->context));
        while (reason.isEmpty()) {
            const pa_context_state_t state = pa_context_get_state(d->context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                reason = QStringLiteral("no audio server could be reached (%1)").arg(pulseError(d->context));
            } else if (d->deadlinePassed) {
                reason = QStringLiteral("the audio server did not answer within %1 s").arg(connectTimeoutNs / 1e9);
            } else {
                pa_threaded_mainloop_wait(d->loop);
            }
        }
        if (reason.isEmpty())
            d->waitFor(pa_context_get_server_info(d->context, Stream::serverInfo, d.get()));
        d->pipewireServer = d->info.server.contains(QLatin1String("PipeWire"));
        if (d->pipewireServer) {
            // Through PipeWire's pulse server a timing report leads the device
            // by an unknown part of a graph cycle (up to 43 ms); PipeWire's own
            // engine reads every cycle's timing instead.
            qWarning().noquote() << "Audio output: libpulse on PipeWire's pulse server places sounds only to about "
                                    "one graph cycle; the libpipewire engine (the default on PipeWire) is exact";
        }

        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, uint32_t(rateHz), 1};
        pa_channel_map map;
        pa_channel_map_init_mono(&map);
        if (reason.isEmpty()) {
            pa_proplist *streamProperties = pa_proplist_new();
            pa_proplist_sets(streamProperties, PA_PROP_MEDIA_NAME, "Stimuli");
            d->stream = pa_stream_new_with_proplist(d->context, "Stimuli", &sampleFormat, &map, streamProperties);
            pa_proplist_free(streamProperties);
            if (!d->stream)
                reason = QStringLiteral("the audio server refused a %1 Hz stream (%2)").arg(rateHz).arg(pulseError(d->context));
        }
        if (reason.isEmpty()) {
            pa_stream_set_state_callback(d->stream, Stream::streamState, d.get());
            pa_stream_set_write_callback(d->stream, Stream::writeRequest, d.get());
            pa_stream_set_underflow_callback(d->stream, Stream::underflow, d.get());
            pa_stream_set_latency_update_callback(d->stream, Stream::latencyUpdate, d.get());

            pa_buffer_attr attributes;
            attributes.maxlength = uint32_t(-1);   // the server's largest, 4 MiB
            attributes.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(queueNs / 1000), &sampleFormat));
            // No prebuffer: the stream plays from the start, and on through an
            // underrun, so its position keeps pace with the device throughout.
            attributes.prebuf = 0;
            attributes.minreq = uint32_t(pa_usec_to_bytes(pa_usec_t(requestNs / 1000), &sampleFormat));
            attributes.fragsize = uint32_t(-1);

            // Full volume, unmuted, whatever an earlier stream of this
            // program was set to: the samples reach the device as stored.
            pa_cvolume volume;
            pa_cvolume_set(&volume, 1, PA_VOLUME_NORM);
            const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE
                                                 | PA_STREAM_EARLY_REQUESTS | PA_STREAM_START_UNMUTED
                                                 | PA_STREAM_DONT_MOVE);
            const QByteArray deviceName = device.toUtf8();
            if (pa_stream_connect_playback(d->stream, device.isEmpty() ? nullptr : deviceName.constData(),
                                           &attributes, flags, &volume, nullptr)
                < 0) {
                reason = QStringLiteral("the audio server refused the output stream (%1)").arg(pulseError(d->context));
            }
        }
        while (reason.isEmpty()) {
            const pa_stream_state_t state = pa_stream_get_state(d->stream);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state)) {
                // One pass over the arguments: a device name is never read as a
                // placeholder.
                reason = QStringLiteral("the audio server refused a %1 Hz mono float stream%2 (%3)")
                             .arg(QString::number(rateHz),
                                  device.isEmpty() ? QString() : QStringLiteral(" on ") + device,
                                  pulseError(d->context));
            } else if (d->deadlinePassed) {
                reason = QStringLiteral("the audio server did not open the stream within %1 s").arg(connectTimeoutNs / 1e9);
            } else {
                pa_threaded_mainloop_wait(d->loop);
            }
        }
        if (reason.isEmpty()) {
            d->waitFor(pa_context_get_sink_info_by_index(d->context, pa_stream_get_device_index(d->stream),
                                                         Stream::sinkInfo, d.get()));
            d->waitFor(pa_context_get_sink_input_info(d->context, pa_stream_get_index(d->stream),
                                                      Stream::sinkInputInfo, d.get()));
            const pa_buffer_attr *granted = pa_stream_get_buffer_attr(d->stream);
            const qint64 maxFrames = granted ? qint64(granted->maxlength / bytesPerFrame) : qint64(1) << 20;
            const qint64 queueFrames = granted ? qint64(granted->tlength / bytesPerFrame) : rateHz / 10;
            d->maxPieceFrames = std::max<qint64>(maxFrames - 2 * queueFrames, d->requestFrames);
            if (d->deadlineEvent) {
                api->time_free(d->deadlineEvent);
                d->deadlineEvent = nullptr;
            }
            d->timingEvent = pa_context_rttime_new(d->context, pa_rtclock_now() + timingUpdateNs / 1000,
                                                   Stream::timingTick, d.get());
            d->running = true;
            d->lastReportArrivalNs = monotonicNowNs();
            d->progressNs = monotonicNowNs();
            d->fill(d->writeEnd + qint64(pa_stream_writable_size(d->stream) / bytesPerFrame));
        }
    }
    if (!reason.isEmpty())
        return fail(reason);
    qInfo().noquote() << "Audio output: libpulse," << d->info.server << "," << d->info.device << ","
                      << d->info.deviceRateHz << "Hz";
    return true;
}

void PulseAudioEngine::close()
{
    d->tearDown();
}

bool PulseAudioEngine::isOpen() const
{
    return d->loop && d->running;
}

int PulseAudioEngine::rateHz() const
{
    return d->rate;
}

QString PulseAudioEngine::device() const
{
    return d->requestedDevice;
}

quint64 PulseAudioEngine::play(const QVector<float> &samples, qint64 onsetNs)
{
    if (!d->loop)
        return 0;
    pa_threaded_mainloop_lock(d->loop);
    const quint64 id = d->nextId++;
    if (d->running && d->corked && !samples.isEmpty()) {
        pa_threaded_mainloop_unlock(d->loop);
        setIdle(false);
        pa_threaded_mainloop_lock(d->loop);
    }
    if (d->running && !samples.isEmpty()) {
        Stream::Sound sound;
        sound.id = id;
        sound.samples = samples;
        sound.requestedNs = onsetNs;
        d->sounds.push_back(sound);
        // A sound due before the end of the queue goes in at once, over
        // the silence queued there; a later one waits for its write request.
        d->fill(d->writeEnd);
    }
    pa_threaded_mainloop_unlock(d->loop);
    return id;
}

void PulseAudioEngine::cancel()
{
    if (!d->loop)
        return;
    pa_threaded_mainloop_lock(d->loop);
    d->sounds.clear();
    if (d->running && d->clock.timeline().isValid()) {
        // Whatever of a placed sound has not reached the server yet becomes
        // silence; what the server has read plays out.
        const qint64 end = d->queuedEnd;
        d->soundsEnd = 0;
        const qint64 from = std::min(d->earliestWritableFrame(), end);
        d->writeSilence(from, end - from);
        d->soundsEnd = from;
    }
    pa_threaded_mainloop_unlock(d->loop);
}

bool PulseAudioEngine::deviceProgressing() const
{
    if (!d->loop)
        return false;
    pa_threaded_mainloop_lock(d->loop);
    // The last report lay on the device's timeline and is recent: a device
    // that stood still would have given one off it within a report or two.
    const bool moving = d->running && !d->corked && !d->stalled && d->lastReportOnLine
                        && monotonicNowNs() - d->lastReportArrivalNs < 3 * timingUpdateNs;
    pa_threaded_mainloop_unlock(d->loop);
    return moving;
}

void PulseAudioEngine::setIdle(bool idle)
{
    if (!d->loop)
        return;
    pa_threaded_mainloop_lock(d->loop);
    if (d->running && idle != d->corked) {
        d->corked = idle;
        // The stream's position stood still while corked: its timeline is
        // found anew from the reports that follow the server's word that it
        // moves again (a report taken before then shows it still standing).
        d->uncorking = !idle;
        if (pa_operation *operation = pa_stream_cork(d->stream, idle ? 1 : 0, Stream::corkDone, d.get()))
            pa_operation_unref(operation);
        d->clock.restart();
        d->sinkLatencies.clear();
        d->readSteps.clear();
        d->lastReadFrames = -1;
        d->progressFrames = -1;
        d->progressNs = monotonicNowNs();
        d->lastReportArrivalNs = monotonicNowNs();
        if (d->stalled) {
            d->stalled = false;
            d->notify([](PulseAudioEngine *owner) { emit owner->deviceStalled(false); });
        }
    }
    pa_threaded_mainloop_unlock(d->loop);
}

AudioOutputInfo PulseAudioEngine::outputInfo() const
{
    if (!d->loop)
        return d->info;
    pa_threaded_mainloop_lock(d->loop);
    const AudioOutputInfo info = d->info;
    pa_threaded_mainloop_unlock(d->loop);
    return info;
}

qint64 PulseAudioEngine::outputLatencyNs() const
{
    if (!d->loop)
        return 0;
    pa_threaded_mainloop_lock(d->loop);
    const StreamTimeline timeline = d->clock.timeline();
    const qint64 latency = timeline.isValid() ? timeOfFrame(timeline, d->queuedEnd) - monotonicNowNs() : 0;
    pa_threaded_mainloop_unlock(d->loop);
    return latency;
}

namespace {

// A short connection of its own, on a plain main loop run here, for what is
// wanted before any stream is open: ask(context) sends the request once the
// connection is ready, and the loop turns until done() or the timeout.
void askServer(const std::function<pa_operation *(pa_context *)> &ask, const std::function<bool()> &done,
               qint64 timeoutNs)
{
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return;
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Auditory Tarquel");
    const qint64 deadline = monotonicNowNs() + timeoutNs;
    pa_operation *operation = nullptr;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        while (monotonicNowNs() < deadline && !done()) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && !operation)
                operation = ask(context);
            // One turn of the loop, waiting at most 10 ms.
            if (pa_mainloop_prepare(loop, 10'000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
    }
    if (operation)
        pa_operation_unref(operation);
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
}

struct ServerQuery
{
    QString name;
    bool done = false;
};

void serverNameAnswered(pa_context *, const pa_server_info *info, void *userdata)
{
    auto *query = static_cast<ServerQuery *>(userdata);
    if (info)
        query->name = QString::fromUtf8(info->server_name) + QLatin1Char(' ') + QString::fromUtf8(info->server_version);
    query->done = true;
}

struct SinkListing
{
    QVector<AudioDeviceDescription> devices;
    bool done = false;
};

void listSink(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    auto *listing = static_cast<SinkListing *>(userdata);
    if (eol || !info) {
        listing->done = true;
        return;
    }
    listing->devices.append({QString::fromUtf8(info->name), QString::fromUtf8(info->description)});
}

} // namespace

QString PulseAudioEngine::serverName()
{
    ServerQuery query;
    askServer([&query](pa_context *context) { return pa_context_get_server_info(context, serverNameAnswered, &query); },
              [&query] { return query.done; }, 2'000'000'000);
    return query.name;
}

int PulseAudioEngine::maximumRateHz() const
{
    return int(PA_RATE_MAX);
}

int PulseAudioEngine::underrunCount() const
{
    if (!d->loop)
        return d->underruns;
    pa_threaded_mainloop_lock(d->loop);
    const int count = d->underruns;
    pa_threaded_mainloop_unlock(d->loop);
    return count;
}


// The list is wanted before any stream is open, and once per start.
QVector<AudioDeviceDescription> PulseAudioEngine::outputDevices() const
{
    SinkListing listing;
    askServer([&listing](pa_context *context) { return pa_context_get_sink_info_list(context, listSink, &listing); },
              [&listing] { return listing.done; }, connectTimeoutNs);
    return listing.done ? listing.devices : QVector<AudioDeviceDescription>();
}
