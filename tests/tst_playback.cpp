#include "SinkCapture.h"
#include "TestSupport.h"

#include "audio/AudioEngine.h"
#include "audio/AudioEngineFactory.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

// The audio engine chosen by TARQUEL_AUDIO_BACKEND (the test suite runs this
// program once per engine) against the private audio server of the test
// script, with the server's output recorded by a pipe sink.
class AudioEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void soundsPlayWholeAndNeverEarly_data();
    void soundsPlayWholeAndNeverEarly();
    void lateRequestStartsAtOnceAndSaysSo();
    void cancelledSoundsAreNotHeard();
    void refusals();

private:
    struct Played
    {
        QVector<float> samples;
        SoundTiming timing;
    };
    bool startCapture(int rate);
    // An engine open on the capture sink by name: Qt 6's device list learns
    // of a new default output only some time after the server changed it.
    std::unique_ptr<AudioEngine> openOnCapture(int rate);
    void stopCapture();
    Played playAndWait(AudioEngine &engine, const QVector<float> &samples, qint64 onsetNs);
    QVector<QPair<qint64, qint64>> soundsInCapture(qint64 from) const;

    QTemporaryDir dir;
    std::unique_ptr<SinkCapture> capture;
    QString backend;
};

namespace {

// Sound whose every sample is non-zero, so that it stands out from the
// silence around it in the recording as one unbroken run.
QVector<float> tone(int frames, double hz, int rate)
{
    QVector<float> samples(frames);
    for (int i = 0; i < frames; ++i) {
        const float v = float(0.4 * std::sin(2 * M_PI * hz * i / rate));
        samples[i] = v == 0.0f ? 1e-4f : v;
    }
    return samples;
}

} // namespace

void AudioEngineTest::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the private audio server of scripts/with-audio-server.sh");
    QVERIFY(dir.isValid());
    // The engine the factory makes here: the one TARQUEL_AUDIO_BACKEND names,
    // or the one for the server that runs.
    QString note;
    delete createAudioEngine(&note);
    backend = note.startsWith(QLatin1String("libpipewire")) ? QStringLiteral("pipewire")
              : note.startsWith(QLatin1String("libpulse"))  ? QStringLiteral("pulse")
                                                            : QStringLiteral("qt");
    qInfo("engine: %s", qPrintable(note));
}

bool AudioEngineTest::startCapture(int rate)
{
    capture = std::make_unique<SinkCapture>();
    return capture->start(dir.filePath(QStringLiteral("capture-%1.fifo").arg(rate)), rate,
                          QStringLiteral("tarquel_capture_%1").arg(rate));
}

std::unique_ptr<AudioEngine> AudioEngineTest::openOnCapture(int rate)
{
    std::unique_ptr<AudioEngine> engine(createAudioEngine());
    const QString sink = QStringLiteral("tarquel_capture_%1").arg(rate);
    const auto listed = [&] {
        for (const AudioDeviceDescription &device : engine->outputDevices()) {
            if (device.name == sink)
                return true;
        }
        return false;
    };
    QElapsedTimer waited;
    waited.start();
    while (!listed() && waited.elapsed() < 5000)
        QTest::qWait(50);
    QString error;
    if (!engine->open(rate, sink, &error))
        qWarning("cannot open the capture sink %s: %s", qPrintable(sink), qPrintable(error));
    return engine;
}

void AudioEngineTest::stopCapture()
{
    if (capture)
        capture->stop();
    capture.reset();
}

AudioEngineTest::Played AudioEngineTest::playAndWait(AudioEngine &engine, const QVector<float> &samples,
                                                    qint64 onsetNs)
{
    QSignalSpy placed(&engine, &AudioEngine::soundPlaced);
    const quint64 id = engine.play(samples, onsetNs);
    Played played{samples, SoundTiming()};
    if (!placed.wait(5000) && placed.isEmpty())
        return played;
    played.timing = placed.first().first().value<SoundTiming>();
    [&] { QCOMPARE(played.timing.soundId, id); }();
    // Until the sound is over at the device and a little after.
    QTest::qWait(int((played.timing.endNs - monotonicNowNs()) / 1'000'000) + 50);
    [&] { QCOMPARE(placed.size(), 1); }();
    return played;
}

QVector<QPair<qint64, qint64>> AudioEngineTest::soundsInCapture(qint64 from) const
{
    QVector<QPair<qint64, qint64>> runs;
    for (const auto &run : SinkCapture::nonZeroRuns(capture->samples(), from))
        runs.append({run.first, run.second});
    return runs;
}

void AudioEngineTest::soundsPlayWholeAndNeverEarly_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("40000 Hz") << 40000;
    QTest::newRow("44100 Hz") << 44100;
    QTest::newRow("48000 Hz") << 48000;
}

