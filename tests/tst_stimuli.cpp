// The main window's stimulus members: choosing and checking the folder, the
// boxes that ask the experimenter, loading each trial's sound, and the data
// of the three charts.

#include "FakeAudioEngine.h"
#include "SeriesPoints.h"
#include "app/MainWindow.h"
#include "app/IdentificationCurveOverlay.h"
#include "experiment/TrialPlayer.h"

#include "stimuli/Spectrum.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>
#include <QTimer>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QLabel>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace {

const QString stimuliData = QStringLiteral(TARQUEL_TEST_DATA "/stimuli");
const QString examples = QStringLiteral(TARQUEL_SOURCE_DIR "/examples");

QVector<double> readF64(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QVector<double> values(bytes.size() / int(sizeof(double)));
    std::memcpy(values.data(), bytes.constData(), size_t(values.size()) * sizeof(double));
    return values;
}

// Fills a fresh folder: each name gets a copy of a test file, or the given
// text when the source is not one.
bool makeFolder(const QTemporaryDir &dir, const QList<QPair<QString, QString>> &files)
{
    for (const auto &file : files) {
        const QString target = dir.filePath(file.first);
        if (file.second.endsWith(QLatin1String(".wav"))) {
            if (!QFile::copy(stimuliData + '/' + file.second, target))
                return false;
        } else {
            QFile text(target);
            if (!text.open(QIODevice::WriteOnly) || text.write(file.second.toUtf8()) != file.second.toUtf8().size())
                return false;
        }
    }
    return true;
}

// Whether a series shows all: its points are some of all, in their order,
// from the first to the last, with the lowest and the highest among them.
bool drawnFrom(const QVector<QPointF> &drawn, const QVector<QPointF> &all)
{
    if (drawn.isEmpty() || drawn.first() != all.first() || drawn.last() != all.last())
        return false;
    int next = 0;
    for (const QPointF &point : drawn) {
        while (next < all.size() && all[next] != point)
            ++next;
        if (next++ == all.size())
            return false;
    }
    const auto byY = [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); };
    const auto drawnRange = std::minmax_element(drawn.cbegin(), drawn.cend(), byY);
    const auto allRange = std::minmax_element(all.cbegin(), all.cend(), byY);
    return drawnRange.first->y() == allRange.first->y() && drawnRange.second->y() == allRange.second->y();
}

// Answers the message boxes that appear while the code under test waits in
// exec(), one answer per box, and keeps what each box showed. A box beyond
// the answers is closed with No and still recorded, so that a test fails
// instead of hanging.
class BoxAnswerer
{
public:
    struct Seen
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QString details;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {})
        : answers(std::move(answers))
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start(5);
    }

    QVector<Seen> seen;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == handled)
            return;
        handled = box;
        seen.append({box->icon(), box->windowTitle(), box->text(), box->detailedText(), box->standardButtons(),
                     box->standardButton(box->defaultButton())});
        const QMessageBox::StandardButton answer = answers.isEmpty() ? QMessageBox::No : answers.takeFirst();
        box->button(answer)->click();
    }

    QList<QMessageBox::StandardButton> answers;
    QPointer<QMessageBox> handled;
    QTimer timer;
};

} // namespace

class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void analysisSizesAfterConstruction();
    void folderListingAndQuestionLoop();
    void cancelledDialogListsNothing();
    void folderDialog();
    void unusableFilesAreListedBeforeTheSession();
    void sessionAdoptsTheFolderRate();
    void mixedRatesAreRefused();
    void loadingAndChartsOfTheDefaultSound();
    void eachTrialUsesItsOwnFile();
    void fileBrokenAfterTheCheckPlaysSilence();
    void trendChart();
    void trendChartAtTheFilesNumbers();
    void trendChartFlatListener();

