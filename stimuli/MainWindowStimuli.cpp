// Stimuli: the sound-file folder, the loading of each trial's sound, its
// amplitude spectrum and the data of the three charts. The arithmetic lives in
// SoundFolder, TrialSound and Spectrum; these members read the window's state,
// call it and show the result.

#include "app/MainWindow.h"

#include "app/SessionText.h"
#include "stimuli/SoundFolder.h"
#include "stimuli/Spectrum.h"
#include "stimuli/TrialSound.h"
#include "app/IdentificationCurveOverlay.h"
#include "app/NoticeArea.h"
#include "audio/AudioEngine.h"
#include "experiment/TrialPlayer.h"

#include <QDebug>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// Device pixels across the plot area of a chart: from its layout while it is
// shown, otherwise from the screen, which no plot is wider than.
int plotColumns(const QtCharts::QChart *chart, const QWidget *view)
{
    double width = view->isVisible() ? chart->plotArea().width() : 0.0;
    if (width < 1.0) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        width = screen ? screen->availableGeometry().width() : 1920.0;
    }
    return static_cast<int>(std::ceil(width * view->devicePixelRatioF()));
}

} // namespace

void MainWindow::selectSoundFolder()
{
    settings.soundFiles.clear();
    for (;;) {
        settings.folderDialogDir = existingFolderOr(remembered.stimulusFolder, desktopFolder());
        const QString folder = chooseSoundFolder
            ? chooseSoundFolder(settings.folderDialogDir)
            : QFileDialog::getExistingDirectory(this, QStringLiteral("Select a folder"),
                                                settings.folderDialogDir, QFileDialog::ReadOnly);
        // A cancelled dialog chooses no folder; the session start ends here.
        if (folder.isEmpty())
            break;

        const QStringList names = listWavFileNames(folder);
        if (names.isEmpty()) {
            const auto answer = QMessageBox::question(
                this, QStringLiteral("Question"),
                QStringLiteral("This folder contains no .wav files.\nDo you want to select another folder?"),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
            if (answer == QMessageBox::Yes)
                continue;
            break;
        }

        // Every file is read once now, so that a session never starts on a
        // folder that would fail in the middle of a run.
        const SoundFolderCheck check = checkSoundFiles(folder, names, quint32(trialPlayer->engine()->maximumRateHz()),
                                                       stimulusMemoryBudget());
        if (!check.usable()) {
            const FolderWarning warning = describeUnusableFolder(folder, check);
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), warning.text,
                            QMessageBox::Yes | QMessageBox::No, this);
            box.setDefaultButton(QMessageBox::Yes);
            if (!warning.details.isEmpty())
                box.setDetailedText(warning.details);
            if (box.exec() == QMessageBox::Yes)
                continue;
            break;
        }

        settings.wavPath = folder;
        remembered.stimulusFolder = folder;
        saveRememberedSettings(remembered);
        for (int i = 0; i < names.size(); ++i) {
            SoundFileRecord record;
            record.folder = folder;
            record.fileName = names[i];
            record.framesWhenChecked = check.frames.value(i);
            record.rmsDbfs = check.rmsDbfs.value(i);
            settings.soundFiles.append(record);
        }
        // The stimuli are played and analysed at the rate they were recorded
        // at: the time axis, the spectrum and the playback format follow it,
        // and so does the panel, from which the rate is read back at "Go".
        settings.samplingRate = check.sampleRate;
        lineEditSamplingRate->setText(formatSamplingRate(settings.samplingRate));
        // Said now, while the experimenter can still see to it, rather than
        // at "Go".
        openAudioOutput();
        break;
    }
    numSoundFiles = settings.soundFiles.size();
}

