#include "FakeAudioEngine.h"
#include "TestSupport.h"

#include "app/MainWindow.h"
#include "experiment/ResultsFile.h"
#include "experiment/TrialOrder.h"
#include "app/LabOptionsPanel.h"
#include "app/NoticeArea.h"
#include "experiment/TrialPlayer.h"
#include "subject/SubjectWindow.h"

#include <QComboBox>
#include <QSpinBox>

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// Drives session start, the run's bookkeeping, the results file and the
// run's audio failures through the main window, with a stand-in engine that
// plays nothing.
class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void practiceThenCancelledFolder();
    void goHandsOverToTheListener();
    void answersAreCountedAndJournaled();
    void invalidResponseWarns();
    void closingMidRunAbandonsTheRun();
    void resultsFileIsSaved();
    void failedOrCancelledSaveOffersRetry();
    void brokenFileIsNotedInTheJournal();
    void journalSurvivesAKilledProcess();
    void childAnswersThenHangs();
    void audioFailureStopsTheRun();
    void refusedOutputIsSaidAndNoRunStarts();
    void watchdogCatchesASoundThatNeverEnds();
    void stalledDeviceHoldsTheButtons();
    void breaksAfterEveryNTrials();
    void settingsAreRememberedAcrossStarts();
    void missingRememberedChoicesAreSaidAndKept();
    void closingTheMainWindowMidRun();

private:
    void prepare(MainWindow &w, ModalDriver &driver, bool experiment = false,
                 const QString &folder = QString());
    void answerAll(MainWindow &w, const QVector<int> &answers);
    static QStringList journalRows(const QString &path);
    static FakeAudioEngine *fake(MainWindow &w);

    QTemporaryDir dir;
    QString stimuli;
};

void MainWindowTester::initTestCase()
{
    QVERIFY(dir.isValid());
    stimuli = dir.filePath(QStringLiteral("stimuli"));
    QVERIFY(QDir().mkpath(stimuli));
    // Three 250 ms files at 40 kHz with distinct content, named so that the
    // listing order (ignoring case) is a, B, c.
    const QStringList names{QStringLiteral("a.wav"), QStringLiteral("B.wav"), QStringLiteral("c.wav")};
    for (int f = 0; f < names.size(); ++f) {
        QVector<qint16> frames(10000);
        for (int i = 0; i < frames.size(); ++i)
            frames[i] = qint16(8000 * std::sin(2 * M_PI * (500.0 + 250 * f) * i / 40000.0 + 0.3) + 1);
        QVERIFY(writeWav16(QDir(stimuli).filePath(names[f]), frames, 40000));
    }
}

QStringList MainWindowTester::journalRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Header and note lines start with '#'; one line names the columns.
    QStringList rows;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1Char('#')) && !line.startsWith(QStringLiteral("trial\t")))
            rows.append(line);
    }
    return rows;
}

void MainWindowTester::prepare(MainWindow &w, ModalDriver &driver, bool experiment,
                               const QString &folder)
{
    w.trialOrderSeedFixed = true;
    w.trialOrderSeed = referenceTrialOrderSeed;
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    w.lineEditOutputFilePath->setText(dir.filePath(QStringLiteral("out")));
    w.checkBoxSaveData->setChecked(false);
    driver.chooseFolder(folder.isEmpty() ? stimuli : folder);
    if (experiment)
        w.on_pushButtonExperiment_clicked();
    else
        w.on_pushButtonPractice_clicked();
    QCOMPARE(driver.pending(), 0);
    driver.seen.clear();
}

FakeAudioEngine *MainWindowTester::fake(MainWindow &w)
{
    return static_cast<FakeAudioEngine *>(w.trialPlayer->engine());
}

// Answers every trial as the listener would, once its sound has ended (the
// stand-in engine reports each sound as just over).
void MainWindowTester::answerAll(MainWindow &w, const QVector<int> &answers)
{
    for (int answer : answers) {
        QTRY_VERIFY(!w.trialPlayer->isPlaying());
        w.updateMainwindow(answer);
    }
}