private:
    // Runs selectSoundFolder with the folders the experimenter would choose,
    // one per dialog; returns the start folders the dialogs were given.
    static QStringList selectFolder(MainWindow &window, QStringList folders)
    {
        QStringList startFolders;
        window.chooseSoundFolder = [&folders, &startFolders](const QString &start) {
            startFolders.append(start);
            return folders.isEmpty() ? QString() : folders.takeFirst();
        };
        window.selectSoundFolder();
        window.chooseSoundFolder = nullptr;
        return startFolders;
    }

    static QStringList fileNames(const MainWindow &window)
    {
        QStringList names;
        for (const SoundFileRecord &record : window.settings.soundFiles)
            names.append(record.fileName);
        return names;
    }

    // Loads trial trialCounter of the given order and refreshes everything a
    // trial shows, in the order of a session.
    static void prepareTrial(MainWindow &window, int trial)
    {
        window.trialCounter = trial;
        window.loadTrialSound();
        window.updateWaveformChart();
        window.computeSpectrum();
        window.updateSpectrumChart();
        window.showSoundFileName();
    }
};

void MainWindowTester::analysisSizesAfterConstruction()
{
    MainWindow window;
    QCOMPARE(window.timeAxisMs.size(), 10000);
    QCOMPARE(window.waveformPoints.size(), 10000);
    QCOMPARE(window.spectrumRange.size(), 2);
    QCOMPARE(window.trendRange.size(), 2);
    QCOMPARE(window.fftLength, 16384);
    QCOMPARE(window.fftDuration, 0.4096);
    QCOMPARE(window.settings.spectrumPointCount, 819);
    QCOMPARE(window.spectrumFrequencies.size(), 8192);
    QCOMPARE(window.spectrumAmplitudes.size(), 8192);
    QCOMPARE(window.spectrumPoints.size(), 819);
    // Only a computed spectrum sets the resolution.
    QCOMPARE(window.frequencyResolution, 1.6666666666666667);
}

void MainWindowTester::folderListingAndQuestionLoop()
{
    QTemporaryDir first;
    QTemporaryDir textOnly;
    QTemporaryDir second;
    QVERIFY(makeFolder(first, {{"b.wav", "short-4000.wav"}, {"A.wav", "short-4000.wav"},
                               {"c.WAV", "short-4000.wav"}, {"x.Wav", "short-4000.wav"},
                               {"x.wave", "not listed"}, {"x.wav.bak", "not listed"}}));
    QVERIFY(QDir(first.path()).mkdir("y.wav"));
    QVERIFY(makeFolder(textOnly, {{"notes.txt", "no sound here"}}));
    QVERIFY(makeFolder(second, {{"p.wav", "short-4000.wav"}, {"q.wav", "long-12000.wav"}}));

    forgetRememberedSettings();
    MainWindow window;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    {
        BoxAnswerer boxes;
        QCOMPARE(selectFolder(window, {first.path()}), QStringList{desktop});
        QVERIFY(boxes.seen.isEmpty());
    }
    QCOMPARE(fileNames(window), QStringList({"A.wav", "b.wav", "c.WAV", "x.Wav"}));
    QCOMPARE(window.numSoundFiles, 4);
    QCOMPARE(window.settings.wavPath, first.path());
    for (const SoundFileRecord &record : window.settings.soundFiles) {
        QCOMPARE(record.folder, first.path());
        QCOMPARE(record.nT2, 0);
        QCOMPARE(record.nT4, 0);
        QCOMPARE(record.reactionTimeSum, 0.0);
    }
    window.settings.soundFiles[0].nT2 = 7;

    // A folder without sound files asks; Yes opens the dialog again at the
    // last folder chosen, and the folder then chosen replaces the first
    // one's list.
    {
        BoxAnswerer boxes({QMessageBox::Yes});
        QCOMPARE(selectFolder(window, {textOnly.path(), second.path()}), QStringList({first.path(), first.path()}));
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].icon, QMessageBox::Question);
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Question"));
        QCOMPARE(boxes.seen[0].text,
                 QStringLiteral("This folder contains no .wav files.\nDo you want to select another folder?"));
        QCOMPARE(boxes.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(boxes.seen[0].defaultButton, QMessageBox::Yes);
    }
    QCOMPARE(fileNames(window), QStringList({"p.wav", "q.wav"}));
    QCOMPARE(window.settings.soundFiles[0].nT2, 0);

    // The next start remembers the folder; one that is gone since is not.
    QCOMPARE(selectFolder(*std::make_unique<MainWindow>(), {second.path()}), QStringList{second.path()});
    {
        QTemporaryDir gone;
        QVERIFY(makeFolder(gone, {{"g.wav", "short-4000.wav"}}));
        selectFolder(*std::make_unique<MainWindow>(), {gone.path()});
    }
    QCOMPARE(selectFolder(*std::make_unique<MainWindow>(), {second.path()}), QStringList{desktop});
    QCOMPARE(window.numSoundFiles, 2);

    // No ends the choice without files: the session start stops.
    {
        BoxAnswerer boxes({QMessageBox::No});
        QCOMPARE(selectFolder(window, {textOnly.path(), second.path()}).size(), 1);
        QCOMPARE(boxes.seen.size(), 1);
    }
    QVERIFY(window.settings.soundFiles.isEmpty());
    QCOMPARE(window.numSoundFiles, 0);
}

