#include "audio/PulseLoop.h"

#include <time.h>

qint64 realtimeNowNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

QString pulseError(pa_context *context)
{
    return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
}

void freePulseTimer(pa_mainloop_api *api, pa_time_event *&event)
{
    if (event)
        api->time_free(event);
    event = nullptr;
}

void releasePulseStream(pa_stream *&stream)
{
    if (!stream)
        return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void releasePulseContext(pa_context *&context)
{
    if (!context)
        return;
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

void closePulseLoop(pa_threaded_mainloop *&loop, const std::function<void(pa_mainloop_api *api)> &release)
{
    if (!loop)
        return;
    pa_threaded_mainloop_lock(loop);
    release(pa_threaded_mainloop_get_api(loop));
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}