void MainWindowTester::practiceThenCancelledFolder()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);

    QCOMPARE(w.numSoundFiles, 3);
    QCOMPARE(w.trialOrder, (QVector<qint32>{0, 1, 2, 0, 1, 0, 2, 1, 2}));
    QCOMPARE(w.lineEditStatus->text(), QStringLiteral("practice 1/9"));
    QCOMPARE(w.samples.size(), 10000);
    QVERIFY(w.pushButtonGo->isEnabled());
    QVERIFY(!w.pushButtonExperiment->isEnabled());
    QVERIFY(w.pushButtonPractice->isEnabled());

    // Counts from the first session are cleared by the next start, which asks
    // for the folder again; a cancelled dialog leaves no session.
    w.settings.soundFiles[0].nT2 = 2;
    driver.chooseFolder(QString());
    w.on_pushButtonPractice_clicked();
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(w.numSoundFiles, 0);
    QVERIFY(w.settings.soundFiles.isEmpty());
    QVERIFY(w.trialOrder.isEmpty());
    QVERIFY(!w.pushButtonGo->isEnabled());
}

void MainWindowTester::goHandsOverToTheListener()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    prepare(w, driver);
    w.on_pushButtonGo_clicked();

    QVERIFY(!w.isEnabled());
    QVERIFY(w.subjectWindow);
    QVERIFY(w.subjectWindow->isVisible());
    QVERIFY(w.subjectWindow->isEnabled());
    QPushButton *ready = buttonWithText(w.subjectWindow, QStringLiteral("I am ready"));
    QVERIFY(ready && ready->isEnabled());

    // "I am ready" hands the first sound to the output at once, due at the
    // press plus its duration plus the silent interval.
    const qint64 beforeNs = monotonicNowNs();
    QTest::mouseClick(ready, Qt::LeftButton);
    QCOMPARE(w.trialCounter, 1);
    QCOMPARE(fake(w)->requests.size(), 1);
    const FakeAudioEngine::Request &request = fake(w)->requests.first();
    QCOMPARE(request.samples.size(), 10000);
    QVERIFY(request.onsetNs >= beforeNs + 1'250'000'000);
    QVERIFY(request.onsetNs <= request.madeNs + 1'250'000'000);
}

void MainWindowTester::answersAreCountedAndJournaled()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);
    w.on_pushButtonGo_clicked();
    QSignalSpy done(&w, &MainWindow::doneDataCollection);
    w.updateMainwindow(0);

    // Order 0 1 2 0 1 0 2 1 2; answers chosen so each file's counts differ.
    const QVector<int> answers{2, 4, 4, 2, 2, 4, 4, 2, 4};
    const QString journal = w.trialJournal.filePath();
    QVERIFY(QFile::exists(journal));
    for (int k = 0; k < answers.size(); ++k) {
        // The third sound reaches the server too late for its first 400 frames.
        fake(w)->framesLostAtStart = k == 1 ? 400 : 0;
        answerAll(w, {answers[k]});
        // Each answer is on disk before the next sound is even scheduled to play.
        QCOMPARE(journalRows(journal).size(), k + 1);
        if (k + 1 < answers.size())
            QCOMPARE(w.lineEditStatus->text(), QStringLiteral("practice %1/9").arg(k + 2));
    }

    QCOMPARE(w.settings.soundFiles[0].nT2, 2);   // trials 1, 4, 6: 2, 2, 4
    QCOMPARE(w.settings.soundFiles[0].nT4, 1);
    QCOMPARE(w.settings.soundFiles[1].nT2, 2);   // trials 2, 5, 8: 4, 2, 2
    QCOMPARE(w.settings.soundFiles[2].nT4, 3);   // trials 3, 7, 9: 4, 4, 4
    QCOMPARE(w.trendCounts, (QVector<double>{2, 2, 0}));
    QCOMPARE(w.trendPoints[2].y(), 0.0);
    for (const SoundFileRecord &r : std::as_const(w.settings.soundFiles))
        QCOMPARE(r.nT2 + r.nT4, 3);

    QCOMPARE(done.count(), 1);
    QCOMPARE(done.first().at(0).toDouble(), 0.25);
    // The run's mean reaction time, over the answers the journal holds.
    QCOMPARE(done.first().at(1).toDouble(), meanReactionTimeMs(w.runAnswers));
    QVERIFY(done.first().at(1).toDouble() > 0.0);
    QCOMPARE(done.first().at(2).toInt(), 0);
    QVERIFY(driver.seen.isEmpty());   // "Save data to file" unchecked: no dialog

    // The journal's header reproduces the order; its rows name every trial.
    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.contains(QStringLiteral("# trial order seed\t3499211612\n")));
    QVERIFY(text.contains(QStringLiteral("# trial order (sound-file index from 0)\t0\t1\t2\t0\t1\t0\t2\t1\t2\n")));
    QVERIFY(text.contains(QStringLiteral("# sound files\ta.wav\tB.wav\tc.wav\n")));
    // Names without a number of their own: the files stand at their places
    // in the listing.
    QVERIFY(text.contains(QStringLiteral("# sound files\ta.wav\tB.wav\tc.wav\n# sound-file numbers\t1\t2\t3\n")));
    // A sound whose start may not have been played is said beside its row.
    QCOMPARE(text.count(QStringLiteral("may not have been played")), 1);
    QVERIFY(text.contains(QStringLiteral("\n# trial 3: the first 10.00 ms of c.wav may not have been played (")));
    const QStringList rows = journalRows(journal);
    QCOMPARE(rows.first().section(QLatin1Char('\t'), 0, 2), QStringLiteral("1\ta.wav\t2"));
    QCOMPARE(rows.last().section(QLatin1Char('\t'), 0, 2), QStringLiteral("9\tc.wav\t4"));
    // Answers made inside the program carry no time of their own: each is
    // timed at its arrival, and says so before its row.
    QVERIFY(text.contains(QRegularExpression(
        QStringLiteral("\n# answer times\t(evdev|XInput2 raw events|window-system time)\ntrial\t"))));
    QCOMPARE(text.count(QStringLiteral(": answer timed at its arrival in the program\n")), 9);
    QVERIFY(text.contains(QStringLiteral("\n# trial 9: answer timed at its arrival in the program\n9\tc.wav\t4\t")));
}

