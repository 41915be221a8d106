#include "TestSupport.h"

#include "audio/AudioEngine.h"
#include "audio/AudioEngineFactory.h"
#include "loopback/InputRecorder.h"
#include "loopback/TimingCheck.h"

#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The loop-back check against the private audio server of the test script:
// its null sink's monitor records what the engine plays without a cable.
class TimingCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void inputsAreListedWithTheOutputsMonitor();
    void checkThroughTheMonitor();
    void inputThatIsNotThereIsRefused();

private:
    AudioInputDescription monitorOfDefaultOutput(QString *output = nullptr);
};

void TimingCheckTest::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the private audio server of scripts/with-audio-server.sh");
}

AudioInputDescription TimingCheckTest::monitorOfDefaultOutput(QString *output)
{
    QString defaultOutput;
    const QVector<AudioInputDescription> inputs = InputRecorder::inputDevices(&defaultOutput);
    if (output)
        *output = defaultOutput;
    for (const AudioInputDescription &input : inputs) {
        if (!defaultOutput.isEmpty() && input.monitorOf == defaultOutput)
            return input;
    }
    return {};
}

// The server's inputs include every output's monitor, by name; a computer
// without a line input is offered the output's monitor.
void TimingCheckTest::inputsAreListedWithTheOutputsMonitor()
{
    QString defaultOutput;
    const QVector<AudioInputDescription> inputs = InputRecorder::inputDevices(&defaultOutput);
    QVERIFY(!defaultOutput.isEmpty());
    QCOMPARE(InputRecorder::defaultOutput(), defaultOutput);
    const AudioInputDescription monitor = monitorOfDefaultOutput();
    QVERIFY2(monitor.isMonitor(), qPrintable(defaultOutput));
    QVERIFY(monitor.rateHz > 0 && !monitor.description.isEmpty());
    QCOMPARE(proposedTimingCheckInput(inputs, defaultOutput, QString()), monitor.name);
}

// Fifty clicks through the engine, recorded from the monitor: every one is
// found (but one the engine says may not have been played whole). The monitor records each click when the server renders it, ahead of
// the output device by the sink's latency, so the mean lies between minus
// that latency (and a block of the server's, 43 ms at most) and a little
// above 0, which is where the engine places the onset.
void TimingCheckTest::checkThroughTheMonitor()
{
    QString output;
    const AudioInputDescription monitor = monitorOfDefaultOutput(&output);
    QVERIFY(monitor.isMonitor());
    QString note;
    std::unique_ptr<AudioEngine> engine(createAudioEngine(&note));
    QString error;
    const int rate = qEnvironmentVariableIntValue("TARQUEL_TEST_STIMULUS_RATE") > 0
                         ? qEnvironmentVariableIntValue("TARQUEL_TEST_STIMULUS_RATE")
                         : 40000;
    QVERIFY2(engine->open(rate, QString(), &error), qPrintable(error));
    engine->setIdle(true);

    TimingCheck check(engine.get());
    // On a busy computer a click may reach the server too late to be played
    // whole; the engine says so, and the check leaves it out.
    QSet<quint64> lost;
    connect(engine.get(), &AudioEngine::soundStartMaybeLost, this, [&](quint64 id, qint64) { lost.insert(id); });
    connect(engine.get(), &AudioEngine::soundPartMaybeLost, this,
            [&](quint64 id, qint64, qint64) { lost.insert(id); });
    QSignalSpy finished(&check, &TimingCheck::finished);
    QSignalSpy failed(&check, &TimingCheck::failed);
    QSignalSpy progress(&check, &TimingCheck::progress);
    QVERIFY2(check.start(monitor, &error), qPrintable(error));
    QVERIFY(check.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() || !failed.isEmpty(), 60000);
    QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
    QVERIFY(!check.isRunning());
    QCOMPARE(progress.size(), 50);
    TimingCheckResult result = finished.first().first().value<TimingCheckResult>();
    result.output = output;
    qInfo("%s: %s", qPrintable(note), qPrintable(timingCheckLogText(result)));
    QCOMPARE(result.played, 50);
    QCOMPARE(result.found, 50 - lost.size());
    QVERIFY(result.throughMonitor);
    QCOMPARE(result.input, monitor.name);
    QVERIFY(result.time.isValid());
    QVERIFY(result.minMs <= result.meanMs && result.meanMs <= result.maxMs);
    QVERIFY2(result.meanMs >= -result.sinkLatencyMs - 45.0 && result.meanMs <= 2.0,
             qPrintable(timingCheckLogText(result)));
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(result.sdMs <= 0.1, qPrintable(timingCheckLogText(result)));
#endif
}

void TimingCheckTest::inputThatIsNotThereIsRefused()
{
    std::unique_ptr<AudioEngine> engine(createAudioEngine());
    QString error;
    QVERIFY2(engine->open(40000, QString(), &error), qPrintable(error));
    TimingCheck check(engine.get());
    AudioInputDescription missing;
    missing.name = QStringLiteral("no_such_input.monitor");
    QVERIFY(!check.start(missing, &error));
    QCOMPARE(error, QStringLiteral("the input no_such_input.monitor is not connected"));
    QVERIFY(!check.isRunning());
}

TARQUEL_AUDIO_TEST_MAIN(TimingCheckTest)
#include "tst_timingcheck.moc"