void MainWindowTester::cancelledDialogListsNothing()
{
    // The current directory holds sound files, which a cancel must not list.
    QTemporaryDir current;
    QVERIFY(makeFolder(current, {{"here.wav", "short-4000.wav"}}));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(current.path()));

    MainWindow window;
    window.settings.soundFiles.append(SoundFileRecord());
    window.numSoundFiles = 1;
    BoxAnswerer boxes;
    const QStringList dialogs = selectFolder(window, {});
    QDir::setCurrent(previous);

    QCOMPARE(dialogs.size(), 1);
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(window.settings.soundFiles.isEmpty());
    QCOMPARE(window.numSoundFiles, 0);
    QCOMPARE(window.lineEditSamplingRate->text(), QStringLiteral("40000"));
}

void MainWindowTester::folderDialog()
{
    forgetRememberedSettings();
    MainWindow window;
    QString title;
    bool readOnly = false;
    bool directories = false;
    QString startFolder;
    // The first dialog picks the examples; the second is cancelled. The
    // dialog's own complaints (a folder it cannot find) are closed and kept.
    int dialogs = 0;
    QString complaint;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            complaint = box->text();
            QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
            return;
        }
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog || !dialog->isVisible())
            return;
        if (dialogs++ == 0) {
            title = dialog->windowTitle();
            readOnly = dialog->testOption(QFileDialog::ReadOnly);
            directories = dialog->fileMode() == QFileDialog::Directory;
            startFolder = dialog->directory().absolutePath();
            dialog->selectFile(examples);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        }
    });
    timer.start(5);

    window.selectSoundFolder();
    QVERIFY2(complaint.isEmpty(), qPrintable(complaint));
    QCOMPARE(title, QStringLiteral("Select a folder"));
    QVERIFY(readOnly);
    QVERIFY(directories);
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (QDir(desktop).exists())
        QCOMPARE(startFolder, QDir(desktop).absolutePath());
    QCOMPARE(window.numSoundFiles, 7);
    QCOMPARE(QDir(window.settings.wavPath), QDir(examples));

    window.selectSoundFolder();
    QCOMPARE(dialogs, 2);
    QCOMPARE(window.numSoundFiles, 0);
}

void MainWindowTester::unusableFilesAreListedBeforeTheSession()
{
    QTemporaryDir broken;
    QVERIFY(makeFolder(broken, {{"good.wav", "short-4000.wav"}, {"cut.wav", "cut-short.wav"},
                                {"three.wav", "three-channels.wav"}, {"empty.wav", ""},
                                {"single.wav", "one-sample.wav"}}));
    MainWindow window;
    {
        // Yes: another folder, which is usable.
        BoxAnswerer boxes({QMessageBox::Yes});
        QCOMPARE(selectFolder(window, {broken.path(), examples}).size(), 2);
        QCOMPARE(boxes.seen.size(), 1);
        const BoxAnswerer::Seen &box = boxes.seen[0];
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("Warning"));
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::Yes);
        for (const char *line : {"\ncut.wav is cut short: its header announces 8000 bytes of sound, the file holds 956.",
                                 "\nempty.wav is empty (0 bytes).",
                                 "\nsingle.wav holds only 1 sample; a stimulus needs at least 2.",
                                 "\nthree.wav has 3 channels; a stimulus must have 1 or 2."})
            QVERIFY2(box.text.contains(QString::fromUtf8(line)), qPrintable(box.text));
        QVERIFY(!box.text.contains("good.wav"));
        QVERIFY(box.text.endsWith("Do you want to select another folder?"));
    }
    QCOMPARE(window.numSoundFiles, 7);
    QCOMPARE(window.settings.soundFiles.first().fileName, QStringLiteral("step1.wav"));

    // No: no session, and nothing of the folder before stays.
    BoxAnswerer boxes({QMessageBox::No});
    QCOMPARE(selectFolder(window, {broken.path(), examples}).size(), 1);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(window.numSoundFiles, 0);
    QVERIFY(window.settings.soundFiles.isEmpty());
}