void MainWindowTester::invalidResponseWarns()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);
    w.on_pushButtonGo_clicked();
    driver.answerMessage(QMessageBox::Ok);
    w.updateMainwindow(3);
    QCOMPARE(driver.seen.size(), 1);
    QCOMPARE(driver.seen.first().title, QStringLiteral("Warning"));
    QCOMPARE(driver.seen.first().text, QStringLiteral("Invalid response"));
    for (const SoundFileRecord &r : std::as_const(w.settings.soundFiles))
        QCOMPARE(r.nT2 + r.nT4, 0);
}

void MainWindowTester::closingMidRunAbandonsTheRun()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    prepare(w, driver);
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);
    answerAll(w, {2});
    QVERIFY(w.trialPlayer->isPlaying());   // the second sound is on its way
    const int cancels = fake(w)->cancels;

    emit w.subjectWindow->subjectWindowClosed();
    QVERIFY(!w.trialPlayer->isPlaying());
    QCOMPARE(fake(w)->cancels, cancels + 1);
    QVERIFY(w.isEnabled());
    QVERIFY(w.pushButtonExperiment->isEnabled());
    QVERIFY(!w.pushButtonGo->isEnabled());

    // A late answer from the abandoned run is not counted anywhere.
    w.updateMainwindow(4);
    QCOMPARE(w.settings.soundFiles[1].nT4, 0);
    QCOMPARE(journalRows(w.trialJournal.filePath()).size(), 1);

    // The closed window hears nothing from the next run.
    QSignalSpy spy(w.subjectWindow, &SubjectWindow::subjectResponded);
    SubjectWindow *old = w.subjectWindow;
    prepare(w, driver, true);
    w.on_pushButtonGo_clicked();
    QVERIFY(w.subjectWindow != old);
    emit w.soundPlaying(-1);
    QVERIFY(!buttonWithText(old, QStringLiteral("Tone 2"))->isEnabled());
}

