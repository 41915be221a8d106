#ifndef TRIALJOURNAL_H
#define TRIALJOURNAL_H

#include "audio/AudioEngine.h"
#include "audio/OutputDeviceState.h"
#include "loopback/TimingCheckResult.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

// What a journal records about its run before the first answer.
struct JournalHeader
{
    QString programVersion;
    QDateTime startTime;
    QString subjectCode;
    QString sessionTypeName;       // "practice" or "experiment"
    qint32 sessionNumber = 0;
    QString soundFolder;
    QStringList soundFileNames;    // list order: index i is sound-file index i
    QVector<double> soundFileNumbers;   // each file's number on the identification curve, list order
    double samplingRate = 0.0;     // Hz
    qint32 repetitions = 0;
    qint32 breakEvery = 0;         // answers between the listener's breaks; 0: none
    QString listenerScreen;        // where the listener's window opened, in words
    quint32 trialOrderSeed = 0;
    QVector<qint32> trialOrder;    // sound-file indices from 0, presentation order
    AudioOutputInfo audioOutput;   // what plays the sounds
    OutputDeviceState outputDevice;   // its volume, mute state and port at the start
    QString calibration;           // the stored calibration's header fields; empty: none
    // What timed the answers: "XInput2 raw events", "evdev" or "window-system time".
    QString answerTimes;
    TimingCheckResult loopbackCheck;   // the last loop-back check of that output; invalid: none stored
};

// One answer as the journal stores it.
struct JournalRow
{
    qint32 trialNumber = 0;        // from 1
    QString soundFileName;
    qint32 answer = 0;             // 2 or 4
    double reactionTimeMs = 0.0;   // from the sound's estimated end to the answer's press
    double sinceRunStartMs = 0;    // milliseconds since "Go", when the answer was given
    // The trial's sound at the device, as the audio engine estimated it when
    // it placed the sound: milliseconds since "Go".
    double soundOnsetMs = 0.0;
    double soundEndMs = 0.0;
    double onsetErrorMs = 0.0;     // estimated onset minus the time it was due
    double outputLatencyMs = 0.0;  // the output latency in use
    QString input = QStringLiteral("mouse");   // how the answer was given: "mouse" or "key"
    bool counted = true;           // false: an answer to silence played for a broken file
    double heldMs = -1.0;          // press to release of a click; negative: none ("NA")
};

// The text of a journal: header lines start with "# ", then a line of column
// names, then one tab-separated row per answer. Plain UTF-8 text, LF line ends,
// readable by any tab-separated reader that skips "#" comment lines.
QByteArray journalHeaderText(const JournalHeader &header);
QByteArray journalRowText(const JournalRow &row);

// What the journal says of a sound that a stall of the output device moved
// from its plan: "the output device stalled; <file> started X ms later than
// planned", or "... stalled during <file>; it ended X ms later than planned"
// when only its end moved. Empty for a sound the device played as planned.
QString deviceStallNote(const SoundTiming &timing, const QString &fileName);

// The file name of a run's journal: start time, subject code, session type
// and number, with every character that is unsafe in a file name replaced.
QString journalFileName(const QDateTime &startTime, const QString &subjectCode,
                        const QString &sessionTypeName, qint32 sessionNumber);

// A per-trial journal on disk. Each answer is written and forced to the disk
// before append returns, so a crash or a killed process loses no answer that
// was given.
class TrialJournal
{
public:
    TrialJournal() = default;
    TrialJournal(const TrialJournal &) = delete;
    TrialJournal &operator=(const TrialJournal &) = delete;

    // Creates folder (with its parents) and a new journal in it. Returns false
    // with a plain description in *errorText when that fails.
    bool open(const QString &folder, const JournalHeader &header, QString *errorText = nullptr);
    bool append(const JournalRow &row);
    // A comment line ("# " + text) among the rows, for what a reader of the
    // rows must know about them; written as durably as a row.
    bool appendNote(const QString &text);
    void close();

    bool isOpen() const { return file.isOpen(); }
    // This run's journal: empty when its last open() failed.
    QString filePath() const { return file.fileName(); }
    // Writes that failed since the last open(), and why the last one did.
    int failedWrites() const { return failures; }
    QString lastError() const { return lastFailure; }
    // Opened, and every line given to it since is on disk.
    bool holdsEverything() const { return !file.fileName().isEmpty() && failures == 0 && complete; }

private:
    bool writeDurably(const QByteArray &bytes);

    QFile file;
    int failures = 0;
    QString lastFailure;
    bool complete = false;
};

#endif // TRIALJOURNAL_H
