// Measuring run: the largest stimulus the folder check accepts, loaded,
// drawn and analysed as a trial is. Prints the time of each step and the
// process's peak memory.
//
//   build/bench/largest_stimulus FOLDER   (FOLDER holds one WAV file)
//
// The file: a canonical 16-bit mono WAV of 134217726 samples at 768 kHz (a
// 268 MB file), the longest the check takes.

#include "../tests/FakeAudioEngine.h"

#include "app/MainWindow.h"
#include "stimuli/SoundFolder.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

#include <sys/resource.h>

namespace {

double peakMemoryGB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1e6;   // kilobytes on Linux
}

} // namespace

class MainWindowTester
{
public:
    static int run(const QString &folder)
    {
        MainWindow window;
        window.show();
        QElapsedTimer clock;
        const auto step = [&](const char *what) {
            std::printf("%-34s %8.2f s   peak memory %.2f GB\n", what, clock.nsecsElapsed() / 1e9, peakMemoryGB());
            clock.restart();
        };
        window.chooseSoundFolder = [folder](const QString &) { return folder; };
        clock.start();
        window.selectSoundFolder();
        step("folder check (every file read)");
        if (window.numSoundFiles != 1) {
            std::fprintf(stderr, "the folder was not taken\n");
            return 1;
        }
        window.trialOrder = {0};
        window.trialCounter = 0;
        window.loadTrialSound();
        step("load the trial's sound");
        window.updateWaveformChart();
        step("waveform chart");
        window.computeSpectrum();
        step("spectrum (FFT)");
        window.updateSpectrumChart();
        step("spectrum chart");
        std::printf("%d samples, %.1f s at %.0f Hz, FFT length %d\n", window.settings.numSamples,
                    window.settings.numSamples / window.settings.samplingRate, window.settings.samplingRate,
                    window.fftLength);
        return 0;
    }
};

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    forgetRememberedSettings();
    replaceAudioEngineMaker([] { return new FakeAudioEngine; });
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    return MainWindowTester::run(QString::fromLocal8Bit(argv[1]));
}