void MainWindowTester::resultsFileIsSaved()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);
    w.checkBoxSaveData->setChecked(true);
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);

    // A folder that does not exist yet is created with its parents.
    const QString target = dir.filePath(QStringLiteral("new/deeper/results.txt"));
    driver.chooseSavePath(target);
    answerAll(w, {2, 4, 4, 2, 2, 4, 4, 2, 4});
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen.last().className, QStringLiteral("QFileDialog"));
    QCOMPARE(driver.seen.last().title, QStringLiteral("Save a file"));
    QVERIFY(driver.seen.last().enabled);

    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("filename\tnT2\tnT4\r\na.wav\t2\t1\r\nB.wav\t2\t1\r\nc.wav\t0\t3\r\n"));
    QCOMPARE(w.settings.outputFileName, QStringLiteral("results.txt"));
    QCOMPARE(journalRows(journalCopyPath(target)).size(), 9);

    // The next save proposes the first stem under which all three files are
    // free: a journal copy left over takes "-2" out too. The session number
    // stays as typed.
    const QString folder = dir.filePath(QStringLiteral("new/deeper/"));
    QVERIFY(saveFileAtomically(folder + "results-2_trials.tsv", "left over"));
    QVERIFY(saveFileAtomically(folder + "results_summary.tsv", "old"));
    w.settings.soundFiles[2].nT2 = 7;

    // Picking a stem whose files exist asks once for all of them ("No" by
    // default, back to the dialog); "Yes" replaces the three under that stem.
    driver.chooseSavePath(target);
    driver.answerMessage(QMessageBox::No);
    driver.chooseSavePath(target);
    driver.answerMessage(QMessageBox::Yes);
    w.writeResultsFile();
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen.size(), 5);
    QCOMPARE(driver.seen[1].proposedFile, folder + "results-3.txt");
    QCOMPARE(driver.seen[2].defaultButton, int(QMessageBox::No));
    QCOMPARE(driver.seen[2].text.count(folder), 3);
    QCOMPARE(driver.seen[3].proposedFile, folder + "results-3.txt");
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("c.wav\t7\t3\r\n"));
    QFile summary(folder + "results_summary.tsv");
    QVERIFY(summary.open(QIODevice::ReadOnly) && summary.readAll().startsWith("# fit"));
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             (QStringList{"results-2_trials.tsv", "results.txt", "results_summary.tsv", "results_trials.tsv"}));
}

void MainWindowTester::failedOrCancelledSaveOffersRetry()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);

    // A path under a plain file cannot be written: the warning names it, the
    // experimenter is asked, and the second try lands.
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString bad = dir.filePath(QStringLiteral("blocker/results.txt"));
    const QString good = dir.filePath(QStringLiteral("retry/results.txt"));
    driver.chooseSavePath(bad);
    driver.answerMessage(QMessageBox::Ok);
    driver.answerMessage(QMessageBox::Yes);
    driver.chooseSavePath(good);
    w.writeResultsFile();
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen.size(), 4);
    QCOMPARE(driver.seen[1].title, QStringLiteral("Warning"));
    // The text as ever, then why, and what of the save was done: the
    // summary goes first and fails, so nothing was written.
    QCOMPARE(driver.seen[1].text, QStringLiteral("could not open file for writing \r\n")
                                      + dir.filePath(QStringLiteral("blocker")) + QStringLiteral("results.txt")
                                      + "\r\n(" + dir.filePath(QStringLiteral("blocker/results_summary.tsv"))
                                      + ": the folder could not be created)\r\nNothing was written.");
    QCOMPARE(driver.seen[2].title, QStringLiteral("Question"));
    QVERIFY(QFile::exists(good));
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("blocker"))).size(), 0);

    // A cancelled dialog asks too; only an explicit "No" gives up.
    driver.seen.clear();
    driver.chooseSavePath(QString());
    driver.answerMessage(QMessageBox::No);
    w.writeResultsFile();
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen.size(), 2);
    QCOMPARE(driver.seen[1].title, QStringLiteral("Question"));
}