void MainWindowTester::sessionAdoptsTheFolderRate()
{
    QTemporaryDir folder;
    QVERIFY(makeFolder(folder, {{"a.wav", "rate-44100.wav"}, {"b.wav", "rate-44100.wav"}}));
    MainWindow window;
    selectFolder(window, {folder.path()});
    QCOMPARE(window.numSoundFiles, 2);
    QCOMPARE(window.settings.samplingRate, 44100.0);
    QCOMPARE(window.lineEditSamplingRate->text(), QStringLiteral("44100"));
    QCOMPARE(window.trialPlayer->engine()->rateHz(), 44100);   // the output opened at it

    // The time axis and the spectrum follow the adopted rate: the 441 Hz
    // tone lies at bin 441 / (44100 / 4096), about 41.
    window.trialOrder = {1, 0};
    prepareTrial(window, 0);
    QCOMPARE(window.settings.numSamples, 2205);
    QCOMPARE(window.lineEditSoundDuration->text(), QStringLiteral("50.00"));
    QCOMPARE(window.timeAxisMs[1], 1000.0 / 44100);
    QCOMPARE(window.waveformAxisX->max(), 50.0);
    QCOMPARE(window.fftLength, 4096);
    QCOMPARE(window.frequencyResolution, 44100.0 / 4096);
    QCOMPARE(window.settings.spectrumPointCount, int(4096 / 44100.0 * 2000));
    const auto peak = std::max_element(window.spectrumAmplitudes.cbegin(), window.spectrumAmplitudes.cend());
    QCOMPARE(int(peak - window.spectrumAmplitudes.cbegin()), 41);
}

void MainWindowTester::mixedRatesAreRefused()
{
    QTemporaryDir folder;
    QVERIFY(makeFolder(folder, {{"a.wav", "rate-44100.wav"}, {"b.wav", "rate-48000.wav"},
                                {"c.wav", "short-4000.wav"}}));
    MainWindow window;
    BoxAnswerer boxes({QMessageBox::No});
    selectFolder(window, {folder.path()});
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Warning"));
    QVERIFY2(boxes.seen[0].text.contains("40000 Hz (c.wav); 44100 Hz (a.wav); 48000 Hz (b.wav)"),
             qPrintable(boxes.seen[0].text));
    QCOMPARE(window.numSoundFiles, 0);
    QCOMPARE(window.settings.samplingRate, 40000.0);
    QCOMPARE(window.lineEditSamplingRate->text(), QStringLiteral("40000"));
}

