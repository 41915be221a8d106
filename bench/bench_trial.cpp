// Preparing one trial in the main window, offscreen: loading the next file,
// the waveform, the spectrum and the trend, the file name, and the charts
// painted once. Measured for the default sound (10000 samples at 40000 Hz,
// the example stimuli) and for 5 s at 44.1 kHz (220500 samples), whole and
// step by step, so that the part that dominates shows.
//
// Target for the whole trial at 10000 samples: at most 8 ms (aim 3 ms).

#include "app/MainWindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>

#include <cmath>
#include <memory>

// MainWindow lets its tester reach the members; the benchmark is one.
class MainWindowTester
{
public:
    explicit MainWindowTester(const QString &folder)
    {
        window.chooseSoundFolder = [folder](const QString &) { return folder; };
        window.selectSoundFolder();
        window.chooseSoundFolder = nullptr;
        // Every file in turn, many times over.
        for (int i = 0; i < 1000 * window.numSoundFiles; ++i)
            window.trialOrder.append(i % window.numSoundFiles);
        for (QtCharts::QChartView *view : {window.waveformChartView, window.spectrumChartView,
                                           window.trendChartView})
            view->viewport()->installEventFilter(&paintCounter);
        window.show();
        QApplication::processEvents();
        startSession();
    }

    int soundFiles() const { return window.numSoundFiles; }
    int samples() const { return window.samples.size(); }

    // What the session start does once the first trial is chosen.
    void startSession()
    {
        window.trialCounter = 0;
        window.loadTrialSound();
        window.updateWaveformChart();
        window.computeSpectrum();
        window.updateSpectrumChart();
        window.updateTrendChart();
        window.showSoundFileName();
        paint();
    }

    // What an answer leads to: the trend, then the next trial's sound.
    void nextTrial()
    {
        advance();
        window.updateTrendChart();
        window.loadTrialSound();
        window.updateWaveformChart();
        window.computeSpectrum();
        window.updateSpectrumChart();
        window.showSoundFileName();
    }

    void advance()
    {
        if (++window.trialCounter >= window.trialOrder.size())
            window.trialCounter = 1;
    }

    void load() { window.loadTrialSound(); }
    void waveform() { window.updateWaveformChart(); }
    void spectrum() { window.computeSpectrum(); }
    void spectrumChart() { window.updateSpectrumChart(); }

    // What the event loop does next: the chart scenes take in their changes
    // and the three views repaint, once. Returns the number of views painted.
    int paint()
    {
        const int before = paintCounter.paints;
        QApplication::processEvents();
        return paintCounter.paints - before;
    }

private:
    struct PaintCounter : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
        int paints = 0;
    };

    MainWindow window;
    PaintCounter paintCounter;
};

namespace {

// Writes a 16-bit mono PCM file: a 180 Hz sawtooth gliding up or down, so
// that files differ and the waveform is not trivial to draw.
bool writeGlide(const QString &path, quint32 rate, int frames, bool rising)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 bytes = quint32(frames) * 2;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << rate * 2 << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << bytes;
    double phase = 0.0;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / frames;
        phase += (rising ? 140.0 + 85.0 * t : 225.0 - 85.0 * t) / rate;
        out << qint16(std::lround(8000.0 * (2.0 * (phase - std::floor(phase)) - 1.0)));
    }
    return out.status() == QDataStream::Ok;
}

// One window per kind of stimulus, made once: building a window and its
// charts is not part of a trial.
MainWindowTester &examplesWindow()
{
    static MainWindowTester tester(QStringLiteral(TARQUEL_SOURCE_DIR "/examples"));
    return tester;
}

MainWindowTester &longSoundWindow()
{
    static QTemporaryDir folder;
    static std::unique_ptr<MainWindowTester> tester;
    if (!tester) {
        const int frames = 5 * 44100;
        if (!writeGlide(folder.filePath("a-rise.wav"), 44100, frames, true)
            || !writeGlide(folder.filePath("b-fall.wav"), 44100, frames, false))
            qFatal("cannot write the 5 s stimuli");
        tester = std::make_unique<MainWindowTester>(folder.path());
    }
    return *tester;
}

MainWindowTester &windowFor(const benchmark::State &state)
{
    return state.range(0) == 0 ? examplesWindow() : longSoundWindow();
}

void label(benchmark::State &state, MainWindowTester &tester)
{
    state.SetLabel(std::to_string(tester.samples()) + " samples");
}

// The whole trial: data, then one paint of the three charts.
void BM_Trial(benchmark::State &state)
{
    MainWindowTester &tester = windowFor(state);
    for (auto _ : state) {
        tester.nextTrial();
        if (tester.paint() != 3) {
            state.SkipWithError("the three charts were not painted");
            break;
        }
    }
    label(state, tester);
}

// The parts of a trial, without painting.
void BM_LoadTrialSound(benchmark::State &state)
{
    MainWindowTester &tester = windowFor(state);
    for (auto _ : state) {
        tester.advance();
        tester.load();
    }
    label(state, tester);
}

void BM_ComputeSpectrum(benchmark::State &state)
{
    MainWindowTester &tester = windowFor(state);
    for (auto _ : state)
        tester.spectrum();
    label(state, tester);
}

void BM_UpdateWaveformChart(benchmark::State &state)
{
    MainWindowTester &tester = windowFor(state);
    for (auto _ : state)
        tester.waveform();
    tester.paint();
    label(state, tester);
}

void BM_UpdateSpectrumChart(benchmark::State &state)
{
    MainWindowTester &tester = windowFor(state);
    for (auto _ : state)
        tester.spectrumChart();
    tester.paint();
    label(state, tester);
}

// Painting the waveform and spectrum charts after their data changed.
void BM_PaintCharts(benchmark::State &state)
{
    MainWindowTester &tester = windowFor(state);
    for (auto _ : state) {
        state.PauseTiming();
        tester.waveform();
        tester.spectrumChart();
        state.ResumeTiming();
        tester.paint();
    }
    label(state, tester);
}

// range(0): 0 = the examples (10000 samples at 40 kHz), 1 = 5 s at 44.1 kHz.
#define TRIAL_BENCHMARK(name) BENCHMARK(name)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
TRIAL_BENCHMARK(BM_Trial);
TRIAL_BENCHMARK(BM_LoadTrialSound);
TRIAL_BENCHMARK(BM_ComputeSpectrum);
TRIAL_BENCHMARK(BM_UpdateWaveformChart);
TRIAL_BENCHMARK(BM_UpdateSpectrumChart);
TRIAL_BENCHMARK(BM_PaintCharts);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