// A file that breaks on disk after the folder was checked plays as silence:
// the main window says so at once, without holding the run up, and the
// journal next to that trial's answer.
void MainWindowTester::brokenFileIsNotedInTheJournal()
{
    const QString folder = dir.filePath(QStringLiteral("breaking"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &name : QDir(stimuli).entryList(QDir::Files))
        QVERIFY(QFile::copy(QDir(stimuli).filePath(name), QDir(folder).filePath(name)));

    MainWindow w;
    ModalDriver driver;
    prepare(w, driver, false, folder);
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);

    QFile broken(QDir(folder).filePath(QStringLiteral("B.wav")));   // trial 2
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("RIFF");
    broken.close();
    answerAll(w, {2, 4});

    QFile journal(w.trialJournal.filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'));
    const int note = lines.indexOf(QRegularExpression(QStringLiteral("^# trial 2: B\\.wav .*silence was played instead$")));
    QVERIFY2(note > 0, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(lines.at(note + 1).startsWith(QStringLiteral("2\tB.wav\t4\t")));
    const int previousRow = lines.lastIndexOf(QRegularExpression(QStringLiteral("^1\t.*")), note);
    QVERIFY(lines.at(previousRow).startsWith(QStringLiteral("1\ta.wav\t2\t")));
    QCOMPARE(journalRows(w.trialJournal.filePath()).size(), 2);

    // The answer to that silence is kept in the journal but counted nowhere;
    // the silence lasted as long as the file did when it was checked, at the
    // session's rate.
    QCOMPARE(lines.at(note + 1).section(QLatin1Char('\t'), 10, 10), QStringLiteral("0"));
    QCOMPARE(lines.at(previousRow).section(QLatin1Char('\t'), 10, 10), QStringLiteral("1"));
    QCOMPARE(w.settings.soundFiles[1].nT4, 0);
    QCOMPARE(w.settings.soundFiles[0].nT2, 1);
    QCOMPARE(fake(w)->requests[1].samples.size(), 10000);
    QVERIFY(!w.runAnswers[1].counted);

    // Told on the main window at the first silent trial, one line whose
    // count grows (B.wav is trials 2, 5, 8), and on the status line; no box.
    const QString notice = QStringLiteral("B.wav is not a WAV file. Its trials play silence, and their answers "
                                          "are not counted: %1 so far, the latest trial %2.");
    QCOMPARE(w.noticeArea->notices(), QStringList{notice.arg(1).arg(2)});
    QCOMPARE(w.lineEditStatus->text(), QStringLiteral("practice 3/9; silence played for B.wav"));
    answerAll(w, {2, 4, 2});
    QCOMPARE(w.noticeArea->notices(), QStringList{notice.arg(2).arg(5)});
    QVERIFY(driver.seen.isEmpty());

    // Should the output fail now, the uncounted answers are still answered
    // trials.
    driver.answerMessage(QMessageBox::Ok);
    fake(w)->fail(QStringLiteral("the audio server stopped answering"));
    QTRY_COMPARE(driver.pending(), 0);
    QVERIFY(driver.seen.last().text.contains(QStringLiteral("after 5 of 9 trials")));
}

// Runs this test program again as a child that answers five trials and then
// hangs; the child is killed, and the journal must hold all five answers.
void MainWindowTester::journalSurvivesAKilledProcess()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARQUEL_JOURNAL_CHILD"), dir.filePath(QStringLiteral("child")));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("childAnswersThenHangs")});
    QVERIFY(child.waitForStarted());
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (!output.contains("ANSWERED 5") && clock.elapsed() < 60000) {
        child.waitForReadyRead(500);
        output += child.readAll();
    }
    QVERIFY2(output.contains("ANSWERED 5"), output.constData());
    child.kill();
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QStringList journals = QDir(dir.filePath(QStringLiteral("child/sessions")))
                                     .entryList({QStringLiteral("*.tsv")}, QDir::Files);
    QCOMPARE(journals.size(), 1);
    const QStringList rows = journalRows(dir.filePath(QStringLiteral("child/sessions/")) + journals.first());
    QCOMPARE(rows.size(), 5);
    for (int k = 0; k < 5; ++k)
        QCOMPARE(rows[k].section(QLatin1Char('\t'), 0, 0).toInt(), k + 1);
}

void MainWindowTester::childAnswersThenHangs()
{
    const QString home = qEnvironmentVariable("TARQUEL_JOURNAL_CHILD");
    if (home.isEmpty())
        QSKIP("runs only as the child of journalSurvivesAKilledProcess");
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);
    w.trialJournalFolder = QDir(home).filePath(QStringLiteral("sessions"));
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);
    answerAll(w, {2, 4, 2, 4, 2});
    printf("ANSWERED 5\n");
    fflush(stdout);
    QTest::qWait(120000);
}

