#include "app/MainWindow.h"

#include "app/IdentificationCurveOverlay.h"
#include "app/NoticeArea.h"
#include "app/LabOptionsPanel.h"
#include "common/WindowPlacement.h"
#include "experiment/TrialPlayer.h"
#include "loopback/TimingCheckControl.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Deletes each object and clears the member that pointed to it.
template<typename... Objects>
void release(Objects *&...objects)
{
    ((delete objects, objects = nullptr), ...);
}

} // namespace

// The widgets and layouts come first, in the order of their declaration and
// without a parent (the layouts give them their place in the widget tree);
// only then are the settings record and the other members built, since they
// are declared after them. The line edits' texts are placeholders:
// initializeState() overwrites every one of them.
MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , labelSesType(new QLabel(QStringLiteral("Session type")))
    , labelSoundType(new QLabel(QStringLiteral("Sound type")))
    , labelMainParameter(new QLabel(QStringLiteral("Main parameter")))
    , labelSoundFileInfo(new QLabel(QStringLiteral("Sound File Information")))
    , labelSamplingRate(new QLabel(QStringLiteral("Sampling rate")))
    , labelSoundDuration(new QLabel(QStringLiteral("Sound duration (ms)")))
    , labelSilentInterval(new QLabel(QStringLiteral("Silent interval (ms)")))
    , labelSubCode(new QLabel(QStringLiteral("Subject code")))
    , labelSesNum(new QLabel(QStringLiteral("Session")))
    , labelWavFilePath(new QLabel(QStringLiteral("WAV filepath")))
    , labelWavFileName(new QLabel(QStringLiteral("WAV filename")))
    , labelOutputFilePath(new QLabel(QStringLiteral("Output filepath")))
    , labelOutputFileName(new QLabel(QStringLiteral("Output filename")))
    , labelStatus(new QLabel(QStringLiteral("Status")))
    , comboBoxSesType(new QComboBox)
    , comboBoxSoundType(new QComboBox)
    , comboBoxMainParameter(new QComboBox)
    , lineEditSamplingRate(new QLineEdit(QStringLiteral("40000")))
    , lineEditSoundDuration(new QLineEdit(QStringLiteral("250.00")))
    , lineEditSilentInterval(new QLineEdit(QStringLiteral("1000.00")))
    , lineEditSubCode(new QLineEdit(QStringLiteral("SUB001")))
    , lineEditSesNum(new QLineEdit(QStringLiteral("1")))
    , lineEditWavFilePath(new QLineEdit(QStringLiteral(".")))
    , lineEditWavFileName(new QLineEdit(QStringLiteral("File001.wav")))
    , lineEditOutputFilePath(new QLineEdit(QStringLiteral(".")))
    , lineEditOutputFileName(new QLineEdit(QStringLiteral("SUB001.dat")))
    , lineEditStatus(new QLineEdit)
    , pushButtonPractice(new QPushButton(QStringLiteral("Practice")))
    , pushButtonExperiment(new QPushButton(QStringLiteral("Experiment")))
    , pushButtonGo(new QPushButton(QStringLiteral("Go")))
    , pushButtonQuit(new QPushButton(QStringLiteral("Quit")))
    , checkBoxSaveData(new QCheckBox(QStringLiteral("Save data to file")))
    , hBoxLayoutSamplingRate(new QHBoxLayout)
    , hBoxLayoutSoundDuration(new QHBoxLayout)
    , hBoxLayoutSilentInterval(new QHBoxLayout)
    , hBoxLayoutButtons(new QHBoxLayout)
    , hBoxLayoutSubCode(new QHBoxLayout)
    , hBoxLayoutSesNum(new QHBoxLayout)
    , hBoxLayoutWavFilePath(new QHBoxLayout)
    , hBoxLayoutWavFileName(new QHBoxLayout)
    , hBoxLayoutOutputFilePath(new QHBoxLayout)
    , hBoxLayoutOutputFileName(new QHBoxLayout)
    , hBoxLayoutStatus(new QHBoxLayout)
    , gridLayoutParameters(new QGridLayout)
    , gridLayoutCharts(new QGridLayout)
    , gridLayoutMain(new QGridLayout)
    , widgetCentral(new QWidget)
{
    // The audio state travels through a signal and a slot of this class.
    qRegisterMetaType<QAudio::State>("QAudio::State");

    // Every slot is connected here, by signature, exactly once; no widget has
    // an object name, so nothing is connected by name as well.
    connect(pushButtonPractice, SIGNAL(clicked(bool)), this, SLOT(on_pushButtonPractice_clicked()));
    connect(pushButtonExperiment, SIGNAL(clicked(bool)), this, SLOT(on_pushButtonExperiment_clicked()));
    connect(pushButtonGo, SIGNAL(clicked(bool)), this, SLOT(on_pushButtonGo_clicked()));
    connect(pushButtonQuit, SIGNAL(clicked(bool)), this, SLOT(close()));
    connect(comboBoxSesType, SIGNAL(currentIndexChanged(int)),
            this, SLOT(on_comboBoxSesType_currentIndexChanged(int)));
    connect(comboBoxSoundType, SIGNAL(currentIndexChanged(int)),
            this, SLOT(on_comboBoxSoundType_currentIndexChanged(int)));
    connect(comboBoxMainParameter, SIGNAL(currentIndexChanged(int)),
            this, SLOT(on_comboBoxMainParameter_currentIndexChanged(int)));
    connect(lineEditSubCode, SIGNAL(textChanged(QString)),
            this, SLOT(on_lineEditSubCode_textChanged(QString)));
    connect(lineEditSesNum, SIGNAL(textChanged(QString)),
            this, SLOT(on_lineEditSesNum_textChanged(QString)));

    setupLayout();
    initializeState();
    createWaveformChart();
    createSpectrumChart();
    createTrendChart();
}

