#include "experiment/ResultsFile.h"
#include "experiment/TrialJournal.h"
#include "experiment/TrialOrder.h"

#include <QTemporaryDir>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif
#include <QTimeZone>
#include <QtTest>

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <string>

// What fsync() was called on, as /proc/self/fd names it: this program's own
// fsync() is found before the C library's, so the tests see what a save
// forces to disk.
static QStringList syncedPaths;
extern "C" int fsync(int fd)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    if (length > 0)
        syncedPaths.append(QFile::decodeName(QByteArray(target, int(length))));
    return int(::syscall(SYS_fsync, fd));
}

class ResultsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void resultsBytes();
    void fileNamesInLocaleEncoding();
    void atomicSave();
    void savesReachTheDisk();
    void journalCopyName_data();
    void journalCopyName();
    void savesInOrderStopAtAFailure();
    void journalRoundTrip();
    void journalOfAGraphServer();
    void deviceStallNotes_data();
    void deviceStallNotes();
    void journalFileNames();
    void journalOfAFailedOpenIsNone();
    void freeNames();

private:
    static SoundFileRecord record(const QString &name, int nT2, int nT4)
    {
        SoundFileRecord r;
        r.fileName = name;
        r.nT2 = nT2;
        r.nT4 = nT4;
        return r;
    }
};

void ResultsFileTest::resultsBytes()
{
    QCOMPARE(resultsFileBytes({record("tone1.wav", 2, 1), record("tone2.wav", 0, 3)}),
             QByteArray("filename\tnT2\tnT4\r\ntone1.wav\t2\t1\r\ntone2.wav\t0\t3\r\n"));
    QCOMPARE(resultsFileBytes({record("only.wav", 40, 0)}),
             QByteArray("filename\tnT2\tnT4\r\nonly.wav\t40\t0\r\n"));
    QCOMPARE(resultsFileBytes({}), QByteArray());
}

void ResultsFileTest::fileNamesInLocaleEncoding()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 writes UTF-8 on every Unix system; there is no other locale
    // encoding to try.
    QCOMPARE(resultsFileBytes({record(QStringLiteral("t\u00e9") + ".wav", 1, 2)}),
             QByteArray("filename\tnT2\tnT4\r\nt\xc3\xa9.wav\t1\t2\r\n"));
#else
    QTextCodec *saved = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const QByteArray latin1 = resultsFileBytes({record(QStringLiteral("t\u00e9")  + ".wav", 1, 2)});
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    const QByteArray utf8 = resultsFileBytes({record(QStringLiteral("t\u00e9") + ".wav", 1, 2)});
    QTextCodec::setCodecForLocale(saved);
    QVERIFY(latin1.contains("t\xe9.wav\t1\t2\r\n"));
    QVERIFY(utf8.contains("t\xc3\xa9.wav\t1\t2\r\n"));
#endif
}