// The output stops for good in the middle of a run: the listener's window
// goes, the experimenter is told why and where the answers are, the journal
// says so, no results are written, and the program takes the next session.
void MainWindowTester::audioFailureStopsTheRun()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    prepare(w, driver);
    w.checkBoxSaveData->setChecked(true);
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);
    answerAll(w, {2, 4});
    const QString journal = w.trialJournal.filePath();

    driver.answerMessage(QMessageBox::Ok);
    fake(w)->fail(QStringLiteral("the connection to the audio server was lost (Connection terminated)"));
    QTRY_COMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen.size(), 1);   // the warning, and no save dialog
    QCOMPARE(driver.seen.first().title, QStringLiteral("Warning"));
    QVERIFY(driver.seen.first().text.startsWith(
        QStringLiteral("Sound could not be played: the connection to the audio server was lost")));
    QVERIFY(driver.seen.first().text.contains(QStringLiteral("after 2 of 9 trials")));
    QVERIFY(driver.seen.first().text.endsWith(journal));
    QVERIFY(!w.subjectWindow->isVisible());
    QVERIFY(w.isEnabled() && w.pushButtonPractice->isEnabled());
    QVERIFY(!w.runActive);

    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.endsWith(QStringLiteral("# audio output failed after 2 answered trials: the connection to the "
                                         "audio server was lost (Connection terminated); the run was stopped\n")));
    QCOMPARE(journalRows(journal).size(), 2);
    w.updateMainwindow(2);   // a click that was on its way counts nowhere
    QCOMPARE(journalRows(journal).size(), 2);

    // The next session opens the output again.
    prepare(w, driver);
    w.on_pushButtonGo_clicked();
    QVERIFY(w.runActive && fake(w)->isOpen());
}

// An output that cannot be opened is said when the folder is chosen and
// again at "Go", which then starts no run.
void MainWindowTester::refusedOutputIsSaidAndNoRunStarts()
{
    MainWindow w;
    ModalDriver driver;
    fake(w)->refusal = QStringLiteral("no audio server could be reached (Connection refused)");
    w.trialJournalFolder = dir.filePath(QStringLiteral("sessions"));
    driver.chooseFolder(stimuli);
    driver.answerMessage(QMessageBox::Ok);
    w.on_pushButtonPractice_clicked();
    QCOMPARE(driver.pending(), 0);
    QVERIFY(driver.seen.last().text.startsWith(QStringLiteral("Sound cannot be played: no audio server")));
    QCOMPARE(w.numSoundFiles, 3);
    driver.seen.clear();

    driver.answerMessage(QMessageBox::Ok);
    w.on_pushButtonGo_clicked();
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen.size(), 1);
    QCOMPARE(driver.seen.first().title, QStringLiteral("Warning"));
    QCOMPARE(driver.seen.first().text.section(QLatin1Char('\n'), 0, 0),
             QStringLiteral("Sound cannot be played: no audio server could be reached (Connection refused)."));
    QVERIFY(!w.runActive && !w.subjectWindow);
    QVERIFY(w.isEnabled() && w.pushButtonGo->isEnabled());

    fake(w)->refusal.clear();
    w.on_pushButtonGo_clicked();
    QVERIFY(w.runActive && w.subjectWindow);
}

void MainWindowTester::watchdogCatchesASoundThatNeverEnds()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);
    w.lineEditSilentInterval->setText(QStringLiteral("0"));
    w.on_pushButtonGo_clicked();
    fake(w)->placing = FakeAudioEngine::Placing::Never;
    w.trialPlayer->watchdogMarginNs = 1'000'000'000;
    driver.answerMessage(QMessageBox::Ok);
    w.updateMainwindow(0);
    QTRY_VERIFY_WITH_TIMEOUT(driver.pending() == 0, 10000);
    QVERIFY(driver.seen.first().text.contains(QStringLiteral("did not play the sound")));
    QVERIFY(!w.runActive && w.isEnabled());
}

