// Measuring run of what an audio engine costs the computer: wake-ups and CPU
// time of the whole process, idle between runs and during a run.
//
//   scripts/with-audio-server.sh build/bench/audio_idle [pipewire|pulse] [seconds] [running]
//
// Opens the engine at 40000 Hz as the program does when a folder is chosen,
// then counts the process's context switches (every thread's voluntary and
// involuntary ones, a wake-up each) and its CPU time: first with the stream
// held still (the program between runs), then with it moving and a 100 ms
// sound every 500 ms (a run). With "running" the stream is never held still,
// as before the program learnt to.

#include "audio/AudioEngine.h"
#include "audio/AudioEngineFactory.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>
#include <cstdio>

#include <sys/resource.h>

namespace {

// Context switches of every thread of this process so far.
long long contextSwitches()
{
    long long total = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return total;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void measure(const char *label, int seconds, const std::function<void()> &during = {})
{
    // Threads that come and go (a short connection) are not counted: only
    // those alive at both ends.
    const long long switchesBefore = contextSwitches();
    const double cpuBefore = cpuSeconds();
    QEventLoop loop;
    QTimer tick;
    if (during) {
        QObject::connect(&tick, &QTimer::timeout, during);
        tick.start(500);
    }
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wakes = double(contextSwitches() - switchesBefore) / seconds;
    const double cpu = (cpuSeconds() - cpuBefore) / seconds * 100.0;
    std::printf("%-28s %7.1f wake-ups/s   CPU %5.2f %%\n", label, wakes, cpu);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    qputenv("TARQUEL_AUDIO_BACKEND", args.value(1, QStringLiteral("pulse")).toLatin1());
    const int seconds = args.value(2, QStringLiteral("10")).toInt();
    const bool alwaysRunning = args.value(3) == QLatin1String("running");
    QString note;
    AudioEngine *engine = createAudioEngine(&note);
    QString error;
    if (!engine->open(40000, QString(), &error)) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("engine: %s; %s\n", qPrintable(note), qPrintable(engine->outputInfo().server));
    engine->setIdle(!alwaysRunning);
    measure(alwaysRunning ? "between runs (stream moving)" : "between runs (held still)", seconds);

    QVector<float> sound(4000);
    for (int i = 0; i < sound.size(); ++i)
        sound[i] = float(0.2 * std::sin(2 * M_PI * 500.0 * i / 40000.0));
    // The first sounds after the stream moves again are due 200 ms after
    // they are asked for, as a fast listener's first trial would be.
    std::vector<double> lateMs;
    QObject::connect(engine, &AudioEngine::soundPlaced,
                     [&](const SoundTiming &t) { lateMs.push_back(t.onsetErrorNs() / 1e6); });
    engine->setIdle(false);
    engine->play(sound, monotonicNowNs() + 200'000'000);
    measure("during a run", seconds, [&] { engine->play(sound, monotonicNowNs() + 200'000'000); });
    if (!lateMs.empty()) {
        std::printf("onset error of the first sound after the stream moved again: %.2f ms; the largest later: %.2f ms\n",
                    lateMs.front(), *std::max_element(lateMs.begin() + 1, lateMs.end()));
    }
    delete engine;
    return 0;
}
