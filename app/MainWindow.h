#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "analysis/Identification.h"
#include "app/RememberedSettings.h"
#include "app/SessionSettings.h"
#include "experiment/TrialJournal.h"
#include "input/InputTime.h"
#include "wav/WavFile.h"

#include <QAudio>
#include <QElapsedTimer>
#include <QFont>
#include <QMainWindow>
#include <QPointF>
#include <QVector>

#include <functional>

class QCheckBox;
class QComboBox;
class QElapsedTimer;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class IdentificationCurveOverlay;
class LabOptionsPanel;
class NoticeArea;
class OutputLevelWatch;
class QCloseEvent;
class SubjectWindow;
class TimingCheckControl;
class TrialPlayer;
struct SoundTiming;

#include "app/ChartTypes.h"

// The experimenter's window and the hub of the program: it owns the session
// settings, the sound-file table, the trial order, the loaded sound, the chart
// objects, the playback objects and the listener's window. Its members are
// spread over files by subsystem: construction, layout and the session panel
// in app/, the charts in app/MainWindowCharts.cpp, stimulus loading and chart
// data in stimuli/, the run itself (session start, responses, playback,
// results) in experiment/.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void soundPlaying(int index);
    void stateChanged(QAudio::State audioState);
    void doneDataCollection(qreal threshold, qreal reactionTime, qint32 mainParameter);

private slots:
    void on_pushButtonPractice_clicked();
    void on_pushButtonExperiment_clicked();
    void on_pushButtonGo_clicked();
    void updateMainwindow(int response);
    void playOneSound();
    void doNothing();
    void handleStateChanged(QAudio::State audioState);
    void on_comboBoxSesType_currentIndexChanged(int index);
    void on_comboBoxSoundType_currentIndexChanged(int index);
    void on_comboBoxMainParameter_currentIndexChanged(int index);
    void on_lineEditSubCode_textChanged(const QString &arg1);
    void on_lineEditSesNum_textChanged(const QString &arg1);
    void refreshMainWindow();

protected:
    // Closing the window from its frame during a run asks first, then ends
    // the run as the listener's window would.
    void closeEvent(QCloseEvent *event) override;