void ResultsFileTest::atomicSave()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("a/b/c/results.txt");
    QString reason;
    QVERIFY(saveFileAtomically(path, "first", &reason));
    QVERIFY(saveFileAtomically(path, "second", &reason));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("second"));

    // A target that is a folder, a folder under a plain file, no name at all:
    // each fails with a reason and leaves what was there.
    QVERIFY(QDir().mkpath(dir.filePath("taken.txt")));
    QVERIFY(!saveFileAtomically(dir.filePath("taken.txt"), "x", &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(QFileInfo(dir.filePath("taken.txt")).isDir());
    QVERIFY(!saveFileAtomically(path + "/under-a-file.txt", "x", &reason));
    QVERIFY(!saveFileAtomically(QString(), "x", &reason));
    QCOMPARE(QFileInfo(path).size(), qint64(6));
}

// The file reaches the disk before it takes its name, the folder with the
// new name after.
void ResultsFileTest::savesReachTheDisk()
{
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    for (const QByteArray &bytes : {QByteArray("new"), QByteArray("replaced")}) {
        syncedPaths.clear();
        QVERIFY(saveFileAtomically(folder + "/results.txt", bytes));
        QVERIFY2(syncedPaths.size() >= 2 && syncedPaths.first().startsWith(folder + '/'),
                 qPrintable(syncedPaths.join(' ')));
        QCOMPARE(syncedPaths.last(), folder);
    }
}

void ResultsFileTest::journalCopyName_data()
{
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("copy");
    QTest::newRow(".txt") << "/x/S1_practice_1.txt" << "/x/S1_practice_1_trials.tsv";
    QTest::newRow(".TXT") << "/x/S1.TXT" << "/x/S1_trials.tsv";
    QTest::newRow("other suffix") << "/x/S1.csv" << "/x/S1.csv_trials.tsv";
    QTest::newRow(".tsv") << "/x/S1.tsv" << "/x/S1.tsv_trials.tsv";
    QTest::newRow("no suffix") << "/x/S1" << "/x/S1_trials.tsv";
}

// The summary shares the journal copy's stem, whatever the suffix.
void ResultsFileTest::journalCopyName()
{
    QFETCH(QString, results);
    QFETCH(QString, copy);
    QCOMPARE(journalCopyPath(results), copy);
    QCOMPARE(resultsFileSet(results).all(), (QStringList{copy, copy.chopped(11) + "_summary.tsv", results}));
}

// Companions first, the results file last; a failure stops there, and the
// warning says why and which files are already new.
void ResultsFileTest::savesInOrderStopAtAFailure()
{
    QTemporaryDir dir;
    const ResultsFileSet set = resultsFileSet(dir.filePath("S01.txt"));
    QVERIFY(saveFileAtomically(set.results, "old"));
    QVERIFY(QDir().mkpath(set.summary));   // a folder holds the summary's name
    const SaveOutcome outcome = saveFilesInOrder({{set.trials, "new"}, {set.summary, "new"}, {set.results, "new"}});
    QCOMPARE(outcome.written, QStringList{set.trials});
    QCOMPARE(outcome.failedPath, set.summary);
    QFile results(set.results);
    QVERIFY(results.open(QIODevice::ReadOnly));
    QCOMPARE(results.readAll(), QByteArray("old"));
    QCOMPARE(saveFailureText("first", set.results, outcome),
             "first\r\n(" + set.summary + ": " + outcome.reason + ")\r\nAlready new: " + set.trials
                 + "\r\nThe results file was not written; an earlier file of its name is whole.");
    QVERIFY(!outcome.reason.isEmpty());
}

// PipeWire's own engine names its graph's rate and cycle.
void ResultsFileTest::journalOfAGraphServer()
{
    JournalHeader header;
    header.startTime = QDateTime(QDate(2026, 12, 8), QTime(9, 0), QTimeZone(0));
    header.audioOutput = {"libpipewire", "PipeWire 0.3.65", "alsa_output.usb (Booth)", 48000, true, "100 %",
                          48000, 1024, QString()};
    header.outputDevice.known = true;
    header.outputDevice.channels = {{"front-left", 60.0, volumePercentToDb(60.0)}, {"front-right", 60.0, volumePercentToDb(60.0)}};
    header.outputDevice.portName = "analog-output-headphones";
    header.outputDevice.portDescription = "Headphones";
    header.calibration = "1000 Hz at -20.0 dBFS RMS\t84.0 dB SPL\tA\t2026-12-08T10:30:00+01:00";
    QVERIFY(journalHeaderText(header).contains("\n# audio output\tlibpipewire\tPipeWire 0.3.65\talsa_output.usb (Booth)"
                                               "\t48000\tresampled by the server\tvolume 100 %\tgraph rate 48000 Hz"
                                               "\tcycle 1024 samples\n"
                                               "# output device volume\tfront-left 60 % (-13.31 dB)\tfront-right 60 % "
                                               "(-13.31 dB)\n# output device muted\tno\n"
                                               "# output device port\tanalog-output-headphones (Headphones)\n"
                                               "# calibration\t1000 Hz at -20.0 dBFS RMS\t84.0 dB SPL\tA"
                                               "\t2026-12-08T10:30:00+01:00\n"));
}

void ResultsFileTest::deviceStallNotes_data()
{
    QTest::addColumn<qint64>("onsetMovedNs");
    QTest::addColumn<qint64>("endMovedNs");
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<QString>("note");
    QTest::newRow("started late") << qint64(91'234'567) << qint64(91'234'567) << true
                                  << "the output device stalled; s2.wav started 91.23 ms later than planned";
    QTest::newRow("ended late") << qint64(0) << qint64(1'000'400'000) << true
                                << "the output device stalled during s2.wav; it ended 1000.40 ms later than planned";
    QTest::newRow("moved within the tolerance") << qint64(400'000) << qint64(400'000) << true << "";
    QTest::newRow("no stall") << qint64(0) << qint64(0) << false << "";
}

void ResultsFileTest::deviceStallNotes()
{
    QFETCH(qint64, onsetMovedNs);
    QFETCH(qint64, endMovedNs);
    QFETCH(bool, stalled);
    QFETCH(QString, note);
    SoundTiming timing;
    timing.plannedOnsetNs = 1'000'000'000;
    timing.plannedEndNs = 1'100'000'000;
    timing.onsetNs = timing.plannedOnsetNs + onsetMovedNs;
    timing.endNs = timing.plannedEndNs + endMovedNs;
    timing.deviceStalled = stalled;
    QCOMPARE(deviceStallNote(timing, QStringLiteral("s2.wav")), note);
}

void ResultsFileTest::journalRoundTrip()
{
    QTemporaryDir dir;
    JournalHeader header;
    header.programVersion = "test";
    header.startTime = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3), QTimeZone(3600));
    header.subjectCode = "S 01/x";
    header.sessionTypeName = "practice";
    header.sessionNumber = 2;
    header.soundFolder = "/stimuli";
    header.soundFileNames = QStringList{"a.wav", "b.wav"};
    header.samplingRate = 44100;
    header.repetitions = 3;
    header.trialOrderSeed = referenceTrialOrderSeed;
    header.trialOrder = buildTrialOrder(2, 3, referenceTrialOrderSeed);
    header.audioOutput = {"libpulse", "pulseaudio 16.1", "out (Speakers)", 48000, true, "100 %", 0, 0, QString()};
    header.answerTimes = "XInput2 raw events";

    TrialJournal journal;
    QString reason;
    QVERIFY2(journal.open(dir.filePath("sessions"), header, &reason), qPrintable(reason));
    const QString path = journal.filePath();
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("20261207-090503_S_01_x_practice_2.tsv"));
    QVERIFY(journal.append({1, "b.wav", 2, 612.25, 1890.004, 1200.5, 1278.125, 0.015, 105.3, "key"}));
    QVERIFY(journal.append({2, "a.wav", 4, 433, 3150, 2700, 2750, 0, 98, "mouse", true, 87.126}));
    // A name is written as it is, whatever it holds ("%3" once became the
    // reaction time); an answer to silence is marked uncounted.
    QVERIFY(journal.append({3, "mix%3.wav", 2, 1.5, 4000, 3900, 3910, 0, 98, "mouse", false}));

    // Readable while the journal is still open: nothing waits in a buffer.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QVERIFY(lines.contains("# trial order seed\t3499211612"));
    QVERIFY(lines.contains("# trial order (sound-file index from 0)\t1\t0\t0\t0\t1\t1"));
    QVERIFY(lines.contains("# sampling rate (Hz)\t44100"));
    // A server without a processing graph has neither its rate nor a cycle;
    // a device whose state no server gave is NA throughout, with no
    // calibration line.
    QVERIFY(lines.contains("# output device volume\tNA"));
    QVERIFY(lines.contains("# output device port\tNA"));
    QVERIFY(std::none_of(lines.begin(), lines.end(), [](const QByteArray &l) { return l.startsWith("# calibration"); }));
    QVERIFY(lines.contains("# audio output\tlibpulse\tpulseaudio 16.1\tout (Speakers)\t48000\tresampled by the server"
                           "\tvolume 100 %\tgraph rate NA\tcycle NA"));
    QVERIFY(lines.contains("# answer times\tXInput2 raw events"));
    QVERIFY(lines.contains("trial\tsound file\tanswer\treaction time (ms)\ttime since start (ms)\tsound onset (ms)"
                           "\tsound end (ms)\tonset error (ms)\toutput latency (ms)\tinput\tcounted\theld (ms)"));
    // A key's row has no time held; a click's has.
    QVERIFY(lines.contains("1\tb.wav\t2\t612.25\t1890.00\t1200.50\t1278.13\t0.01\t105.30\tkey\t1\tNA"));
    QVERIFY(lines.contains("2\ta.wav\t4\t433.00\t3150.00\t2700.00\t2750.00\t0.00\t98.00\tmouse\t1\t87.13"));
    QVERIFY(lines.contains("3\tmix%3.wav\t2\t1.50\t4000.00\t3900.00\t3910.00\t0.00\t98.00\tmouse\t0\tNA"));
    QVERIFY(lines.contains("# start time\t2026-12-07T09:05:03.000+01:00"));
    QCOMPARE(lines.last(), QByteArray());   // ends with a full line

    // A second run in the same second gets its own file.
    TrialJournal second;
    QVERIFY(second.open(dir.filePath("sessions"), header, &reason));
    QVERIFY(second.filePath() != path);
    QVERIFY(second.filePath().endsWith("_practice_2-2.tsv"));
}