void MainWindow::loadTrialSound()
{
    currentSoundIndex = trialOrder[trialCounter];
    SoundFileRecord &record = settings.soundFiles[currentSoundIndex];
    settings.wavPath = record.folder;
    settings.wavFileName = record.fileName;
    currentWavFilePath = settings.wavPath + QLatin1Char('/') + settings.wavFileName;

    const bool readOk = wavFile.read(fileSystemPath(currentWavFilePath));
    // Why a read failed is judged afresh: this reader has read other files.
    QString problem = readOk ? stimulusProblem(wavFile, true) : unreadableFileReason(currentWavFilePath);
    // The session plays at the rate the folder was checked at; a file that
    // has another now has changed since.
    if (problem.isEmpty() && wavFile.sampleRate != quint32(settings.samplingRate)) {
        problem = QStringLiteral("now has a sampling rate of %1 Hz, not the session's %2 Hz")
                      .arg(wavFile.sampleRate)
                      .arg(settings.samplingRate);
    }
    trialSoundProblem.clear();
    if (problem.isEmpty() && extractFirstChannel(wavFile, samples)) {
        settings.numSamples = samples.size();
        settings.soundDuration = double(settings.numSamples) / wavFile.sampleRate;
    } else {
        // The folder passed its check at session start, so the file changed
        // since. The trial plays silence as long as the file was then, at the
        // session's rate, and its answer is not counted.
        qWarning().noquote() << "Trial sound unusable, silence instead:" << currentWavFilePath << problem;
        trialSoundProblem = problem.isEmpty() ? QStringLiteral("could not be read") : problem;
        samples.fill(0.0, int(std::max<qint64>(record.framesWhenChecked, 2)));
        settings.numSamples = samples.size();
        settings.soundDuration = settings.numSamples / settings.samplingRate;
        // Told on the main window at once and kept there until the next
        // session: a file on a share that dropped would otherwise play
        // silence for the rest of the run unseen. One line per file, its
        // count growing; the run is not held up.
        ++record.silentTrials;
        noticeArea->addNotice(silentTrialsNotice(record.fileName, trialSoundProblem, record.silentTrials,
                                                 trialCounter + 1),
                              NoticeArea::Level::Problem, QStringLiteral("silence:") + record.fileName);
    }
    lineEditSoundDuration->setText(formatSecondsAsMilliseconds(settings.soundDuration));
    updateDisplaySamples();
    sizeSpectrum();
    // Sized for every file: stimuli of one folder may differ in length.
    fillTimeAxisMs(timeAxisMs, settings.displaySamples, settings.samplingRate);
}

void MainWindow::updateDisplaySamples()
{
    const DisplayExtent extent = displayExtent(settings.displayDuration, settings.samplingRate,
                                               settings.numSamples, settings.showWholeSound);
    settings.displaySamples = extent.samples;
    settings.displayDuration = extent.durationSeconds;
}

void MainWindow::showSoundFileName()
{
    lineEditWavFilePath->setText(settings.wavPath);
    lineEditWavFileName->setText(settings.soundFiles.value(currentSoundIndex).fileName);
}

void MainWindow::sizeSpectrum()
{
    const SpectrumSize size = spectrumSize(settings.numSamples, settings.samplingRate,
                                           settings.spectrumMaxFrequency);
    fftLength = size.fftLength;
    fftDuration = size.fftDuration;
    settings.spectrumPointCount = size.pointCount;
    spectrumFrequencies.resize(fftLength / 2);
    spectrumAmplitudes.resize(fftLength / 2);
    spectrumPoints.resize(settings.spectrumPointCount);
}

void MainWindow::computeSpectrum()
{
    amplitudeSpectrum(samples, fftLength, settings.samplingRate, spectrumFrequencies, spectrumAmplitudes);
    fftDuration = fftLength / settings.samplingRate;
    frequencyResolution = 1.0 / fftDuration;
}

void MainWindow::updateWaveformChart()
{
    updateDisplaySamples();
    // The panel can be read back between loads ("Go"), which re-derives the
    // sample count from the rounded duration; never draw past the loaded sound.
    const int shown = int(std::min<qint64>({settings.displaySamples, samples.size(), timeAxisMs.size()}));
    waveformPoints.resize(std::max(shown, 0));
    for (int i = 0; i < shown; ++i)
        waveformPoints[i] = QPointF(timeAxisMs[i], samples[i]);

    const double spanMs = settings.displaySamples / settings.samplingRate * 1000.0;
    const QPair<double, double> range = minMax(samples);
    waveformRange = {range.first, range.second};
    const QPair<double, double> axis = axisRange(range);

    // Every range change makes the chart recompute the geometry of all the
    // series' points, which costs as much as handing them over: the axes are
    // set while the series is empty.
    waveformSeries->clear();
    waveformAxisX->setRange(0.0, spanMs);
    waveformAxisY->setRange(axis.first, axis.second);
    // A sound has many more samples than the plot has pixel columns (10000
    // on some 600); the series gets the points that can make a difference
    // on screen, so that the chart's geometry and painting stay short.
    QVector<QPointF> drawn;
    pointsToDraw(waveformPoints, 0.0, spanMs, plotColumns(waveformChart, waveformChartView), drawn);
    waveformSeries->replace(drawn);
}

