#include "FakeAudioEngine.h"
#include "TestSupport.h"

#include "app/LabOptionsPanel.h"
#include "app/MainWindow.h"
#include "experiment/TrialOrder.h"
#include "loopback/TimingCheckControl.h"
#include "loopback/TimingCheckDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <cmath>

// The loop-back check on the main window, with a stand-in engine and no
// audio server: the panel's row, the check's window when nothing can be
// recorded, and the stored result in the journal of a run on its output.
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storedResultGoesIntoTheJournalOfItsOutput();
    void checkWithoutAnyInputSaysSo();

private:
    QString goAndReadJournalHeader(MainWindow &w, int outputIndex);

    QTemporaryDir dir;
    QString stimuli;
};

void MainWindowTester::initTestCase()
{
    QVERIFY(dir.isValid());
    stimuli = dir.filePath(QStringLiteral("stimuli"));
    QVERIFY(QDir().mkpath(stimuli));
    for (const QString &name : {QStringLiteral("a.wav"), QStringLiteral("b.wav")}) {
        QVector<qint16> frames(4000);
        for (int i = 0; i < frames.size(); ++i)
            frames[i] = qint16(8000 * std::sin(2 * M_PI * 500.0 * i / 40000.0) + 1);
        QVERIFY(writeWav16(QDir(stimuli).filePath(name), frames, 40000));
    }
}

// Chooses the output at outputIndex of the panel, starts a practice run and
// returns its journal's header lines.
QString MainWindowTester::goAndReadJournalHeader(MainWindow &w, int outputIndex)
{
    ModalDriver driver;
    w.labOptions->audioOutputBox()->setCurrentIndex(outputIndex);
    w.trialOrderSeedFixed = true;
    w.trialOrderSeed = referenceTrialOrderSeed;
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    w.checkBoxSaveData->setChecked(false);
    driver.chooseFolder(stimuli);
    w.on_pushButtonPractice_clicked();
    w.on_pushButtonGo_clicked();
    if (!w.runActive)
        return QString();
    QFile journal(w.trialJournal.filePath());
    if (!journal.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(journal.readAll()).section(QStringLiteral("\ntrial\t"), 0, 0);
}

// The last check of each output stays with that output: the panel shows it
// while the output is chosen, and a run on it writes it into its journal's
// header; a run on another output writes nothing of it.
void MainWindowTester::storedResultGoesIntoTheJournalOfItsOutput()
{
    TimingCheckResult result;
    result.time = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0), QTimeZone(3600));
    result.output = QStringLiteral("fake_booth");
    result.input = QStringLiteral("alsa_input.booth-line");
    result.played = 50;
    setDelayStatistics(result, {1.2, 1.3, 1.25});
    storeTimingCheck(result);
    {
        MainWindow w;
        const QString header = goAndReadJournalHeader(w, 2);
        QCOMPARE(w.labOptions->audioOutput(), QStringLiteral("fake_booth"));
        QCOMPARE(w.timingCheckControl->shownText(), timingCheckShortText(result));
        QVERIFY2(header.endsWith(QStringLiteral("\n# loop-back check\t") + timingCheckJournalFields(result)),
                 qPrintable(header));
    }
    {
        MainWindow w;
        const QString header = goAndReadJournalHeader(w, 1);
        QCOMPARE(w.timingCheckControl->shownText(), QStringLiteral("No check of this output yet"));
        QVERIFY(header.contains(QStringLiteral("# audio output")));
        QVERIFY(!header.contains(QStringLiteral("loop-back")));
    }
    forgetRememberedSettings();
}

// Without an audio server nothing can be recorded: the window says so and
// offers no "Start"; closing it stores nothing.
void MainWindowTester::checkWithoutAnyInputSaysSo()
{
    MainWindow w;
    QString status;
    bool startable = true;
    QTimer::singleShot(0, &w, [&] {
        auto *dialog = qobject_cast<TimingCheckDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        status = dialog->statusText();
        startable = dialog->startButton()->isEnabled();
        dialog->reject();
    });
    w.timingCheckControl->button()->click();
    QVERIFY2(status.startsWith(QStringLiteral("No input can be recorded")), qPrintable(status));
    QVERIFY(!startable);
    QVERIFY(!anyTimingCheckStored());
    QCOMPARE(w.timingCheckControl->shownText(), QStringLiteral("No check of this output yet"));
}

TARQUEL_FAKE_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_loopbackwindow.moc"