MainWindow::~MainWindow()
{
    // The audio stream stops with the player, which owns the engine.
    release(trialPlayer);

    release(identificationCurve);
    release(labOptions);
    release(timingCheckControl);

    // A chart view owns its chart, and the chart its series and axes: deleting
    // the view releases all of them once.
    delete waveformChartView;
    delete spectrumChartView;
    delete trendChartView;
    waveformChartView = spectrumChartView = trendChartView = nullptr;
    waveformChart = spectrumChart = trendChart = nullptr;
    waveformSeries = spectrumSeries = trendSeries = nullptr;
    waveformAxisX = waveformAxisY = nullptr;
    spectrumAxisX = spectrumAxisY = nullptr;
    trendAxisX = trendAxisY = nullptr;

    release(reactionTimer);

    // Widgets first (a deleted widget leaves its parent and its layout), the
    // hidden combo boxes and their labels included, which have no parent at
    // all; then the layouts, inner ones before the ones holding them; then
    // the central widget, taken back from the window so that it is freed here
    // and only here.
    release(labelSesType, labelSoundType, labelMainParameter, labelSoundFileInfo,
            labelSamplingRate, labelSoundDuration, labelSilentInterval, labelSubCode,
            labelSesNum, labelWavFilePath, labelWavFileName, labelOutputFilePath,
            labelOutputFileName, labelStatus, noticeArea);
    release(comboBoxSesType, comboBoxSoundType, comboBoxMainParameter);
    release(lineEditSamplingRate, lineEditSoundDuration, lineEditSilentInterval,
            lineEditSubCode, lineEditSesNum, lineEditWavFilePath, lineEditWavFileName,
            lineEditOutputFilePath, lineEditOutputFileName, lineEditStatus);
    release(pushButtonPractice, pushButtonExperiment, pushButtonGo, pushButtonQuit,
            checkBoxSaveData);
    release(hBoxLayoutSamplingRate, hBoxLayoutSoundDuration, hBoxLayoutSilentInterval,
            hBoxLayoutButtons, hBoxLayoutSubCode, hBoxLayoutSesNum, hBoxLayoutWavFilePath,
            hBoxLayoutWavFileName, hBoxLayoutOutputFilePath, hBoxLayoutOutputFileName,
            hBoxLayoutStatus);
    release(gridLayoutParameters, gridLayoutCharts, gridLayoutMain);
    if (centralWidget() == widgetCentral)
        takeCentralWidget();
    release(widgetCentral);
}

