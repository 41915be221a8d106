#ifndef SINKCAPTURE_H
#define SINKCAPTURE_H

// Records what the audio server mixes: a pipe sink, made the default output,
// read from its FIFO on a thread. The sink writes a block into the FIFO when
// the block's first sample is due (PulseAudio's pipe sink paced by the system
// clock; PipeWire's on its graph's timer), so the capture index of a sample
// tells when the server rendered it, once the capture is placed on the clock:
//
//   A read that starts a wake (the FIFO was empty before it) begins with the
//   first sample of a block, which was due at or before the read. The
//   earliest (read time - index of that first sample / rate) over such reads
//   is therefore the best estimate of when capture index 0 was due.
//
// PipeWire's sink writes nothing while no stream plays, and now and then
// skips a block or two of its timeline (the recording then lacks them), and a
// suspended sink restarts on a timing of its own, so the capture is a series
// of stretches; each stretch is placed on the clock from its own wakes. A new
// stretch starts where wakes keep coming more than shiftNs off the current
// stretch's timing, shiftWakes of them in a row off the same way; a single
// late wake is only the reader's own delay. After a pause the sink may write
// its first block tens of milliseconds ahead of the rest, so the stretch that
// block starts is soon followed by one on the sink's real timing.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

class SinkCapture
{
public:
    static qint64 nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Loads a pipe sink writing into fifo and makes it the default output.
    bool start(const QString &fifo, int rate, const QString &sinkName = QStringLiteral("tarquel_capture"))
    {
        sampleRate = rate;
        QStringList arguments{QStringLiteral("load-module"), QStringLiteral("module-pipe-sink"),
                              QStringLiteral("file=") + fifo, QStringLiteral("sink_name=") + sinkName,
                              QStringLiteral("format=float32le"), QStringLiteral("rate=%1").arg(rate),
                              QStringLiteral("channels=1")};
        // PulseAudio paces the sink by the system clock only when asked;
        // PipeWire's pulse server knows no such argument and always does.
        if (!loadModule(arguments + QStringList{QStringLiteral("use_system_clock_for_timing=yes")})
            && !loadModule(arguments))
            return false;
        if (QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("set-default-sink"), sinkName}) != 0)
            return false;
        fd = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        running = true;
        reader = std::thread([this] { readLoop(); });
        return true;
    }

    void stop()
    {
        running = false;
        if (reader.joinable())
            reader.join();
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!moduleIndex.isEmpty())
            QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("unload-module"), moduleIndex});
        moduleIndex.clear();
    }

    std::vector<float> samples() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return captured;
    }

    qint64 size() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return qint64(captured.size());
    }

    // When the sample at capture index `index` was due at the sink, on the
    // steady clock (QElapsedTimer's).
    qint64 renderTimeNs(qint64 index) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        const Stretch *stretch = nullptr;
        for (const Stretch &s : stretches) {
            if (s.firstIndex <= index)
                stretch = &s;
        }
        if (!stretch)
            return 0;
        return stretch->originNs + index * 1'000'000'000LL / sampleRate;
    }

    // The same for a place between samples (a sound found by
    // cross-correlation).
    qint64 renderTimeNs(double index) const
    {
        const auto whole = qint64(std::floor(index));
        return renderTimeNs(whole) + qint64(std::llround((index - double(whole)) * 1e9 / sampleRate));
    }

    int stretchCount() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(stretches.size());
    }

    // Where sounds stand in a recording: each unbroken run of non-zero
    // samples from index `from` on, as [first, end) pairs. (The sounds the
    // tests play have no zero sample.)
    static std::vector<std::pair<qint64, qint64>> nonZeroRuns(const std::vector<float> &recorded, qint64 from)
    {
        std::vector<std::pair<qint64, qint64>> runs;
        const qint64 size = qint64(recorded.size());
        for (qint64 i = from; i < size;) {
            if (recorded[size_t(i)] == 0.0f) {
                ++i;
                continue;
            }
            qint64 end = i;
            while (end < size && recorded[size_t(end)] != 0.0f)
                ++end;
            runs.emplace_back(i, end);
            i = end;
        }
        return runs;
    }

    static constexpr qint64 shiftNs = 500'000;
    static constexpr int shiftWakes = 10;
    static constexpr qint64 minWakeGapNs = 2'000'000;
    static constexpr qint64 pauseNs = 100'000'000;