void MainWindowTester::loadingAndChartsOfTheDefaultSound()
{
    MainWindow window;
    selectFolder(window, {examples});
    window.trialOrder = {3, 0};
    prepareTrial(window, 0);

    // step4.wav: 16-bit mono, 10000 samples at 40000 Hz, RMS 0.125.
    QCOMPARE(window.currentSoundIndex, 3);
    QCOMPARE(window.settings.wavFileName, QStringLiteral("step4.wav"));
    QCOMPARE(window.currentWavFilePath, examples + "/step4.wav");
    QCOMPARE(window.settings.numSamples, 10000);
    QCOMPARE(window.settings.soundDuration, 0.25);
    QCOMPARE(window.lineEditSoundDuration->text(), QStringLiteral("250.00"));
    QCOMPARE(window.settings.displaySamples, 10000);
    QCOMPARE(window.timeAxisMs.size(), 10000);
    QCOMPARE(window.timeAxisMs.first(), 0.0);
    QCOMPARE(window.timeAxisMs.last(), 249.975);
    double power = 0.0;
    for (double sample : window.samples)
        power += sample * sample;
    QVERIFY(std::fabs(std::sqrt(power / window.samples.size()) - 0.125) < 1e-4);
    QCOMPARE(window.lineEditWavFilePath->text(), examples);
    QCOMPARE(window.lineEditWavFileName->text(), QStringLiteral("step4.wav"));

    // The waveform: every sample against its time; the series gets those of
    // them that show on the plot's pixel columns, the extremes among them.
    QCOMPARE(window.waveformPoints.size(), 10000);
    QCOMPARE(window.waveformPoints[9999], QPointF(249.975, window.samples[9999]));
    QVERIFY(drawnFrom(seriesPoints(window.waveformSeries), window.waveformPoints));
    QCOMPARE(window.waveformAxisX->min(), 0.0);
    QCOMPARE(window.waveformAxisX->max(), 250.0);
    const auto extremes = std::minmax_element(window.samples.cbegin(), window.samples.cend());
    QCOMPARE(window.waveformAxisY->min(), *extremes.first);
    QCOMPARE(window.waveformAxisY->max(), *extremes.second);

    // The spectrum: the bins up to 2000 Hz drawn, the x axis as built.
    QCOMPARE(window.frequencyResolution, 40000.0 / 16384);
    const QVector<QPointF> spectrum = seriesPoints(window.spectrumSeries);
    QCOMPARE(spectrum.size(), 819);
    QCOMPARE(spectrum[818], QPointF(818 * 40000.0 / 16384, window.spectrumAmplitudes[818]));
    QCOMPARE(window.spectrumAxisX->max(), 2000.0);

    // Its y axis spans every bin, also those not drawn: a 5000 Hz tone.
    for (int i = 0; i < window.samples.size(); ++i)
        window.samples[i] = std::sin(2 * M_PI * 5000.0 * i / 40000.0);
    window.computeSpectrum();
    window.updateSpectrumChart();
    QVERIFY(std::fabs(window.spectrumAxisY->max() - 1.0) < 1e-12);
    QCOMPARE(window.spectrumRange[1], window.spectrumAxisY->max());
    for (const QPointF &point : seriesPoints(window.spectrumSeries))
        QVERIFY(point.y() < 0.01);
}

void MainWindowTester::eachTrialUsesItsOwnFile()
{
    // Stimuli of one folder differ in length: a stereo file of 3000 frames
    // and a longer mono one with a non-ASCII name.
    const QString longName = QStringLiteral("b-l\u00f6ng-\u97f3.wav");
    QTemporaryDir folder;
    QVERIFY(makeFolder(folder, {{"a-stereo.wav", "stereo-3000.wav"}, {longName, "long-12000.wav"}}));
    const QVector<double> left = readF64(stimuliData + "/stereo-3000.f64");
    const QVector<double> longSound = readF64(stimuliData + "/long-12000.f64");

    MainWindow window;
    selectFolder(window, {folder.path()});
    QCOMPARE(fileNames(window), QStringList({"a-stereo.wav", longName}));
    window.trialOrder = {0, 1, 0};

    prepareTrial(window, 0);
    QCOMPARE(window.samples, left);

    prepareTrial(window, 1);
    QCOMPARE(window.samples, longSound);
    QCOMPARE(window.lineEditWavFileName->text(), longName);
    QCOMPARE(window.timeAxisMs.size(), 12000);
    QCOMPARE(window.waveformPoints.size(), 12000);
    QVERIFY(drawnFrom(seriesPoints(window.waveformSeries), window.waveformPoints));
    QCOMPARE(window.waveformAxisX->max(), 300.0);
    QCOMPARE(window.fftLength, 16384);

    // Back to the shorter sound: nothing of the longer one's tail stays, in
    // the samples, the waveform or the spectrum.
    prepareTrial(window, 2);
    QCOMPARE(window.samples, left);
    QCOMPARE(window.settings.numSamples, 3000);
    QCOMPARE(window.lineEditSoundDuration->text(), QStringLiteral("75.00"));
    QCOMPARE(window.timeAxisMs.size(), 3000);
    QCOMPARE(window.waveformPoints.size(), 3000);
    QVERIFY(drawnFrom(seriesPoints(window.waveformSeries), window.waveformPoints));
    QCOMPARE(window.fftLength, 4096);
    QVector<double> frequencies;
    QVector<double> amplitudes;
    amplitudeSpectrum(left, 4096, 40000.0, frequencies, amplitudes);
    QCOMPARE(window.spectrumAmplitudes, amplitudes);
}

