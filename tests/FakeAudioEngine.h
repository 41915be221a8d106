#ifndef FAKEAUDIOENGINE_H
#define FAKEAUDIOENGINE_H

// A stand-in for the audio engine in the window tests, which play nothing:
// it records what it was asked to play, places each sound on the next turn
// of the event loop, and can refuse to open, stay silent or fail on demand.

#include "audio/AudioEngine.h"
#include "audio/AudioEngineFactory.h"

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <vector>

class FakeAudioEngine : public AudioEngine
{
public:
    struct Request
    {
        QVector<float> samples;
        qint64 onsetNs = 0;
        qint64 madeNs = 0;   // when play() was called
    };

    // How a sound is placed: as having just ended (tests of bookkeeping
    // need not wait for it), at its requested time as a real output would,
    // or never (an output that hangs).
    enum class Placing { JustEnded, OnTime, Never };

    bool open(int rateHz, const QString &device, QString *errorText) override
    {
        ++opens;
        if (!refusal.isEmpty()) {
            if (errorText)
                *errorText = refusal;
            return false;
        }
        opened = true;
        rate = rateHz;
        deviceName = device;
        return true;
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    int rateHz() const override { return rate; }
    QString device() const override { return deviceName; }

    quint64 play(const QVector<float> &samples, qint64 onsetNs) override
    {
        const quint64 id = ++lastId;
        requests.append({samples, onsetNs, monotonicNowNs()});
        if (placing == Placing::Never || !opened)
            return id;
        const qint64 frames = samples.size();
        const qint64 lost = framesLostAtStart;
        QTimer::singleShot(0, this, [this, id, frames, onsetNs, lost] {
            if (id <= cancelledUpTo)
                return;
            const qint64 lengthNs = frames * 1'000'000'000LL / std::max(rate, 1);
            SoundTiming timing;
            timing.soundId = id;
            timing.frames = frames;
            timing.requestedOnsetNs = onsetNs;
            timing.onsetNs = placing == Placing::OnTime ? std::max(onsetNs, monotonicNowNs())
                                                        : monotonicNowNs() - lengthNs;
            timing.endNs = timing.onsetNs + lengthNs;
            timing.plannedOnsetNs = timing.onsetNs;
            timing.plannedEndNs = timing.endNs;
            timing.latencyNs = 5'000'000;
            placed.push_back(timing);
            emit soundPlaced(timing);
            if (lost > 0)
                emit soundStartMaybeLost(id, lost);
        });
        return id;
    }
    void cancel() override
    {
        ++cancels;
        cancelledUpTo = lastId;
    }
    AudioOutputInfo outputInfo() const override
    {
        AudioOutputInfo info;
        info.backend = QStringLiteral("fake");
        info.server = QStringLiteral("no server");
        info.device = QStringLiteral("fake output");
        info.deviceRateHz = rate;
        info.volume = QStringLiteral("100 %");
        return info;
    }
    qint64 outputLatencyNs() const override { return 5'000'000; }
    int maximumRateHz() const override { return 768000; }
    QVector<AudioDeviceDescription> outputDevices() const override
    {
        return {{QStringLiteral("fake_speakers"), QStringLiteral("Fake speakers")},
                {QStringLiteral("fake_booth"), QStringLiteral("Fake booth headphones")}};
    }

    // The device stalls, and the sound last placed turns out to play movedNs
    // later than placed, as an engine that follows the device says.
    void stallAndMoveLastSound(qint64 movedNs)
    {
        emit deviceStalled(true);
        SoundTiming moved = placed.back();
        moved.onsetNs += movedNs;
        moved.endNs += movedNs;
        moved.deviceStalled = true;
        placed.back() = moved;
        emit soundTimingRevised(moved);
    }
    void deviceMovesAgain() { emit deviceStalled(false); }

    // The output stops for good, as when the audio server goes away.
    void fail(const QString &reason)
    {
        opened = false;
        emit failed(reason);
    }

    Placing placing = Placing::JustEnded;
    qint64 framesLostAtStart = 0;   // set: each sound handed over is said to have lost this many
    QString refusal;   // set: open() fails with this reason
    QVector<Request> requests;
    std::vector<SoundTiming> placed;   // as last placed or revised
    int opens = 0;
    int cancels = 0;

private:
    bool opened = false;
    int rate = 0;
    QString deviceName;
    quint64 lastId = 0;
    quint64 cancelledUpTo = 0;
};

// The program's remembered settings, kept apart from the user's own (Qt's
// test location) and empty at the start of every test program.
inline void forgetRememberedSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarquel"), QStringLiteral("tarquel"))
        .clear();
}

// QTEST_MAIN for the window tests: every engine the windows make is a fake.
#define TARQUEL_FAKE_AUDIO_TEST_MAIN(TestObject)                            \
    int main(int argc, char *argv[])                                        \
    {                                                                       \
        QApplication app(argc, argv);                                       \
        app.setAttribute(Qt::AA_Use96Dpi, true);                            \
        forgetRememberedSettings();                                         \
        replaceAudioEngineMaker([] { return new FakeAudioEngine; });        \
        TestObject tc;                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                          \
        return QTest::qExec(&tc, argc, argv);                               \
    }

#endif // FAKEAUDIOENGINE_H