void MainWindow::updateSpectrumChart()
{
    const int shown = int(std::min<qint64>(settings.spectrumPointCount, spectrumAmplitudes.size()));
    spectrumPoints.resize(shown);
    for (int k = 0; k < shown; ++k)
        spectrumPoints[k] = QPointF(spectrumFrequencies[k], spectrumAmplitudes[k]);

    // The y axis covers every bin, also those above the drawn frequencies. It
    // is set while the series is empty, as for the waveform.
    const QPair<double, double> range = minMax(spectrumAmplitudes);
    spectrumRange = {range.first, range.second};
    const QPair<double, double> axis = axisRange(range);
    spectrumSeries->clear();
    spectrumAxisY->setRange(axis.first, axis.second);
    // 819 bins for the default sound, but a long one has more than the plot
    // has pixel columns (11888 for 5 s at 44.1 kHz).
    QVector<QPointF> drawn;
    pointsToDraw(spectrumPoints, 0.0, settings.spectrumMaxFrequency, plotColumns(spectrumChart, spectrumChartView),
                 drawn);
    spectrumSeries->replace(drawn);
}

void MainWindow::updateTrendChart()
{
    if (trialCounter == 0 && numSoundFiles > 0) {
        // Each file stands at its number: from its name where the names give
        // one (step1, step10, step11, step2 ... at 1, 10, 11, 2 ...), its
        // place in the listing otherwise.
        SoundFileNumbers numbering = soundFileNumbering();
        if (numbering.values.size() != numSoundFiles)
            numbering = listingOrderNumbers(numSoundFiles);
        trendFileNumbers = numbering.values;
        trendCounts.fill(0.0, numSoundFiles);
        trendPoints.resize(numSoundFiles);
        for (int i = 0; i < numSoundFiles; ++i)
            trendPoints[i] = QPointF(trendFileNumbers[i], 0.0);
        const auto [lowest, highest] = std::minmax_element(trendFileNumbers.begin(), trendFileNumbers.end());
        // One file gives the range 1 to 1, which an axis cannot show: it is
        // widened to 0 to 2 with a tick at each whole number.
        const QPair<double, double> axis = axisRange({*lowest, *highest});
        trendAxisX->setRange(axis.first, axis.second);
        trendAxisX->setLabelFormat(QStringLiteral("%g"));
        // A tick at every file where the files are evenly spaced and not too
        // many to label; otherwise at even divisions of the span.
        QVector<double> sorted = trendFileNumbers;
        std::sort(sorted.begin(), sorted.end());
        bool even = true;
        for (int i = 2; i < sorted.size(); ++i) {
            const double step = sorted[1] - sorted[0];
            even = even && std::abs((sorted[i] - sorted[i - 1]) - step) <= 1e-9 * std::max(1.0, std::abs(step));
        }
        const int ticks = numSoundFiles <= 1 ? 3 : !numbering.fromNames || (even && numSoundFiles <= 21) ? numSoundFiles : 6;
        trendAxisX->setTickCount(ticks);
    }
    // The points in the order of their numbers, so that the line joins
    // neighbouring files.
    QVector<QPointF> drawn = trendPoints;
    std::stable_sort(drawn.begin(), drawn.end(), [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    trendSeries->replace(drawn);
    double top = trendAxisTop(trendCounts);

    // The listener's identification curve, refitted after every answer, as
    // expected counts: P("Tone 2") times each file's own number of counted
    // answers, on the scale of the points under it.
    if (runAnswers.isEmpty() || numSoundFiles <= 0 || trendFileNumbers.size() != numSoundFiles) {
        identificationCurve->clear();
    } else {
        const QVector<FileSummary> files = runFileSummaries();
        QVector<QPointF> counted;
        for (const FileSummary &file : files)
            counted.append(QPointF(file.number, file.n));
        const auto [lowest, highest] = std::minmax_element(trendFileNumbers.begin(), trendFileNumbers.end());
        top = std::max(top, std::ceil(identificationCurve->show(fitLogistic(binomialRows(files)), counted, *lowest,
                                                                *highest)));
    }
    trendRange = {0.0, top};
    trendAxisY->setRange(trendRange[0], trendRange[1]);
}
