// The experimenter's window as it stands after construction, its panel
// layout, the session panel's slots, "Quit", and what destruction frees.

#include "FakeAudioEngine.h"
#include "app/MainWindow.h"
#include "app/GroupReportDialog.h"
#include "app/LabOptionsPanel.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QtTest>

#include <memory>

class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void titleAndGeometry();
    void panelAfterConstruction();
    void panelLayout();
    void enabledStatesAfterConstruction();
    void metaObjectOrder();
    void editingComposesFileName_data();
    void editingComposesFileName();
    void hiddenComboBoxesDriveSlots();
    void quitEndsEventLoop();
    void groupReport();
    void destructionFreesEverything();
};

void MainWindowTester::titleAndGeometry()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Vardon Lab | Auditory Tarquel (v020) | Main Window"));
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    QCOMPARE(window.geometry().size(), QSize(int(available.width() * 0.8), int(available.height() * 0.9)));
    QCOMPARE(window.geometry().topLeft(),
             QPoint((available.width() - int(available.width() * 0.8)) / 2,
                    (available.height() - int(available.height() * 0.9)) / 2));
}

void MainWindowTester::panelAfterConstruction()
{
    MainWindow window;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QCOMPARE(window.lineEditWavFilePath->text(), desktop);
    QCOMPARE(window.lineEditWavFileName->text(), QStringLiteral("File001.wav"));
    QCOMPARE(window.lineEditSamplingRate->text(), QStringLiteral("40000"));
    QCOMPARE(window.lineEditSoundDuration->text(), QStringLiteral("250.00"));
    QCOMPARE(window.lineEditSilentInterval->text(), QStringLiteral("1000.00"));
    QCOMPARE(window.lineEditSubCode->text(), QStringLiteral("SUB001"));
    QCOMPARE(window.lineEditSesNum->text(), QStringLiteral("1"));
    QCOMPARE(window.lineEditOutputFilePath->text(), desktop);
    // The composed name, not the creation placeholder "SUB001.dat".
    QCOMPARE(window.lineEditOutputFileName->text(), QStringLiteral("SUB001_practice001.txt"));
    QCOMPARE(window.settings.outputFileName, QStringLiteral("SUB001_practice001.txt"));
    QCOMPARE(window.lineEditStatus->text(), QStringLiteral("not started yet"));
    QVERIFY(window.checkBoxSaveData->isChecked());
    QCOMPARE(window.checkBoxSaveData->text(), QStringLiteral("Save data to file"));
    QCOMPARE(window.comboBoxSesType->count(), 2);
    QCOMPARE(window.comboBoxSesType->currentIndex(), 0);
    QCOMPARE(window.soundsPerTrial, 1);
    QCOMPARE(window.soundsPlayed, 0);
    QVERIFY(window.reactionTimer);
    QVERIFY(window.settings.showWholeSound);
    QCOMPARE(window.settings.displaySamples, 10000);
    QCOMPARE(window.waveformPoints.size(), 10000);
    QCOMPARE(window.timeAxisMs.size(), 10000);
    QVERIFY(window.trendPoints.isEmpty());
    QCOMPARE(window.waveformRange.size(), 2);
    QCOMPARE(window.spectrumRange.size(), 2);
    QCOMPARE(window.trendRange.size(), 2);
    // The spectrum is sized for the default sound; the frequency resolution
    // keeps its default until the first spectrum is computed.
    QCOMPARE(window.fftLength, 16384);
    QCOMPARE(window.fftDuration, 0.4096);
    QCOMPARE(window.settings.spectrumPointCount, 819);
    QCOMPARE(window.frequencyResolution, 1.0 / 0.6);
}