// Sounds of several lengths, due soon (inside what the stream has queued)
// and later: each one reaches the server sample for sample, is placed no
// earlier than asked, and ends its length later.
void AudioEngineTest::soundsPlayWholeAndNeverEarly()
{
    QFETCH(int, rate);
    QVERIFY(startCapture(rate));
    std::unique_ptr<AudioEngine> engine = openOnCapture(rate);
    QVERIFY(engine->isOpen());
    QCOMPARE(engine->rateHz(), rate);
    QTest::qWait(300);
    const qint64 from = capture->size();

    QVector<Played> played;
    const QVector<int> lengths{rate / 100, rate / 10 + 1, 123, rate / 4};
    const QVector<int> leadsMs{40, 400, 60, 250};
    for (int k = 0; k < lengths.size(); ++k)
        played.append(playAndWait(*engine, tone(lengths[k], 300.0 + 100 * k, rate),
                                  monotonicNowNs() + leadsMs[k] * 1'000'000LL));
    const AudioOutputInfo info = engine->outputInfo();
    engine.reset();
    QTest::qWait(100);

    const QVector<QPair<qint64, qint64>> runs = soundsInCapture(from);
    const std::vector<float> recorded = capture->samples();
    stopCapture();
    QCOMPARE(runs.size(), played.size());
    for (int k = 0; k < played.size(); ++k) {
        const Played &p = played[k];
        QCOMPARE(runs[k].second - runs[k].first, qint64(p.samples.size()));
        QVERIFY(std::equal(p.samples.begin(), p.samples.end(), recorded.begin() + runs[k].first));
        QCOMPARE(p.timing.frames, qint64(p.samples.size()));
        QVERIFY(p.timing.onsetNs >= p.timing.requestedOnsetNs);
        QVERIFY(p.timing.endNs > p.timing.onsetNs);
    }
    if (backend != QLatin1String("qt")) {
        QCOMPARE(info.deviceRateHz, double(rate));
        QVERIFY(!info.resampled);
        QCOMPARE(info.volume, QStringLiteral("100 %"));
        for (const Played &p : played) {
            // Placed to the frame, and as long as the sound at the stream's
            // rate (the fitted rate differs from the nominal by parts per
            // million at most).
            QVERIFY(p.timing.onsetErrorNs() <= 1'000'000'000LL / rate + 1);
            const double lengthNs = double(p.samples.size()) * 1e9 / rate;
            QVERIFY(std::abs(double(p.timing.endNs - p.timing.onsetNs) - lengthNs) < lengthNs * 1e-3 + 2);
        }
    }
}

void AudioEngineTest::lateRequestStartsAtOnceAndSaysSo()
{
    QVERIFY(startCapture(40000));
    std::unique_ptr<AudioEngine> engine = openOnCapture(40000);
    QVERIFY(engine->isOpen());
    QTest::qWait(300);
    const qint64 from = capture->size();
    const qint64 askedNs = monotonicNowNs() - 50'000'000;
    const Played p = playAndWait(*engine, tone(2000, 500, 40000), askedNs);
    engine.reset();
    QTest::qWait(100);
    const QVector<QPair<qint64, qint64>> runs = soundsInCapture(from);
    stopCapture();
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().second - runs.first().first, qint64(2000));
    QVERIFY(p.timing.onsetErrorNs() >= 50'000'000);
    QVERIFY(p.timing.onsetNs >= monotonicNowNs() - 5'000'000'000LL);
}

// A sound dropped before its time is never heard: one still waiting for its
// turn, and one already written over the queued silence.
void AudioEngineTest::cancelledSoundsAreNotHeard()
{
    QVERIFY(startCapture(40000));
    std::unique_ptr<AudioEngine> engine = openOnCapture(40000);
    QVERIFY(engine->isOpen());
    QTest::qWait(300);
    const qint64 from = capture->size();
    QSignalSpy placed(engine.get(), &AudioEngine::soundPlaced);
    for (const qint64 leadMs : {400, 60}) {
        engine->play(tone(4000, 700, 40000), monotonicNowNs() + leadMs * 1'000'000);
        QTest::qWait(5);
        engine->cancel();
        QTest::qWait(int(leadMs) + 200);
    }
    engine.reset();
    QVERIFY(soundsInCapture(from).isEmpty());
    stopCapture();
}

void AudioEngineTest::refusals()
{
    std::unique_ptr<AudioEngine> engine(createAudioEngine());
    QString error;
    QVERIFY(!engine->open(engine->maximumRateHz() + 1, QString(), &error));
    QVERIFY2(error.contains(QString::number(engine->maximumRateHz() + 1)), qPrintable(error));
    QVERIFY(!engine->isOpen());
    if (backend == QLatin1String("qt"))
        return;   // Qt's output reads the server's address once per process

    const char *variable = backend == QLatin1String("pulse") ? "PULSE_SERVER" : "PIPEWIRE_REMOTE";
    const QByteArray server = qgetenv(variable);
    qputenv(variable, "/nonexistent/tarquel-no-audio");
    const bool opened = engine->open(40000, QString(), &error);
    if (server.isEmpty())
        qunsetenv(variable);
    else
        qputenv(variable, server);
    QVERIFY(!opened);
    QVERIFY2(error.contains(QStringLiteral("server could be reached")), qPrintable(error));
    QVERIFY(!engine->open(40000, QStringLiteral("no_such_output"), &error));
    QVERIFY2(error.contains(QStringLiteral("no_such_output")), qPrintable(error));
}

TARQUEL_AUDIO_TEST_MAIN(AudioEngineTest)
#include "tst_playback.moc"