private:
    // Construction and the session panel (app/).
    void setupLayout();
    void showWarning(const QString &text);
    void initializeState();
    // What is remembered between starts: read into the panel at start,
    // written when it changes.
    void applyRememberedSettings();
    void rememberSettings();
    // Sets the output to open (audioDevice): the one chosen on the panel,
    // or the server's default when that one is not connected now. Returns
    // whether it was not.
    bool chooseAudioDevice();
    // Says on the window that the chosen output is not connected, and what
    // plays instead.
    void tellMissingAudioOutput();
    void updateOutputFileName();
    void updateProgressText();

    // Charts (app/MainWindowCharts.cpp).
    void createWaveformChart();
    void createSpectrumChart();
    void createTrendChart();

    // Stimuli (stimuli/).
    void selectSoundFolder();
    void loadTrialSound();
    void updateDisplaySamples();
    void showSoundFileName();
    void sizeSpectrum();
    void computeSpectrum();
    void updateWaveformChart();
    void updateSpectrumChart();
    void updateTrendChart();
    // Asks for the stimulus folder, starting at startFolder; empty when the
    // experimenter cancels. Unset, the folder dialog asks; tests answer here.
    std::function<QString(const QString &startFolder)> chooseSoundFolder;

    // The run (experiment/).
    void startSession();
    void readParameters();
    void makeTrialOrder();
    void scheduleNextSound();
    void finishDataCollection();
    void setupPlaybackFormat();
    void writeResultsFile();

    // The run's own safety net (experiment/): the audio output and its
    // failures, abandoning a run, the per-trial journal, a second chance to
    // save.
    bool openAudioOutput();
    void endOfSound(const SoundTiming &timing);
    void audioFailed(const QString &reason);
    void abandonRun();
    void stopRunFromMainWindow();
    void openTrialJournal();
    void journalAnswer(qint32 answer, double reactionTimeMs, const AnswerTiming &answerTiming);
    // The listener's window has lost the keyboard focus, or has it again.
    void listenerFocusChanged(bool hasFocus);
    bool breakIsDue() const;
    void startBreak();
    void endBreak();
    bool askToRetrySaving();
    void writeSummaryBeside(const QString &path);
    QByteArray runSummaryBytes() const;
    QVector<FileSummary> runFileSummaries() const;

    // The output device's level (calibration/): "Calibrate level", the
    // checks at "Go" (false: the run does not start), the journal's notes of
    // a change during the run.
    void setupOutputLevel();
    void calibrateLevel();
    bool checkOutputLevel();
    void journalLevelNotes();

    // "Group report" (app/MainWindowGroupReport.cpp): asks for a folder of
    // journals (the data folder by default) and one for the report, writes
    // it and shows its figure. Unset, folder dialogs ask; tests answer here.
    void makeGroupReport();
    QString journalFolder() const;
    std::function<QString(const QString &title, const QString &startFolder)> chooseReportFolder;
    QStringList soundFileNames() const;
    SoundFileNumbers soundFileNumbering() const;
    // The loop-back timing check (loopback/): its window on the output the
    // panel chose, its last result on the panel and in the run's journal.
    void checkTiming();
    void showTimingCheckOfOutput();
    // The name of the output that plays (audioDevice), the server's default
    // resolved to its own name; empty when the server does not say.
    QString playingOutputName() const;

    QLabel *labelSesType = nullptr;
    QLabel *labelSoundType = nullptr;
    QLabel *labelMainParameter = nullptr;
    QLabel *labelSoundFileInfo = nullptr;
    QLabel *labelSamplingRate = nullptr;
    QLabel *labelSoundDuration = nullptr;
    QLabel *labelSilentInterval = nullptr;
    QLabel *labelSubCode = nullptr;
    QLabel *labelSesNum = nullptr;
    QLabel *labelWavFilePath = nullptr;
    QLabel *labelWavFileName = nullptr;
    QLabel *labelOutputFilePath = nullptr;
    QLabel *labelOutputFileName = nullptr;
    QLabel *labelStatus = nullptr;
    QComboBox *comboBoxSesType = nullptr;
    QComboBox *comboBoxSoundType = nullptr;
    QComboBox *comboBoxMainParameter = nullptr;
    QLineEdit *lineEditSamplingRate = nullptr;
    QLineEdit *lineEditSoundDuration = nullptr;
    QLineEdit *lineEditSilentInterval = nullptr;
    QLineEdit *lineEditSubCode = nullptr;
    QLineEdit *lineEditSesNum = nullptr;
    QLineEdit *lineEditWavFilePath = nullptr;
    QLineEdit *lineEditWavFileName = nullptr;
    QLineEdit *lineEditOutputFilePath = nullptr;
    QLineEdit *lineEditOutputFileName = nullptr;
    QLineEdit *lineEditStatus = nullptr;
    QPushButton *pushButtonPractice = nullptr;
    QPushButton *pushButtonExperiment = nullptr;
    QPushButton *pushButtonGo = nullptr;
    QPushButton *pushButtonQuit = nullptr;
    QCheckBox *checkBoxSaveData = nullptr;
    QHBoxLayout *hBoxLayoutSamplingRate = nullptr;
    QHBoxLayout *hBoxLayoutSoundDuration = nullptr;
    QHBoxLayout *hBoxLayoutSilentInterval = nullptr;
    QHBoxLayout *hBoxLayoutButtons = nullptr;
    QHBoxLayout *hBoxLayoutSubCode = nullptr;
    QHBoxLayout *hBoxLayoutSesNum = nullptr;
    QHBoxLayout *hBoxLayoutWavFilePath = nullptr;
    QHBoxLayout *hBoxLayoutWavFileName = nullptr;
    QHBoxLayout *hBoxLayoutOutputFilePath = nullptr;
    QHBoxLayout *hBoxLayoutOutputFileName = nullptr;
    QHBoxLayout *hBoxLayoutStatus = nullptr;
    QGridLayout *gridLayoutParameters = nullptr;
    QGridLayout *gridLayoutCharts = nullptr;
    QGridLayout *gridLayoutMain = nullptr;
    QWidget *widgetCentral = nullptr;

    // Built after the widgets above and before every member below.
    SessionSettings settings;

    QVector<double> timeAxisMs;        // time of each shown sample, milliseconds
    QVector<double> samples;           // first channel of the loaded sound, full scale +-1
    QVector<double> trendFileNumbers;
    QVector<double> trendCounts;
    QVector<QPointF> waveformPoints;
    QVector<QPointF> trendPoints;
    QVector<double> waveformRange;
    QVector<double> spectrumRange;
    QVector<double> trendRange;
    qint32 fftLength = 1024;
    double fftDuration = 0.6;                          // seconds
    double frequencyResolution = 1.6666666666666667;   // Hz
    QVector<double> spectrumFrequencies;               // Hz
    QVector<double> spectrumAmplitudes;
    QVector<QPointF> spectrumPoints;
    QtCharts::QLineSeries *waveformSeries = nullptr;
    QtCharts::QLineSeries *spectrumSeries = nullptr;
    QtCharts::QLineSeries *trendSeries = nullptr;
    QtCharts::QValueAxis *waveformAxisX = nullptr;
    QtCharts::QValueAxis *waveformAxisY = nullptr;
    QtCharts::QValueAxis *spectrumAxisX = nullptr;
    QtCharts::QValueAxis *spectrumAxisY = nullptr;
    QtCharts::QValueAxis *trendAxisX = nullptr;
    QtCharts::QValueAxis *trendAxisY = nullptr;
    QtCharts::QChart *waveformChart = nullptr;
    QtCharts::QChart *spectrumChart = nullptr;
    QtCharts::QChart *trendChart = nullptr;
    QtCharts::QChartView *waveformChartView = nullptr;
    QtCharts::QChartView *spectrumChartView = nullptr;
    QtCharts::QChartView *trendChartView = nullptr;
    IdentificationCurveOverlay *identificationCurve = nullptr;   // the fit on the trend chart and under it
    LabOptionsPanel *labOptions = nullptr;   // listener screen, audio output, breaks
    TimingCheckControl *timingCheckControl = nullptr;   // "Check timing" and the last result
    NoticeArea *noticeArea = nullptr;        // notices for the experimenter, under the status line
    OutputLevelWatch *levelWatch = nullptr;  // the output device's level and calibration for a run
    SubjectWindow *subjectWindow = nullptr;
    QElapsedTimer *reactionTimer = nullptr;
    qint32 reactionTimerStarts = 0;
    qint32 soundsPerTrial = 0;
    qint32 soundsPlayed = 0;
    QVector<qint32> trialOrder;
    QString currentWavFilePath;
    qint32 trialCounter = 0;
    qint32 currentSoundIndex = 0;
    qint32 repetitions = 0;
    qint32 practiceRepetitions = 3;
    qint32 experimentRepetitions = 40;
    qint32 numSoundFiles = 0;
    QString progressText;
    QFont axisLabelFont;
    QFont axisTitleFont;
    QFont chartTitleFont;
    WavFile wavFile;
    TrialPlayer *trialPlayer = nullptr;   // plays each trial's sound and times it
    bool centerOnScreen = true;
    double widthFraction = 0.8;
    double heightFraction = 0.9;

    quint32 trialOrderSeed = 0;        // seed of the current trial order
    bool trialOrderSeedFixed = false;  // tests set the seed before a session start
    bool runActive = false;            // between "Go" and the last answer or an abandoned run
    // Times on the monotonic clock, nanoseconds.
    qint64 runStartNs = 0;             // "Go"
    qint64 soundReferenceNs = 0;       // the last message from the listener: the next sound counts from it
    InputTimeSource answerTimes = InputTimeSource::WindowSystem;   // what times this run's answers
    qint64 scheduledOnsetNs = 0;       // when the next sound is due at the device
    QString audioDevice;               // the output to open; empty: the audio server's default
    RememberedSettings remembered;     // as last read or written
    qint64 breakStartNs = 0;           // when the listener's current break began; 0: no break
    TrialJournal trialJournal;
    QVector<AnswerRecord> runAnswers;  // this run's answers, as journaled
    QString trialSoundProblem;         // why the current trial's file played as silence; empty when it loaded
    QString trialJournalFolder;        // where journals go; the data folder unless a test sets it

    // Tests drive the window through its private members.
    friend class MainWindowTester;
};

#endif // MAINWINDOW_H