// The settings panel, row by row, and the two columns of the window.
void MainWindowTester::panelLayout()
{
    MainWindow window;
    QCOMPARE(window.centralWidget(), window.widgetCentral);
    QCOMPARE(window.widgetCentral->layout(), window.gridLayoutMain);

    // Panel on the left, charts on the right with two thirds of the spare width.
    QGridLayout *outer = window.gridLayoutMain;
    QCOMPARE(outer->count(), 2);
    const QPair<QLayout *, QList<int>> columns[] = {
        {window.gridLayoutParameters, {0, 0, 1, 1}},
        {window.gridLayoutCharts, {0, 1, 1, 1}},
    };
    for (const auto &column : columns) {
        const int at = outer->indexOf(column.first);
        QVERIFY(at >= 0);
        int r, c, rs, cs;
        outer->getItemPosition(at, &r, &c, &rs, &cs);
        QCOMPARE(QList<int>({r, c, rs, cs}), column.second);
    }
    QCOMPARE(outer->columnStretch(0), 1);
    QCOMPARE(outer->columnStretch(1), 2);

    // Row 0 stays empty; every row is one item across four columns.
    const QList<QList<QWidget *>> rows = {
        {window.labelSoundFileInfo},
        {window.labelWavFilePath, window.lineEditWavFilePath},
        {window.labelWavFileName, window.lineEditWavFileName},
        {window.labelSamplingRate, window.lineEditSamplingRate},
        {window.labelSoundDuration, window.lineEditSoundDuration},
        {window.labelSilentInterval, window.lineEditSilentInterval},
        {window.pushButtonPractice, window.pushButtonExperiment, window.pushButtonGo,
         window.pushButtonQuit},
        {window.labelSubCode, window.lineEditSubCode, window.checkBoxSaveData},
        {window.labelSesNum, window.lineEditSesNum},
        {window.labelOutputFilePath, window.lineEditOutputFilePath},
        {window.labelOutputFileName, window.lineEditOutputFileName},
        {window.labelStatus, window.lineEditStatus},
    };
    QGridLayout *panel = window.gridLayoutParameters;
    QCOMPARE(panel->count(), rows.size() + 7);   // and the notices, the lab's four rows, the loop-back check's and the tasks below
    for (int row = 1; row <= rows.size(); ++row) {
        QLayoutItem *item = panel->itemAtPosition(row, 0);
        QVERIFY2(item, qPrintable(QStringLiteral("row %1 is empty").arg(row)));
        const int at = panel->indexOf(item);
        int r, c, rs, cs;
        panel->getItemPosition(at, &r, &c, &rs, &cs);
        QCOMPARE(QList<int>({r, c, rs, cs}), QList<int>({row, 0, 1, 4}));
        QCOMPARE(item->alignment(), Qt::Alignment());
        QList<QWidget *> widgets;
        if (item->widget()) {
            widgets << item->widget();
        } else {
            for (int i = 0; i < item->layout()->count(); ++i) {
                QCOMPARE(item->layout()->itemAt(i)->alignment(), Qt::Alignment());
                widgets << item->layout()->itemAt(i)->widget();
            }
        }
        QVERIFY2(widgets == rows.at(row - 1),
                 qPrintable(QStringLiteral("row %1 holds the wrong widgets").arg(row)));
    }

    QCOMPARE(window.labelSoundFileInfo->alignment(), Qt::AlignHCenter);
    QCOMPARE(window.labelSoundFileInfo->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(window.labelSoundFileInfo->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window.labelSoundFileInfo->minimumWidth(), 100);
    for (QPushButton *button : {window.pushButtonPractice, window.pushButtonExperiment,
                                window.pushButtonGo, window.pushButtonQuit})
        QCOMPARE(button->minimumHeight(), 60);
}

void MainWindowTester::enabledStatesAfterConstruction()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QList<QPair<QWidget *, bool>> expected = {
        {window.lineEditWavFilePath, false}, {window.lineEditWavFileName, false},
        {window.lineEditSamplingRate, false}, {window.lineEditSoundDuration, false},
        {window.lineEditSilentInterval, false}, {window.pushButtonPractice, true},
        {window.pushButtonExperiment, false}, {window.pushButtonGo, false},
        {window.pushButtonQuit, true}, {window.lineEditSubCode, true},
        {window.checkBoxSaveData, true}, {window.lineEditSesNum, true},
        {window.lineEditOutputFilePath, false}, {window.lineEditOutputFileName, false},
        {window.lineEditStatus, false},
    };
    for (const auto &entry : expected) {
        QVERIFY2(entry.first->isVisible(), qPrintable(entry.first->metaObject()->className()));
        QCOMPARE(entry.first->isEnabled(), entry.second);
    }
}