void MainWindowTester::fileBrokenAfterTheCheckPlaysSilence()
{
    QTemporaryDir folder;
    QVERIFY(makeFolder(folder, {{"a.wav", "long-12000.wav"}, {"b.wav", "short-4000.wav"}}));
    MainWindow window;
    selectFolder(window, {folder.path()});
    QCOMPARE(window.numSoundFiles, 2);
    window.trialOrder = {0, 1};
    prepareTrial(window, 0);

    // The file is replaced in the middle of the run.
    QFile::remove(folder.filePath("b.wav"));
    QVERIFY(makeFolder(folder, {{"b.wav", "not a sound any more"}}));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Trial sound unusable, silence instead: .*b\\.wav"));
    prepareTrial(window, 1);
    // As long as b.wav was when the folder was checked.
    QCOMPARE(window.samples, QVector<double>(4000, 0.0));
    QCOMPARE(window.settings.numSamples, 4000);
    QCOMPARE(window.spectrumAmplitudes, QVector<double>(2048, 0.0));
    QCOMPARE(window.waveformAxisY->min(), -1.0);
    QCOMPARE(window.waveformAxisY->max(), 1.0);
}

void MainWindowTester::trendChart()
{
    MainWindow window;
    window.settings.soundFiles.resize(5);
    window.numSoundFiles = 5;
    window.trialCounter = 0;
    window.updateTrendChart();
    QCOMPARE(window.trendFileNumbers, QVector<double>({1, 2, 3, 4, 5}));
    QCOMPARE(window.trendCounts, QVector<double>(5, 0.0));
    QCOMPARE(seriesPoints(window.trendSeries),
             QVector<QPointF>({{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}));
    QCOMPARE(window.trendAxisX->min(), 1.0);
    QCOMPARE(window.trendAxisX->max(), 5.0);
    QCOMPARE(window.trendAxisX->tickCount(), 5);
    QCOMPARE(window.trendAxisX->labelFormat(), QStringLiteral("%g"));
    QCOMPARE(window.trendAxisY->max(), 4.0);

    // Answers counted as the response handling does: four "Tone 2" for file 3
    // keep the axis at 0 to 4, a fifth stretches it.
    window.trialCounter = 9;
    for (int count = 1; count <= 5; ++count) {
        window.trendCounts[2] = count;
        window.trendPoints[2].setY(count);
        window.updateTrendChart();
        QCOMPARE(window.trendAxisY->min(), 0.0);
        QCOMPARE(window.trendAxisY->max(), count <= 4 ? 4.0 : 5.0);
    }
    QCOMPARE(seriesPoints(window.trendSeries)[2], QPointF(3, 5));
    QCOMPARE(window.trendFileNumbers.size(), 5);

    // The next session starts over with its own number of files; a single
    // file still gets an axis that can be drawn.
    window.numSoundFiles = 1;
    window.trialCounter = 0;
    window.updateTrendChart();
    QCOMPARE(seriesPoints(window.trendSeries), QVector<QPointF>({{1, 0}}));
    QCOMPARE(window.trendAxisY->max(), 4.0);
    QVERIFY(window.trendAxisX->min() < 1.0 && window.trendAxisX->max() > 1.0);
}

// Files numbered by their names stand at those numbers, whatever the
// listing order: the line joins neighbouring steps, the axis spans the
// steps, and the curve is P("Tone 2") times each file's own counted answers,
// right over the points mid-run too.
void MainWindowTester::trendChartAtTheFilesNumbers()
{
    MainWindow window;
    const QStringList names{"step1.wav", "step10.wav", "step11.wav", "step2.wav", "step3.wav", "step4.wav",
                            "step5.wav", "step6.wav", "step7.wav", "step8.wav", "step9.wav"};
    for (const QString &name : names) {
        SoundFileRecord record;
        record.fileName = name;
        window.settings.soundFiles.append(record);
    }
    window.numSoundFiles = names.size();
    window.trialCounter = 0;
    window.updateTrendChart();
    QCOMPARE(window.trendFileNumbers, (QVector<double>{1, 10, 11, 2, 3, 4, 5, 6, 7, 8, 9}));
    QVector<QPointF> drawn = seriesPoints(window.trendSeries);
    for (int i = 0; i < 11; ++i)
        QCOMPARE(drawn[i], QPointF(i + 1, 0));
    QCOMPARE(window.trendAxisX->min(), 1.0);
    QCOMPARE(window.trendAxisX->max(), 11.0);
    QCOMPARE(window.trendAxisX->tickCount(), 11);

    // Mid-run: steps 1 to 11 answered "Tone 2" along a falling curve, but
    // step 10 not yet at all and step 2 only twice.
    const int tone2ByStep[] = {4, 4, 4, 3, 3, 2, 1, 1, 0, 0, 0};
    const int answersByStep[] = {4, 2, 4, 4, 4, 4, 4, 4, 4, 0, 4};
    for (int file = 0; file < names.size(); ++file) {
        const int step = int(window.trendFileNumbers[file]);
        for (int i = 0; i < answersByStep[step - 1]; ++i)
            window.runAnswers.append({file, i < tone2ByStep[step - 1] ? 2 : 4, 500.0, true});
        window.trendCounts[file] = std::min(tone2ByStep[step - 1], answersByStep[step - 1]);
        window.trendPoints[file].setY(window.trendCounts[file]);
    }
    window.trialCounter = window.runAnswers.size();
    window.updateTrendChart();
    drawn = seriesPoints(window.trendSeries);
    QCOMPARE(drawn[1], QPointF(2, 2));
    QCOMPARE(drawn[9], QPointF(10, 0));

    const LogisticFit fit = fitLogistic(binomialRows(window.runFileSummaries()));
    QCOMPARE(fit.status, LogisticFit::Status::Ok);
    QVERIFY(fit.boundary > 5.0 && fit.boundary < 7.0);
    const QVector<QPointF> curve = seriesPoints(window.identificationCurve->curveSeries());
    for (int step = 1; step <= 11; ++step) {
        const auto at = std::find_if(curve.begin(), curve.end(), [step](const QPointF &p) { return p.x() == step; });
        QVERIFY(at != curve.end());
        QVERIFY(std::abs(at->y() - fit.probability(step) * answersByStep[step - 1]) < 1e-9);
    }
    const QVector<QPointF> boundary = seriesPoints(window.identificationCurve->boundarySeries());
    QCOMPARE(boundary.size(), 2);
    QCOMPARE(boundary[0].x(), fit.boundary);
    QVERIFY(window.identificationCurve->label()->text().startsWith(QLatin1String("boundary ")));
    QVERIFY(window.identificationCurve->label()->text().contains(QLatin1String(" 95 % ")));
}

// A listener at chance: a curve, no boundary, and the line says so.
void MainWindowTester::trendChartFlatListener()
{
    MainWindow window;
    for (int i = 0; i < 5; ++i) {
        SoundFileRecord record;
        record.fileName = QStringLiteral("s%1.wav").arg(i + 1);
        window.settings.soundFiles.append(record);
    }
    window.numSoundFiles = 5;
    window.trialCounter = 0;
    window.updateTrendChart();
    const int tone2[] = {25, 30, 22, 27, 29};
    for (int file = 0; file < 5; ++file) {
        for (int i = 0; i < 40; ++i)
            window.runAnswers.append({file, i < tone2[file] ? 2 : 4, 500.0, true});
        window.trendCounts[file] = tone2[file];
        window.trendPoints[file].setY(tone2[file]);
    }
    window.trialCounter = window.runAnswers.size();
    window.updateTrendChart();
    QVERIFY(window.identificationCurve->label()->text().startsWith(
        QLatin1String("flat: the answers do not change reliably with the sound file")));
    QVERIFY(window.identificationCurve->label()->text().endsWith(QLatin1String("no boundary")));
    QVERIFY(seriesPoints(window.identificationCurve->boundarySeries()).isEmpty());
    QCOMPARE(seriesPoints(window.identificationCurve->curveSeries()).size(), 200 + 5);
}

TARQUEL_FAKE_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_stimuli.moc"
