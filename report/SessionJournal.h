#ifndef SESSIONJOURNAL_H
#define SESSIONJOURNAL_H

#include "analysis/Identification.h"
#include "analysis/SoundFileNumbers.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A trial journal read back: what the group report needs of one session.
//
// The reader is tolerant of journals of other versions: it finds the columns
// by their names in the column line (so columns added after "counted", or
// moved, do no harm), ignores every "#" line it does not know (header lines
// of later versions, notes among the rows such as "# trial 3: ..."), reads a
// journal without a "counted" column as counting every answer, and numbers
// the files of a journal without "# sound-file numbers" in listing order.
struct SessionJournal
{
    QString path;
    QString startTime;            // as written, with its UTC offset
    QString subjectCode;
    QString sessionType;          // "practice" or "experiment"
    QString sessionNumber;
    QString soundFolder;
    QString trialOrderSeed;
    QStringList soundFiles;       // listing order
    SoundFileNumbers numbers;     // from "# sound-file numbers", or listing order
    int plannedTrials = 0;        // the trial order's length (or repetitions x files)
    QVector<AnswerRecord> answers;   // every answer row, counted or not, in order
    bool lastLineCut = false;     // a last row without its line end was left out

    // Every trial of the order was answered.
    bool complete() const { return plannedTrials > 0 && answers.size() >= plannedTrials; }
    // Start time, subject code, session type, number and seed: the same
    // session found twice (a journal and its copy beside a results file).
    QString identity() const;
};

// Whether the file at path starts with the line "# Trial journal".
bool isTrialJournal(const QString &path);

// Reads the journal at path. Returns false, with the reason in plain words in
// *reason, for a file that cannot be read as a journal: not a journal, cut
// short within its header, or a row that makes no sense.
bool readSessionJournal(const QString &path, SessionJournal *journal, QString *reason);
// The same from the file's bytes (path is only recorded).
bool parseSessionJournal(const QByteArray &bytes, const QString &path, SessionJournal *journal, QString *reason);

#endif // SESSIONJOURNAL_H