void MainWindowTester::metaObjectOrder()
{
    const QStringList expected = {
        "soundPlaying(int)", "stateChanged(QAudio::State)", "doneDataCollection(double,double,int)",
        "on_pushButtonPractice_clicked()", "on_pushButtonExperiment_clicked()",
        "on_pushButtonGo_clicked()", "updateMainwindow(int)", "playOneSound()", "doNothing()",
        "handleStateChanged(QAudio::State)", "on_comboBoxSesType_currentIndexChanged(int)",
        "on_comboBoxSoundType_currentIndexChanged(int)",
        "on_comboBoxMainParameter_currentIndexChanged(int)",
        "on_lineEditSubCode_textChanged(QString)", "on_lineEditSesNum_textChanged(QString)",
        "refreshMainWindow()",
    };
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.className(), "MainWindow");
    QStringList actual;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        actual << QString::fromLatin1(meta.method(i).methodSignature());
    QCOMPARE(actual, expected);
    // Signals public, every slot private.
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        const bool signal = i < meta.methodOffset() + 3;
        QCOMPARE(method.methodType(), signal ? QMetaMethod::Signal : QMetaMethod::Slot);
        QCOMPARE(method.access(), signal ? QMetaMethod::Public : QMetaMethod::Private);
    }
}

void MainWindowTester::editingComposesFileName_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("expected");

    QTest::newRow("cleared session") << "SUB001" << "" << "SUB001_practice000.txt";
    QTest::newRow("digit typed") << "SUB001" << "7" << "SUB001_practice007.txt";
    QTest::newRow("letters only") << "SUB001" << "abc" << "SUB001_practice000.txt";
    QTest::newRow("negative") << "SUB001" << "-5" << "SUB001_practice0-5.txt";
    QTest::newRow("cleared subject") << "" << "1" << "_practice001.txt";
    QTest::newRow("long session") << "AB" << "1234" << "AB_practice1234.txt";
}

void MainWindowTester::editingComposesFileName()
{
    QFETCH(QString, subject);
    QFETCH(QString, session);
    QFETCH(QString, expected);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // As if a session were prepared: editing must leave it alone.
    const QVector<qint32> order = {1, 0, 2, 2, 0, 1};
    window.trialOrder = order;
    window.trialCounter = 2;
    // Typed as the experimenter would: clear, then key in the new text.
    window.lineEditSubCode->selectAll();
    QTest::keyClick(window.lineEditSubCode, Qt::Key_Delete);
    QTest::keyClicks(window.lineEditSubCode, subject);
    window.lineEditSesNum->selectAll();
    QTest::keyClick(window.lineEditSesNum, Qt::Key_Delete);
    QTest::keyClicks(window.lineEditSesNum, session);

    QCOMPARE(window.settings.subjectCode, subject);
    QCOMPARE(window.lineEditOutputFileName->text(), expected);
    QCOMPARE(window.settings.outputFileName, expected);
    QCOMPARE(window.trialOrder, order);
    QCOMPARE(window.trialCounter, 2);
}

