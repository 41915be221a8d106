// Measuring run of an audio engine against what the audio server renders.
//
//   scripts/with-audio-server.sh build/bench/audio_timing [pipewire|pulse|qt] [sounds] [sound ms] [interval ms]
//       [rate] [capture rate] [stall after]
//
// Plays `sounds` sounds as a run does: each one requested for "answer" +
// sound + interval, the answer coming a random 5 to 60 ms after the previous
// sound's estimated end. A pipe sink records the server's mix, and each
// sound's true onset and end (from the sample positions in the recording,
// on the sink's clock) are compared with the request and with the engine's
// own estimates. Prints mean, SD, min and max of each difference in ms.
//
// With a capture rate other than the sounds' rate (the server resamples),
// the sounds are found by cross-correlation (tests/SoundFinder.h). With
// "stall after" N, the sink is suspended for 1 s after the Nth sound.

#include "audio/AudioEngineFactory.h"
#include "audio/AudioEngine.h"
#ifdef TARQUEL_HAVE_LIBPULSE
#include "audio/PulseAudioEngine.h"
#endif
#include "tests/SinkCapture.h"
#include "tests/SoundFinder.h"

#include <QProcess>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

struct Stats
{
    double mean = 0, sd = 0, min = 0, max = 0;
};

Stats stats(const std::vector<double> &values)
{
    Stats s;
    if (values.empty())
        return s;
    s.min = *std::min_element(values.begin(), values.end());
    s.max = *std::max_element(values.begin(), values.end());
    for (double v : values)
        s.mean += v;
    s.mean /= double(values.size());
    for (double v : values)
        s.sd += (v - s.mean) * (v - s.mean);
    s.sd = std::sqrt(s.sd / double(values.size()));
    return s;
}

void print(const char *label, const std::vector<double> &values)
{
    const Stats s = stats(values);
    std::printf("%-44s mean %8.4f  sd %7.4f  min %8.4f  max %8.4f ms\n", label, s.mean, s.sd, s.min, s.max);
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString backend = args.value(1, QStringLiteral("pulse"));
    const int count = args.value(2, QStringLiteral("50")).toInt();
    const double soundMs = args.value(3, QStringLiteral("10")).toDouble();
    const double intervalMs = args.value(4, QStringLiteral("30")).toDouble();
    const int rate = args.value(5, QStringLiteral("40000")).toInt();
    const int captureRate = args.value(6, QString::number(rate)).toInt();
    const int stallAfter = args.value(7, QStringLiteral("-1")).toInt();
    qputenv("TARQUEL_AUDIO_BACKEND", backend.toLatin1());

    QTemporaryDir dir;
    SinkCapture capture;
    if (!capture.start(dir.filePath(QStringLiteral("capture.fifo")), captureRate)) {
        std::fprintf(stderr, "no pipe sink: run under scripts/with-audio-server.sh\n");
        return 1;
    }
    QString note;
    AudioEngine *engine = createAudioEngine(&note);
    QString error;
    if (!engine->open(rate, QString(), &error)) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("engine: %s; %s\n", qPrintable(note), qPrintable(engine->outputInfo().server));
    waitMs(500);

    const int frames = int(std::lround(soundMs * rate / 1000.0));
    // A chirp from 300 Hz to 6 kHz: its autocorrelation has one sharp peak.
    QVector<float> sound(frames);
    for (int i = 0; i < frames; ++i) {
        const double s = double(i) / rate, length = double(frames) / rate;
        const float v = float(0.3 * std::sin(2 * M_PI * (300.0 * s + 0.5 * (6000.0 - 300.0) / length * s * s)));
        sound[i] = v == 0.0f ? 1e-3f : v;
    }

    std::mt19937 random(1);
    std::uniform_int_distribution<int> answerDelayMs(5, 60);
    std::vector<SoundTiming> timings;
    QObject::connect(engine, &AudioEngine::soundPlaced, [&](const SoundTiming &t) { timings.push_back(t); });
    const qint64 captureStart = capture.size();
    qint64 answerNs = monotonicNowNs();
    std::vector<SoundTiming> revised;
    QObject::connect(engine, &AudioEngine::soundTimingRevised, [&](const SoundTiming &t) { revised.push_back(t); });
    for (int k = 0; k < count; ++k) {
        if (k == stallAfter) {
            QProcess::startDetached(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                           QStringLiteral("pactl suspend-sink tarquel_capture 1; "
                                                                          "sleep 1; pactl suspend-sink tarquel_capture 0")});
        }
        const qint64 onset = answerNs + qint64((soundMs + intervalMs) * 1e6);
        engine->play(sound, onset);
        while (int(timings.size()) <= k)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const qint64 waitNs = timings.back().endNs - monotonicNowNs() + answerDelayMs(random) * 1'000'000LL;
        waitMs(int(std::max<qint64>(waitNs / 1'000'000, 0)));
        answerNs = monotonicNowNs();
    }
    waitMs(400);
    const std::vector<float> recorded = capture.samples();
    const qint64 latency = engine->outputLatencyNs();