void ResultsFileTest::journalFileNames()
{
    const QDateTime t(QDate(2026, 1, 2), QTime(3, 4, 5));
    QCOMPARE(journalFileName(t, "", "experiment", 0), QStringLiteral("20260102-030405___experiment_0.tsv"));
    QCOMPARE(journalFileName(t, "../..", "practice", 1), QStringLiteral("20260102-030405_.._.._practice_1.tsv"));
}

// A journal that could not be opened names no file, so that nothing of an
// earlier run is taken for this one's.
void ResultsFileTest::journalOfAFailedOpenIsNone()
{
    QTemporaryDir dir;
    JournalHeader header;
    header.startTime = QDateTime::currentDateTime();
    TrialJournal journal;
    QVERIFY(journal.open(dir.filePath("ok"), header));
    QVERIFY(journal.holdsEverything());
    QFile blocker(dir.filePath("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString reason;
    QVERIFY(!journal.open(dir.filePath("blocker/sessions"), header, &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(journal.filePath().isEmpty());
    QVERIFY(!journal.holdsEverything());
    QVERIFY(!journal.append({1, "a.wav", 2}));
}

void ResultsFileTest::freeNames()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("S01_practice001.txt");
    QCOMPARE(freeFilePath(path), path);
    QVERIFY(saveFileAtomically(path, "x"));
    QCOMPARE(freeFilePath(path), dir.filePath("S01_practice001-2.txt"));
    QVERIFY(saveFileAtomically(dir.filePath("S01_practice001-2.txt"), "x"));
    QCOMPARE(freeFilePath(path), dir.filePath("S01_practice001-3.txt"));
    QVERIFY(saveFileAtomically(dir.filePath("results"), "x"));
    QCOMPARE(freeFilePath(dir.filePath("results")), dir.filePath("results-2"));
}

QTEST_APPLESS_MAIN(ResultsFileTest)
#include "tst_resultsfile.moc"