void MainWindowTester::hiddenComboBoxesDriveSlots()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Neither the combo boxes nor their labels are ever placed or shown.
    for (QWidget *hidden : {static_cast<QWidget *>(window.comboBoxSesType),
                            static_cast<QWidget *>(window.comboBoxSoundType),
                            static_cast<QWidget *>(window.comboBoxMainParameter),
                            static_cast<QWidget *>(window.labelSesType),
                            static_cast<QWidget *>(window.labelSoundType),
                            static_cast<QWidget *>(window.labelMainParameter)}) {
        QVERIFY(!hidden->isVisible());
        QVERIFY(!hidden->parentWidget());
    }

    window.comboBoxSesType->setCurrentIndex(1);
    QCOMPARE(window.settings.sessionType, 1);
    QCOMPARE(window.lineEditOutputFileName->text(), QStringLiteral("SUB001_experiment001.txt"));
    window.comboBoxSesType->setCurrentIndex(0);
    QCOMPARE(window.lineEditOutputFileName->text(), QStringLiteral("SUB001_practice001.txt"));

    window.comboBoxSoundType->setCurrentIndex(1);
    QCOMPARE(window.settings.soundType, 1);
    window.comboBoxMainParameter->setCurrentIndex(1);
    QCOMPARE(window.settings.mainParameter, 1);
    QCOMPARE(window.lineEditOutputFileName->text(), QStringLiteral("SUB001_practice001.txt"));
}

void MainWindowTester::quitEndsEventLoop()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(0, &window, [&window] { window.pushButtonQuit->click(); });
    QCOMPARE(qApp->exec(), 0);
    QVERIFY(!window.isVisible());
}

// The hidden combo boxes and their labels never get a parent, so only the
// window's destructor can free them; the chart objects are freed through
// their views. Each exactly once: a second delete would crash here.
void MainWindowTester::destructionFreesEverything()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    MainWindow &w = *window;
    const QList<QPointer<QObject>> objects = {
        w.comboBoxSesType, w.comboBoxSoundType, w.comboBoxMainParameter,
        w.labelSesType, w.labelSoundType, w.labelMainParameter,
        w.waveformSeries, w.spectrumSeries, w.trendSeries,
        w.waveformAxisX, w.waveformAxisY, w.spectrumAxisX, w.spectrumAxisY,
        w.trendAxisX, w.trendAxisY,
        w.waveformChart, w.spectrumChart, w.trendChart,
        w.waveformChartView, w.spectrumChartView, w.trendChartView,
        w.gridLayoutMain, w.widgetCentral,
    };
    for (const QPointer<QObject> &object : objects)
        QVERIFY(object);

    window.reset();
    for (const QPointer<QObject> &object : objects)
        QVERIFY(!object);
}

// "Group report": a folder of journals (the data folder by default), a folder
// for the report, the same files as tarquel-report writes, and the figure
// shown with what was read and skipped.
void MainWindowTester::groupReport()
{
    MainWindow window;
    QTemporaryDir out;
    QStringList asked;
    const QString journals = QStringLiteral(TARQUEL_TEST_DATA "/journals");
    window.chooseReportFolder = [&](const QString &title, const QString &start) {
        asked << title + QStringLiteral(" | ") + start;
        return asked.size() == 1 ? journals : out.path();
    };
    QPushButton *button = window.labOptions->groupReportButton();
    QCOMPARE(button->text(), QStringLiteral("Make a report of many sessions\u2026"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(asked.size(), 2);
    QCOMPARE(asked[0], QStringLiteral("Folder of trial journals for the group report | ") + window.journalFolder());
    QVERIFY(window.journalFolder().endsWith(QLatin1String("/sessions")));
    for (const char *name : {"report.tsv", "report_files.tsv", "report.svg", "report.png"})
        QVERIFY(QFile::exists(QDir(out.path()).filePath(QString::fromLatin1(name))));
    GroupReportDialog *dialog = window.findChild<GroupReportDialog *>();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(dialog->summaryLabel()->text().startsWith(QLatin1String("3 session(s) from ")));
    QVERIFY(dialog->summaryLabel()->text().contains(QLatin1String("1 file(s) could not be read")));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QVERIFY(!dialog->figureLabel()->pixmap().isNull());
#else
    QVERIFY(!dialog->figureLabel()->pixmap(Qt::ReturnByValue).isNull());
#endif
    dialog->close();

    // Cancelled at the first question: nothing is written.
    QTemporaryDir none;
    window.chooseReportFolder = [](const QString &, const QString &) { return QString(); };
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(QDir(none.path()).isEmpty());
}

TARQUEL_FAKE_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_mainwindow.moc"
