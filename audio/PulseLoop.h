#ifndef PULSELOOP_H
#define PULSELOOP_H

#include <pulse/pulseaudio.h>

#include <QString>

#include <functional>

// The wall clock (CLOCK_REALTIME) in nanoseconds: the server stamps its
// timing reports by it.
qint64 realtimeNowNs();
// The context's last error in words.
QString pulseError(pa_context *context);

// Taking down what a connection to the audio server built on libpulse's
// threaded main loop: its timers, its stream and its context go under the
// loop's lock, with their callbacks cut first so that none runs half-way
// through, and then the loop's thread stops and the loop is freed. Each
// pointer is null afterwards; a null one is passed over.
void freePulseTimer(pa_mainloop_api *api, pa_time_event *&event);
void releasePulseStream(pa_stream *&stream);
void releasePulseContext(pa_context *&context);
// Runs release(api) under the loop's lock, then stops and frees the loop.
void closePulseLoop(pa_threaded_mainloop *&loop, const std::function<void(pa_mainloop_api *api)> &release);

#endif // PULSELOOP_H