#ifdef TARQUEL_HAVE_LIBPULSE
    if (auto *pulse = qobject_cast<PulseAudioEngine *>(engine))
        std::printf("underruns: %d\n", pulse->underrunCount());
#endif
    delete engine;
    capture.stop();

    // The latest timing of each sound: as placed, or as revised since.
    for (const SoundTiming &t : revised) {
        for (SoundTiming &placed : timings) {
            if (placed.soundId == t.soundId)
                placed = t;
        }
    }
    const bool resampled = captureRate != rate;
    const std::vector<std::pair<qint64, qint64>> runs =
        resampled ? SoundFinder::soundRegions(recorded, captureStart, 1e-4f, captureRate / 500)
                  : SinkCapture::nonZeroRuns(recorded, captureStart);
    int intact = 0;
    std::vector<double> onsetIndex, endIndex;
    const std::vector<float> expected(sound.begin(), sound.end());
    for (const auto &run : runs) {
        if (resampled) {
            const SoundFinder::Found found =
                SoundFinder::locate(recorded, expected, rate, captureRate, run.first + 16, 64);
            onsetIndex.push_back(found.onsetIndex);
            endIndex.push_back(found.endIndex);
            if (found.correlation > 0.99)
                ++intact;
            if (qEnvironmentVariableIsSet("AUDIO_TIMING_VERBOSE"))
                std::printf("correlation %.5f at %.3f\n", found.correlation, found.onsetIndex);
            continue;
        }
        onsetIndex.push_back(double(run.first));
        endIndex.push_back(double(run.second));
        if (run.second - run.first == frames && std::equal(sound.begin(), sound.end(), recorded.begin() + run.first))
            ++intact;
    }
    std::printf("sounds: %d requested, %d found in the recording, %d %s; stretches %d; latency %.1f ms; "
                "revised %d\n",
                count, int(runs.size()), intact, resampled ? "matching (correlation > 0.99)" : "bit-exact",
                capture.stretchCount(), latency / 1e6, int(revised.size()));
    if (int(runs.size()) != count)
        return 1;

    std::vector<double> onsetVsRequest, onsetVsEstimate, endVsEstimate, estimateVsRequest;
    for (int k = 0; k < count; ++k) {
        const qint64 trueOnset = capture.renderTimeNs(onsetIndex[size_t(k)]);
        const qint64 trueEnd = capture.renderTimeNs(endIndex[size_t(k)]);
        if (stallAfter >= 0 && k >= stallAfter - 1 && k <= stallAfter + 2)
            std::printf("sound %d: true - estimated onset %.3f ms, end %.3f ms; planned onset moved %.3f ms%s\n", k,
                        (trueOnset - timings[size_t(k)].onsetNs) / 1e6, (trueEnd - timings[size_t(k)].endNs) / 1e6,
                        timings[size_t(k)].onsetDelayNs() / 1e6, timings[size_t(k)].deviceStalled ? " (stalled)" : "");
        onsetVsRequest.push_back((trueOnset - timings[size_t(k)].requestedOnsetNs) / 1e6);
        onsetVsEstimate.push_back((trueOnset - timings[size_t(k)].onsetNs) / 1e6);
        endVsEstimate.push_back((trueEnd - timings[size_t(k)].endNs) / 1e6);
        estimateVsRequest.push_back(timings[size_t(k)].onsetErrorNs() / 1e6);
    }
    print("true onset - requested onset", onsetVsRequest);
    print("true onset - estimated onset", onsetVsEstimate);
    print("true end - estimated end", endVsEstimate);
    print("estimated onset - requested (onset error)", estimateVsRequest);
    return 0;
}
