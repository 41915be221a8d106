#include "TestSupport.h"

#include "app/MainWindow.h"
#include "audio/AudioEngineFactory.h"
#include "experiment/TrialOrder.h"
#include "experiment/TrialPlayer.h"
#include "subject/SubjectWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include <signal.h>

namespace {

// A PulseAudio server of this test's own, so that it can be stopped in the
// middle of a run without touching the one the other tests use.
class PrivateServer
{
public:
    bool start(const QString &folder)
    {
        const QString socket = folder + QStringLiteral("/native");
        QDir().mkpath(folder + QStringLiteral("/run"));
        QFile config(folder + QStringLiteral("/default.pa"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                                    "load-module module-null-sink sink_name=doomed format=float32le rate=40000 "
                                    "channels=1\nset-default-sink doomed\n")
                         .arg(socket)
                         .toUtf8());
        config.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), folder + QStringLiteral("/run"));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), folder);
        env.insert(QStringLiteral("HOME"), folder);
        server.setProcessEnvironment(env);
        // Its output goes to its log file; a crash of this test must not leave it
        // holding the test runner's output open.
        server.setStandardOutputFile(QProcess::nullDevice());
        server.setStandardErrorFile(QProcess::nullDevice());
        server.start(QStringLiteral("pulseaudio"),
                     {QStringLiteral("-n"), QStringLiteral("-F"), config.fileName(), QStringLiteral("--daemonize=no"),
                      QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                      QStringLiteral("--log-target=file:") + folder + QStringLiteral("/pulse.log")});
        if (!server.waitForStarted())
            return false;
        address = QStringLiteral("unix:") + socket;
        for (int i = 0; i < 100; ++i) {
            QProcess pactl;
            QProcessEnvironment clientEnv = QProcessEnvironment::systemEnvironment();
            clientEnv.insert(QStringLiteral("PULSE_SERVER"), address);
            pactl.setProcessEnvironment(clientEnv);
            pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (pactl.waitForFinished() && pactl.exitCode() == 0)
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    // The server dies as it would in a crash: no goodbye to its clients.
    void kill()
    {
        ::kill(pid_t(server.processId()), SIGKILL);
        server.waitForFinished();
    }

    QString address;

private:
    QProcess server;
};

} // namespace

// The audio server goes away in the middle of a run: the run stops cleanly
// and says why, and nothing given before is lost.
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void serverGoingAwayStopsTheRun();
    void failureOfAClosedStreamIsForgotten();
};

void MainWindowTester::serverGoingAwayStopsTheRun()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the audio server programs of scripts/with-audio-server.sh");
    if (qEnvironmentVariable("TARQUEL_AUDIO_BACKEND", QStringLiteral("pulse")) != QLatin1String("pulse"))
        QSKIP("Qt's output keeps the server it found first; the libpulse engine is tested here");
    QTemporaryDir dir;
    PrivateServer server;
    QVERIFY(server.start(dir.filePath(QStringLiteral("server"))));
    const QByteArray sharedServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", server.address.toUtf8());

    const QString folder = dir.filePath(QStringLiteral("stimuli"));
    QVERIFY(QDir().mkpath(folder));
    for (int f = 0; f < 2; ++f) {
        QVector<qint16> frames(2000);
        for (int i = 0; i < frames.size(); ++i)
            frames[i] = qint16(std::lround(5000 * std::sin(2 * M_PI * (400.0 + 200 * f) * i / 40000.0)));
        QVERIFY(writeWav16(QDir(folder).filePath(QStringLiteral("s%1.wav").arg(f + 1)), frames, 40000));
    }

    MainWindow w;
    w.show();
    ModalDriver driver;
    w.trialOrderSeedFixed = true;
    w.trialOrderSeed = referenceTrialOrderSeed;
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    w.lineEditOutputFilePath->setText(dir.filePath(QStringLiteral("results")));
    driver.chooseFolder(folder);
    QTest::mouseClick(w.pushButtonPractice, Qt::LeftButton);
    w.lineEditSilentInterval->setText(QStringLiteral("100"));
    w.checkBoxSaveData->setChecked(true);
    QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
    QVERIFY(w.runActive);
    qputenv("PULSE_SERVER", sharedServer);

    // Two trials answered, then the server dies while the third one waits.
    SubjectWindow *subject = w.subjectWindow;
    QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
    for (int k = 0; k < 2; ++k) {
        QPushButton *tone2 = buttonWithText(subject, QStringLiteral("Tone 2"));
        QTRY_VERIFY_WITH_TIMEOUT(tone2->isEnabled() && subject->isEnabled(), 5000);
        QTest::mouseClick(tone2, Qt::LeftButton);
    }
    driver.answerMessage(QMessageBox::Ok);
    const QString journal = w.trialJournal.filePath();
    server.kill();
    QTRY_VERIFY_WITH_TIMEOUT(driver.pending() == 0, 10000);

    QCOMPARE(driver.seen.last().title, QStringLiteral("Warning"));
    const QString text = driver.seen.last().text;
    QVERIFY2(text.startsWith(QStringLiteral("Sound could not be played: ")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("after 2 of 6 trials")), qPrintable(text));
    QVERIFY(text.endsWith(journal));
    QVERIFY(!subject->isVisible());
    QVERIFY(w.isEnabled() && !w.runActive);
    QVERIFY(!QDir(dir.filePath(QStringLiteral("results"))).exists());

    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.last().startsWith(QStringLiteral("# audio output failed after 2 answered trials: ")));
    QVERIFY(lines.at(lines.size() - 2).startsWith(QStringLiteral("2\t")));
}

// The server dies and the engine's notice of it waits in the event queue
// while the program closes the stream and opens another (a new folder, on a
// server that works): the old notice must not stop the new stream.
void MainWindowTester::failureOfAClosedStreamIsForgotten()
{
    if (qEnvironmentVariableIsEmpty("TARQUEL_AUDIO_SERVER"))
        QSKIP("needs the audio server programs of scripts/with-audio-server.sh");
    if (qEnvironmentVariable("TARQUEL_AUDIO_BACKEND", QStringLiteral("pulse")) != QLatin1String("pulse"))
        QSKIP("the libpulse engine is tested here");
    QTemporaryDir dir;
    PrivateServer server;
    QVERIFY(server.start(dir.filePath(QStringLiteral("server"))));
    const QByteArray sharedServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", server.address.toUtf8());
    qputenv("TARQUEL_AUDIO_BACKEND", "pulse");
    std::unique_ptr<AudioEngine> engine(createAudioEngine());
    qunsetenv("TARQUEL_AUDIO_BACKEND");
    QSignalSpy failed(engine.get(), &AudioEngine::failed);
    QString error;
    QVERIFY2(engine->open(40000, QString(), &error), qPrintable(error));

    server.kill();
    QThread::msleep(500);   // the audio thread has seen it; no event is handled meanwhile
    qputenv("PULSE_SERVER", sharedServer);
    QVERIFY2(engine->open(40000, QString(), &error), qPrintable(error));
    QTest::qWait(300);
    QCOMPARE(failed.count(), 0);
    QVERIFY(engine->isOpen());
}

TARQUEL_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_audiofailure.moc"
