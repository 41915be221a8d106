#include "TestSupport.h"

#include "app/MainWindow.h"

#include <QAudioOutput>
#include <QBuffer>
#include <QtTest>

// One sound through the real default output (the private audio server of
// the test script).
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formatAfterConstruction();
    void oneSoundStartsAndEndsOnce();
    void wholeLoadedSoundIsConverted();
};

void MainWindowTester::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the private audio server of scripts/with-audio-server.sh");
}

void MainWindowTester::formatAfterConstruction()
{
    MainWindow w;
    QCOMPARE(w.playbackFormat.sampleRate(), 40000);
    QCOMPARE(w.playbackFormat.channelCount(), 1);
    QCOMPARE(w.playbackFormat.sampleSize(), 32);
    QCOMPARE(w.playbackFormat.codec(), QStringLiteral("audio/pcm"));
    QCOMPARE(w.playbackFormat.byteOrder(), QAudioFormat::LittleEndian);
    QCOMPARE(w.playbackFormat.sampleType(), QAudioFormat::Float);
    QCOMPARE(w.soundsPerTrial, 1);
    QCOMPARE(w.soundsPlayed, 0);
    QVERIFY(w.reactionTimer && !w.reactionTimer->isValid());
    QVERIFY(!w.audioOutput && !w.audioBuffer && !w.audioBytes);
}

void MainWindowTester::oneSoundStartsAndEndsOnce()
{
    MainWindow w;
    w.samples = QVector<double>(10000, 0.25);
    w.settings.numSamples = 10000;
    QSignalSpy playing(&w, &MainWindow::soundPlaying);

    for (int round = 1; round <= 2; ++round) {
        w.soundsPlayed = 0;   // what every message from the listener does
        w.playOneSound();
        QVERIFY(w.audioOutput && w.audioBuffer && w.audioBytes);
        QCOMPARE(w.audioBytes->size(), 40000);
        QCOMPARE(w.audioOutput->format(), w.playbackFormat);
        // A second call before the listener's next message starts nothing.
        QPointer<QAudioOutput> first = w.audioOutput;
        w.playOneSound();
        QCOMPARE(w.audioOutput, first.data());

        QTRY_COMPARE_WITH_TIMEOUT(playing.count(), 2 * round, 5000);
        QCOMPARE(playing.at(2 * round - 2).at(0).toInt(), 1);
        QCOMPARE(playing.at(2 * round - 1).at(0).toInt(), -1);
        QVERIFY(w.reactionTimer->isValid());
        QCOMPARE(w.reactionTimerStarts, round);

        // The output plays out what the server still holds, then all three
        // objects go; the output itself by deferred deletion.
        QTRY_VERIFY_WITH_TIMEOUT(!w.audioOutput, 2000);
        QVERIFY(!w.audioBuffer && !w.audioBytes);
        QTRY_VERIFY(first.isNull());
    }
    QTest::qWait(100);
    QCOMPARE(playing.count(), 4);   // no late or repeated reports
}

void MainWindowTester::wholeLoadedSoundIsConverted()
{
    // The panel's rounded duration (250 ms) would give 10000 samples; the
    // file has 10001 and all of them are played.
    MainWindow w;
    w.samples = QVector<double>(10001, -0.5);
    w.settings.numSamples = 10000;
    w.playOneSound();
    QVERIFY(w.audioBytes);
    QCOMPARE(w.audioBytes->size(), 40004);
    QCOMPARE(w.audioBytes->right(4), QByteArray::fromHex("000000bf"));
    QSignalSpy playing(&w, &MainWindow::soundPlaying);
    QTRY_VERIFY_WITH_TIMEOUT(!w.audioOutput, 5000);
    QCOMPARE(playing.count(), 1);
}

TARQUEL_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_playback.moc"