// A break after every 4 answers of 9 (never after the last): the next
// sound waits for "I am ready" and counts from it; the journal notes each
// break, and an answer given by key says so.
// The device stalls while the first sound is due: the buttons stay off while
// it stands still, come on only after the sound's revised end, and the
// journal says how late the sound started, with the row's times and the
// reaction time taken from the revised timing.
void MainWindowTester::stalledDeviceHoldsTheButtons()
{
    MainWindow w;
    ModalDriver driver;
    prepare(w, driver);
    w.lineEditSilentInterval->setText(QStringLiteral("0"));
    w.on_pushButtonGo_clicked();
    fake(w)->placing = FakeAudioEngine::Placing::OnTime;
    QSignalSpy playing(&w, &MainWindow::soundPlaying);
    w.updateMainwindow(0);
    QTRY_VERIFY(!fake(w)->placed.empty());
    const SoundTiming planned = fake(w)->placed.back();

    fake(w)->stallAndMoveLastSound(300'000'000);
    while (monotonicNowNs() < planned.endNs + 50'000'000)
        QTest::qWait(10);
    QVERIFY(w.trialPlayer->isPlaying());   // nothing is over while the device stands still
    QVERIFY(!playing.contains(QVariantList{-1}));
    fake(w)->deviceMovesAgain();
    QTRY_VERIFY_WITH_TIMEOUT(!w.trialPlayer->isPlaying(), 5000);
    const qint64 endedNs = monotonicNowNs();
    QVERIFY(endedNs >= planned.endNs + 300'000'000);
    QVERIFY(playing.contains(QVariantList{-1}));

    QTest::qWait(20);
    w.updateMainwindow(2);
    const QString journal = w.trialJournal.filePath();
    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.contains(QStringLiteral("\n# trial 1: the output device stalled; a.wav started 300.00 ms later than "
                                          "planned\n1\ta.wav\t2\t")),
             qPrintable(text));
    const QStringList row = journalRows(journal).first().split(QLatin1Char('\t'));
    const double revisedEndMs = double(planned.endNs + 300'000'000 - w.runStartNs) / 1e6;
    QCOMPARE(row[6].toDouble(), std::round(revisedEndMs * 100) / 100);
    QCOMPARE(row[7], QStringLiteral("300.00"));   // onset error: the revised onset against the request
    // Counted from the revised end: 20 ms and a little, never 320.
    QVERIFY2(row[3].toDouble() >= 20.0 && row[3].toDouble() < 200.0, qPrintable(row[3]));
}

