// Measuring run of answer timing, from real input to the sound the audio
// server plays:
//
//   scripts/measure-answer-timing.sh [runs per input]
//
// Runs practice sessions (five 60 ms sounds, 3 repetitions, a 300 ms silent
// interval) in the real program on an X display, answered through the X
// server with XTEST from a thread of its own, as a listener would: a press
// 150 to 350 ms after the answer buttons came on, held 60 to 140 ms, and the
// GUI thread kept busy for 20 ms at every third press (as drawing the charts
// can). First with the mouse, then with the keys 2 and 4. A pipe sink records
// the server's mix, which gives each sound's true onset and end.
//
// For each input it prints, in ms (mean, SD, min, max):
//   (a) the journal's reaction time - (press - true end of the sound);
//       the parts: the press's stamp - the press, and the engine's
//       estimated end - the true end (the engine's share);
//   (b) the next sound's true onset - (answer + its duration + the interval),
//       the answer being the click's release or the key's press; the parts:
//       the answer's stamp - the answer, and the true onset - the onset the
//       program asked for (the engine's share).
// The press and release are the moments XTEST's requests left this program.
// TARQUEL_TEST_SINK_RATE sets the recording sink's rate; where it is not the
// sounds' 40 kHz (a PipeWire graph at 48 kHz only), the server resamples and
// each sound is found in the recording by cross-correlation.

#include "../tests/SinkCapture.h"
#include "../tests/SoundFinder.h"
#include "../tests/TestSupport.h"
#include "../tests/XTestInput.h"

#include "app/MainWindow.h"
#include "experiment/TrialPlayer.h"
#include "input/AnswerKeys.h"
#include "subject/SubjectWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>

namespace {

constexpr qint64 ms = 1'000'000;   // nanoseconds
constexpr int rateHz = 40000;
constexpr int soundFrames = 2400;  // 60 ms
constexpr double intervalMs = 300.0;
int sinkRate = rateHz;                    // the recording's rate
std::vector<std::vector<float>> soundSamples;   // each file's, full scale 1.0

void report(const char *label, const std::vector<double> &values)
{
    if (values.empty())
        return;
    double mean = 0, sd = 0;
    for (double v : values)
        mean += v;
    mean /= double(values.size());
    for (double v : values)
        sd += (v - mean) * (v - mean);
    sd = std::sqrt(sd / double(values.size()));
    std::printf("  %-58s mean %8.3f  sd %6.3f  min %8.3f  max %8.3f  (n %d)\n", label, mean, sd,
                *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()),
                int(values.size()));
}

void busyUntil(qint64 ns)
{
    while (XTestInput::nowNs() < ns) {
    }
}

} // namespace

class MainWindowTester
{
public:
    struct Figures
    {
        std::vector<double> reaction, pressStamp, endEstimate, onset, answerStamp, onsetRequest;
        int trials = 0, stamped = 0;
    };

    static bool makeFolder(const QString &folder)
    {
        if (!QDir().mkpath(folder))
            return false;
        for (int f = 0; f < 5; ++f) {
            // No sample is zero, so that each sound is one run of non-zero
            // samples in the recording.
            QVector<qint16> frames(soundFrames);
            std::vector<float> samples(soundFrames);
            for (int i = 0; i < soundFrames; ++i) {
                const auto v = qint16(std::lround(6000 * std::sin(2 * M_PI * (300.0 + 170 * f) * i / rateHz)));
                frames[i] = v == 0 ? qint16(f + 1) : v;
                samples[size_t(i)] = float(frames[i]) / 32768.0f;
            }
            soundSamples.push_back(std::move(samples));
            if (!writeWav16(QDir(folder).filePath(QStringLiteral("s%1.wav").arg(f + 1)), frames, rateHz))
                return false;
        }
        return true;
    }

