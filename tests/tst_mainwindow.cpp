// The experimenter's window as it stands after construction, the session
// panel's slots, and "Quit".

#include "app/MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QtTest>

class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void titleAndGeometry();
    void panelAfterConstruction();
    void enabledStatesAfterConstruction();
    void metaObjectOrder();
    void editingComposesFileName_data();
    void editingComposesFileName();
    void hiddenComboBoxesDriveSlots();
    void quitEndsEventLoop();
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
    QCOMPARE(window.waveformRange.size(), 2);
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
    for (int i = 0; i < 3; ++i)
        QCOMPARE(meta.method(meta.methodOffset() + i).methodType(), QMetaMethod::Signal);
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

QTEST_MAIN(MainWindowTester)
#include "tst_mainwindow.moc"