void MainWindowTester::breaksAfterEveryNTrials()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    prepare(w, driver);
    w.labOptions->setBreakEvery(4);
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);
    answerAll(w, {2, 4, 2, 4});
    QCOMPARE(fake(w)->requests.size(), 4);   // no fifth sound yet
    QVERIFY(!w.trialPlayer->isPlaying());
    QVERIFY(buttonWithText(w.subjectWindow, QStringLiteral("I am ready"))->isVisible());

    QTest::qWait(30);
    const qint64 pressNs = monotonicNowNs();
    QTest::keyClick(w.subjectWindow, Qt::Key_Space);
    QCOMPARE(fake(w)->requests.size(), 5);
    QVERIFY(fake(w)->requests.last().onsetNs >= pressNs + 1'250'000'000);
    QTRY_VERIFY(!w.trialPlayer->isPlaying());
    QTest::keyClick(w.subjectWindow, Qt::Key_2);   // trial 5, by key
    answerAll(w, {4, 2, 4});
    QVERIFY(buttonWithText(w.subjectWindow, QStringLiteral("I am ready"))->isVisible());
    w.updateMainwindow(0);
    answerAll(w, {2});   // the last: no break after it

    QFile file(w.trialJournal.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    const QStringList breaks = lines.filter(QRegularExpression(QStringLiteral("^# break after trial")));
    QCOMPARE(breaks.size(), 2);
    QVERIFY(breaks[0].startsWith(QStringLiteral("# break after trial 4\tlength (s)\t0.")));
    QVERIFY(breaks[1].startsWith(QStringLiteral("# break after trial 8\tlength (s)\t")));
    QCOMPARE(lines.indexOf(breaks[0]), lines.indexOf(QRegularExpression(QStringLiteral("^4\t.*"))) + 1);
    const QStringList rows = journalRows(w.trialJournal.filePath());
    QCOMPARE(rows.size(), 9);
    QVERIFY(rows[4].endsWith(QStringLiteral("\tkey\t1\tNA")));
    QVERIFY(rows[5].endsWith(QStringLiteral("\tmouse\t1\tNA")));
}

// The lab's choices and the last folders come back at the next start; the
// output opens on the remembered device.
void MainWindowTester::settingsAreRememberedAcrossStarts()
{
    forgetRememberedSettings();
    {
        MainWindow first;
        first.labOptions->breakEveryBox()->setValue(7);
        first.labOptions->listenerScreenBox()->setCurrentIndex(1);   // experimenter's screen, full screen
        first.labOptions->audioOutputBox()->setCurrentIndex(2);      // the second output listed
    }
    MainWindow w;
    QCOMPARE(w.labOptions->breakEvery(), 7);
    QCOMPARE(w.labOptions->listenerScreen(), listenerExperimenterFullScreenKey());
    QCOMPARE(w.labOptions->audioOutput(), QStringLiteral("fake_booth"));
    ModalDriver driver;
    prepare(w, driver);
    QCOMPARE(fake(w)->device(), QStringLiteral("fake_booth"));
    QCOMPARE(w.remembered.stimulusFolder, stimuli);
    QCOMPARE(loadRememberedSettings().stimulusFolder, stimuli);
    forgetRememberedSettings();
}

// Remembered choices not there at start (the booth's output and screen off,
// the stimulus stick out) are said, stand in for the defaults, and stay
// remembered; "Go" warns about the output and asks about the screen, Cancel
// by default. The journal records the screen and the break interval.
void MainWindowTester::missingRememberedChoicesAreSaidAndKept()
{
    RememberedSettings stored;
    stored.audioOutput = QStringLiteral("booth_usb");
    stored.listenerScreen = QStringLiteral("DP-9");
    stored.stimulusFolder = dir.filePath(QStringLiteral("unplugged-stick"));
    saveRememberedSettings(stored);
    MainWindow w;
    QCOMPARE(w.noticeArea->notices(), (QStringList{missingListenerScreenText(stored.listenerScreen),
                                                   missingAudioOutputText(stored.audioOutput, QString())}));
    w.labOptions->breakEveryBox()->setValue(6);   // saves every lab option
    const RememberedSettings kept = loadRememberedSettings();
    QVERIFY(kept.audioOutput == stored.audioOutput && kept.listenerScreen == stored.listenerScreen);
    QCOMPARE(kept.stimulusFolder, stored.stimulusFolder);

    ModalDriver driver;
    prepare(w, driver);
    QCOMPARE(w.settings.folderDialogDir, desktopFolder());
    QCOMPARE(fake(w)->device(), QString());   // the server's default
    driver.answerMessage(QMessageBox::Ok);
    driver.answerMessage(QMessageBox::Cancel);
    w.on_pushButtonGo_clicked();
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen[0].text, missingAudioOutputText(stored.audioOutput, QStringLiteral("fake output")));
    QVERIFY(driver.seen[1].text.contains(QStringLiteral("Go on with a window on the experimenter's screen?")));
    QCOMPARE(driver.seen[1].defaultButton, int(QMessageBox::Cancel));
    QVERIFY(!w.runActive && !w.subjectWindow);

    // Another output chosen: nothing more is said about the first.
    w.labOptions->audioOutputBox()->setCurrentIndex(2);
    driver.answerMessage(QMessageBox::Yes);
    w.on_pushButtonGo_clicked();
    QVERIFY(w.runActive);
    QCOMPARE(fake(w)->device(), QStringLiteral("fake_booth"));
    QCOMPARE(w.noticeArea->count(), 0);
    QFile journal(w.trialJournal.filePath());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QByteArray header = journal.readAll();
    QVERIFY(header.contains("\n# break every (trials)\t6\n# listener screen\tWindow on the experimenter's screen "
                            "(DP-9 was chosen but is not connected)\n"));
    forgetRememberedSettings();
}

// Closing the main window during a run: No keeps the run; Yes ends it as
// the listener's window would, says where the journal is, and closes.
void MainWindowTester::closingTheMainWindowMidRun()
{
    MainWindow w;
    w.show();
    ModalDriver driver;
    prepare(w, driver);
    w.on_pushButtonGo_clicked();
    w.updateMainwindow(0);
    answerAll(w, {2});

    driver.answerMessage(QMessageBox::No);
    QVERIFY(!w.close());
    QVERIFY(w.runActive && w.isVisible());

    driver.answerMessage(QMessageBox::Yes);
    driver.answerMessage(QMessageBox::Ok);
    QVERIFY(w.close());
    QCOMPARE(driver.pending(), 0);
    QCOMPARE(driver.seen[1].title, QStringLiteral("Question"));
    QVERIFY(driver.seen[2].text.endsWith(w.trialJournal.filePath()));
    QVERIFY(!w.runActive);
    QVERIFY(!w.subjectWindow->isVisible());
    QCOMPARE(journalRows(w.trialJournal.filePath()).size(), 1);
}

TARQUEL_FAKE_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_session.moc"