    // One practice run answered through XTEST; adds its figures.
    static bool run(const QString &folder, const QString &journals, bool byKey, SinkCapture &capture, XTestInput &x,
                    std::mt19937 &random, Figures &figures)
    {
        MainWindow w;
        w.show();
        ModalDriver driver;
        w.trialJournalFolder = journals;
        driver.chooseFolder(folder);
        w.on_pushButtonPractice_clicked();
        w.lineEditSilentInterval->setText(QString::number(intervalMs));
        w.checkBoxSaveData->setChecked(false);
        w.on_pushButtonGo_clicked();
        SubjectWindow *subject = w.subjectWindow;
        if (!subject || !QTest::qWaitForWindowActive(subject))
            return false;
        QPushButton *tone[2] = {buttonWithText(subject, QStringLiteral("Tone 2")),
                                buttonWithText(subject, QStringLiteral("Tone 4"))};
        const qint64 captureStart = capture.size();

        const int trials = w.trialOrder.size();
        std::vector<qint64> pressNs(static_cast<size_t>(trials)), releaseNs(static_cast<size_t>(trials));
        std::vector<qint64> requestedNs, endEstimateNs;
        std::uniform_int_distribution<int> reactionMs(150, 350), holdMs(60, 140), choice(0, 1);
        std::thread sender;
        std::atomic<bool> stalling{false};
        int answered = 0;
        QObject context;
        QObject::connect(&w, &MainWindow::soundPlaying, &context, [&](int index) {
            if (index == 1) {
                requestedNs.push_back(w.scheduledOnsetNs);
                return;
            }
            endEstimateNs.push_back(w.trialPlayer->timing().endNs);
            if (sender.joinable())
                sender.join();
            const int k = answered++;
            const int which = choice(random);
            const QPoint target = tone[which]->mapToGlobal(tone[which]->rect().center());
            const qint64 pressAt = XTestInput::nowNs() + reactionMs(random) * ms;
            const qint64 hold = holdMs(random) * ms;
            const bool stall = k % 3 == 2;
            stalling = false;
            sender = std::thread([&, k, which, target, pressAt, hold, stall] {
                const unsigned keycode = which == 0 ? AnswerKeycodes::mainRow2 : AnswerKeycodes::mainRow4;
                if (!byKey)
                    x.moveTo(target.x(), target.y());
                if (stall) {
                    // The GUI thread is busy from 5 ms before the press to 15 ms after.
                    XTestInput::sleepUntil(pressAt - 5 * ms);
                    QMetaObject::invokeMethod(qApp, [&] {
                        stalling = true;
                        busyUntil(XTestInput::nowNs() + 20 * ms);
                    }, Qt::QueuedConnection);
                    while (!stalling) {
                    }
                    XTestInput::sleepUntil(XTestInput::nowNs() + 5 * ms);
                } else {
                    XTestInput::sleepUntil(pressAt);
                }
                pressNs[size_t(k)] = byKey ? x.key(keycode, true) : x.button(1, true);
                XTestInput::sleepUntil(pressNs[size_t(k)] + hold);
                releaseNs[size_t(k)] = byKey ? x.key(keycode, false) : x.button(1, false);
            });
        });
        QEventLoop loop;
        QObject::connect(&w, &MainWindow::doneDataCollection, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000 + trials * 2000, &loop, &QEventLoop::quit);
        QTest::mouseClick(buttonWithText(subject, QStringLiteral("I am ready")), Qt::LeftButton);
        loop.exec();
        if (sender.joinable())
            sender.join();
        QTest::qWait(400);   // the last sound reaches the recording
        if (answered != trials || int(requestedNs.size()) != trials) {
            std::fprintf(stderr, "the run stopped after %d of %d answers\n", answered, trials);
            return false;
        }

        // The journal's rows, in order.
        const QString journalText = QString::fromUtf8(readAll(w.trialJournal.filePath()));
        std::vector<double> reactionMsJournal;
        for (const QString &line : journalText.split(QLatin1Char('\n'))) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            if (!line.startsWith(QLatin1Char('#')) && fields.size() >= 12 && fields[0] != QLatin1String("trial"))
                reactionMsJournal.push_back(fields[3].toDouble());
        }
        const std::vector<float> recorded = capture.samples();
        // Each sound's onset and end in the recording, as capture indices
        // between samples.
        std::vector<std::pair<double, double>> sounds;
        if (sinkRate == rateHz) {
            for (const auto &run : SinkCapture::nonZeroRuns(recorded, captureStart))
                sounds.emplace_back(double(run.first), double(run.second));
        } else {
            const auto regions = SoundFinder::soundRegions(recorded, captureStart, 1e-4f, sinkRate / 500);
            for (size_t k = 0; k < regions.size() && int(k) < w.trialOrder.size(); ++k) {
                const SoundFinder::Found found =
                    SoundFinder::locate(recorded, soundSamples[size_t(w.trialOrder[int(k)])], rateHz, sinkRate,
                                        regions[k].first + 16, 64);
                if (found.correlation < 0.999) {
                    std::fprintf(stderr, "trial %d: the sound matches its file only to %.4f\n", int(k) + 1,
                                 found.correlation);
                    return false;
                }
                sounds.emplace_back(found.onsetIndex, found.endIndex);
            }
        }
        if (int(sounds.size()) != trials || int(reactionMsJournal.size()) != trials) {
            std::fprintf(stderr, "%d sounds recorded, %d journal rows, for %d trials\n", int(sounds.size()),
                         int(reactionMsJournal.size()), trials);
            return false;
        }
        for (int k = 0; k < trials; ++k) {
            const qint64 trueEnd = capture.renderTimeNs(sounds[size_t(k)].second);
            const double pressFromEndMs = double(pressNs[size_t(k)] - trueEnd) / 1e6;
            figures.reaction.push_back(reactionMsJournal[size_t(k)] - pressFromEndMs);
            const qint64 stampNs = endEstimateNs[size_t(k)] + qint64(std::llround(reactionMsJournal[size_t(k)] * 1e6));
            figures.pressStamp.push_back(double(stampNs - pressNs[size_t(k)]) / 1e6);
            figures.endEstimate.push_back(double(endEstimateNs[size_t(k)] - trueEnd) / 1e6);
            if (k + 1 == trials)
                continue;
            const qint64 answerNs = byKey ? pressNs[size_t(k)] : releaseNs[size_t(k)];
            const qint64 trueOnset = capture.renderTimeNs(sounds[size_t(k) + 1].first);
            const double durationMs = double(soundFrames) * 1000.0 / rateHz;
            figures.onset.push_back(double(trueOnset - answerNs) / 1e6 - (durationMs + intervalMs));
            const qint64 requested = requestedNs[size_t(k) + 1];
            figures.answerStamp.push_back(double(requested - answerNs) / 1e6 - (durationMs + intervalMs));
            figures.onsetRequest.push_back(double(trueOnset - requested) / 1e6);
        }
        figures.trials += trials;
        figures.stamped += trials - int(journalText.count(QStringLiteral(": answer timed ")));
        for (const QString &line : journalText.split(QLatin1Char('\n'))) {
            if (line.contains(QStringLiteral(": answer timed ")))
                std::printf("  %s\n", qPrintable(line));
        }
        std::printf("  run: %d trials, answer times: %s; %d stretch(es) of recording\n", trials,
                    qPrintable(inputTimeSourceName(subject->answerTimeSource())), capture.stretchCount());
        driver.answerMessage(QMessageBox::Yes);
        subject->close();
        return true;
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int runs = std::max(1, app.arguments().value(1, QStringLiteral("2")).toInt());
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "needs an X display (QT_QPA_PLATFORM=xcb)\n");
        return 1;
    }
    XTestInput x;
    if (!x.open()) {
        std::fprintf(stderr, "the X server has no XTEST extension\n");
        return 1;
    }
    QTemporaryDir dir;
    SinkCapture capture;
    if (qEnvironmentVariableIsSet("TARQUEL_TEST_SINK_RATE"))
        sinkRate = qEnvironmentVariableIntValue("TARQUEL_TEST_SINK_RATE");
    if (!capture.start(dir.filePath(QStringLiteral("capture.fifo")), sinkRate)) {
        std::fprintf(stderr, "no pipe sink on the audio server (PULSE_SERVER)\n");
        return 1;
    }
    const QString folder = dir.filePath(QStringLiteral("sounds"));
    if (!MainWindowTester::makeFolder(folder))
        return 1;
    std::mt19937 random(7);
    int status = 0;
    for (const bool byKey : {false, true}) {
        std::printf("%s (%d practice runs):\n", byKey ? "keys 2 and 4" : "mouse", runs);
        MainWindowTester::Figures figures;
        for (int r = 0; r < runs; ++r) {
            if (!MainWindowTester::run(folder, dir.filePath(QStringLiteral("sessions")), byKey, capture, x, random,
                                       figures))
                status = 1;
        }
        std::printf("  %d answers, %d timed by the journal's source\n", figures.trials, figures.stamped);
        report("(a) journal reaction time - (press - true end)", figures.reaction);
        report("    press's stamp - press", figures.pressStamp);
        report("    estimated end - true end (the engine's share)", figures.endEstimate);
        report("(b) next true onset - (answer + duration + interval)", figures.onset);
        report("    answer's stamp - answer", figures.answerStamp);
        report("    true onset - requested onset (the engine's share)", figures.onsetRequest);
    }
    capture.stop();
    std::fflush(stdout);
    return finishWithoutTeardown(status);
}