private:
    struct Stretch
    {
        qint64 firstIndex;
        qint64 originNs;   // when capture index 0 would have been due
    };

    bool loadModule(const QStringList &arguments)
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), arguments);
        if (!pactl.waitForFinished() || pactl.exitCode() != 0)
            return false;
        moduleIndex = QString::fromLatin1(pactl.readAllStandardOutput()).trimmed();
        return true;
    }

    void readLoop()
    {
        std::vector<char> chunk(65536);
        std::vector<char> partial;   // bytes of a sample split between two reads
        qint64 bytesBefore = 0;
        qint64 lastReadNs = 0;
        bool drained = true;
        while (running) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd, chunk.data(), chunk.size());
            const qint64 t = nowNs();
            if (n <= 0) {
                drained = true;
                continue;
            }
            // After a late wake-up the sink writes a second block at once,
            // ahead of its time; a read that follows the one before it this
            // closely holds such a block and does not start a wake.
            const bool wake = drained && t - lastReadNs >= minWakeGapNs;
            // A sink that wrote nothing for a while (PipeWire's, while no
            // stream plays) starts on a timing of its own when it resumes.
            const bool afterPause = lastReadNs > 0 && t - lastReadNs >= pauseNs;
            drained = size_t(n) < chunk.size();
            lastReadNs = t;
            const qint64 first = bytesBefore / 4;
            const bool startsOnSample = bytesBefore % 4 == 0;
            bytesBefore += n;

            partial.insert(partial.end(), chunk.begin(), chunk.begin() + n);
            const size_t whole = partial.size() / 4;
            std::lock_guard<std::mutex> lock(mutex);
            const size_t old = captured.size();
            captured.resize(old + whole);
            std::memcpy(captured.data() + old, partial.data(), whole * 4);
            partial.erase(partial.begin(), partial.begin() + long(whole * 4));

            if (!wake || !startsOnSample)
                continue;
            const qint64 origin = t - first * 1'000'000'000LL / sampleRate;
            if (stretches.empty() || (afterPause && std::llabs(origin - stretches.back().originNs) > shiftNs)) {
                stretches.push_back({first, origin});
                lateOrigins.clear();
            } else if (std::llabs(origin - stretches.back().originNs) > shiftNs) {
                // Off the stretch's timing, later (skipped blocks, or a sink
                // that wrote its first block ahead of the rest) or earlier (a
                // sink that restarted with less in it): a new stretch, at the
                // earliest timing of the row, once shiftWakes wakes in a row
                // are off the same way and at least half of them agree with
                // that timing. A read is never early, only late, so a wake
                // later than the others is the reader's own delay and does
                // not break the row; only a wake on the stretch's timing, or
                // off it the other way, does.
                const bool later = origin > stretches.back().originNs;
                if (!lateOrigins.empty() && (lateOrigins.front() > stretches.back().originNs) != later)
                    lateOrigins.clear();
                if (lateOrigins.empty())
                    lateRunFirst = first;
                lateOrigins.push_back(origin);
                const qint64 earliest = *std::min_element(lateOrigins.begin(), lateOrigins.end());
                const auto agreeing = std::count_if(lateOrigins.begin(), lateOrigins.end(),
                                                    [earliest](qint64 o) { return o - earliest <= shiftNs; });
                if (int(lateOrigins.size()) >= shiftWakes && 2 * agreeing >= shiftWakes) {
                    stretches.push_back({lateRunFirst, earliest});
                    lateOrigins.clear();
                }
            } else {
                lateOrigins.clear();
                if (origin < stretches.back().originNs)
                    stretches.back().originNs = origin;
            }
        }
    }

    int sampleRate = 40000;
    QString moduleIndex;
    int fd = -1;
    std::atomic<bool> running{false};
    std::thread reader;
    mutable std::mutex mutex;
    std::vector<float> captured;
    std::vector<Stretch> stretches;
    qint64 lateRunFirst = 0;           // capture index where the row of wakes off the timing began
    std::vector<qint64> lateOrigins;   // their origins, in order
};

#endif // SINKCAPTURE_H