void MainWindow::setupLayout()
{
    placeWindowOnScreen(this, centerOnScreen, widthFraction, heightFraction);
    setWindowTitle(QStringLiteral("Vardon Lab | Auditory Tarquel (v020) | Main Window"));

    const auto addRow = [](QHBoxLayout *row, std::initializer_list<QWidget *> widgets) {
        for (QWidget *widget : widgets)
            row->addWidget(widget, 0, Qt::Alignment());
    };
    addRow(hBoxLayoutWavFilePath, {labelWavFilePath, lineEditWavFilePath});
    addRow(hBoxLayoutWavFileName, {labelWavFileName, lineEditWavFileName});
    addRow(hBoxLayoutSamplingRate, {labelSamplingRate, lineEditSamplingRate});
    addRow(hBoxLayoutSoundDuration, {labelSoundDuration, lineEditSoundDuration});
    addRow(hBoxLayoutSilentInterval, {labelSilentInterval, lineEditSilentInterval});
    addRow(hBoxLayoutButtons, {pushButtonPractice, pushButtonExperiment, pushButtonGo, pushButtonQuit});
    addRow(hBoxLayoutSubCode, {labelSubCode, lineEditSubCode, checkBoxSaveData});
    addRow(hBoxLayoutSesNum, {labelSesNum, lineEditSesNum});
    addRow(hBoxLayoutOutputFilePath, {labelOutputFilePath, lineEditOutputFilePath});
    addRow(hBoxLayoutOutputFileName, {labelOutputFileName, lineEditOutputFileName});
    addRow(hBoxLayoutStatus, {labelStatus, lineEditStatus});

    // Row 0 stays empty; each row spans four columns.
    gridLayoutParameters->addWidget(labelSoundFileInfo, 1, 0, 1, 4, Qt::Alignment());
    QHBoxLayout *const rows[] = {
        hBoxLayoutWavFilePath, hBoxLayoutWavFileName, hBoxLayoutSamplingRate,
        hBoxLayoutSoundDuration, hBoxLayoutSilentInterval, hBoxLayoutButtons,
        hBoxLayoutSubCode, hBoxLayoutSesNum, hBoxLayoutOutputFilePath,
        hBoxLayoutOutputFileName, hBoxLayoutStatus,
    };
    int row = 2;
    for (QHBoxLayout *layout : rows)
        gridLayoutParameters->addLayout(layout, row++, 0, 1, 4, Qt::Alignment());
    // Notices for the experimenter, right under the status line.
    if (!noticeArea)
        noticeArea = new NoticeArea;
    gridLayoutParameters->addWidget(noticeArea, row++, 0, 1, 4, Qt::Alignment());
    // The lab's own rows: listener screen, audio output, breaks.
    if (!labOptions)
        labOptions = new LabOptionsPanel(gridLayoutParameters, row, 4, this);
    // The loop-back check, under the lab's three rows.
    if (!timingCheckControl) {
        timingCheckControl = new TimingCheckControl(gridLayoutParameters, row + 5, 4, this);
        connect(timingCheckControl, &TimingCheckControl::checkRequested, this, &MainWindow::checkTiming);
    }

    gridLayoutMain->addLayout(gridLayoutParameters, 0, 0, 1, 1);
    gridLayoutMain->addLayout(gridLayoutCharts, 0, 1, 1, 1);
    widgetCentral->setLayout(gridLayoutMain);
    setCentralWidget(widgetCentral);

    labelSoundFileInfo->setAlignment(Qt::AlignHCenter);
    labelSoundFileInfo->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    labelSoundFileInfo->setMinimumWidth(100);

    for (QPushButton *button : {pushButtonPractice, pushButtonExperiment, pushButtonGo, pushButtonQuit})
        button->setMinimumHeight(60);

    // The charts get two thirds of the spare width.
    gridLayoutMain->setColumnStretch(0, 1);
    gridLayoutMain->setColumnStretch(1, 2);
}

// A warning for the experimenter, usable while the main window is disabled
// during a run (the box would otherwise take the window's disabled state).
void MainWindow::showWarning(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok, this);
    box.setEnabled(true);
    box.exec();
}
