#ifndef SESSIONTEXT_H
#define SESSIONTEXT_H

#include <QStringList>

// Texts of the session panel, composed without any widget.

// "<subject>_<session type>NNN.txt": the session number in decimal, padded on
// the left with '0' to at least three characters (the sign counts as one, so
// -5 gives "0-5"); a longer number stays whole.
QString composeOutputFileName(const QString &subjectCode, const QString &sessionTypeName,
                              int sessionNumber);

// "<session type> <trial>/<trials>", the trial counted from 1.
QString composeProgressText(const QString &sessionTypeName, int trialNumber, int trialCount);

// The status line: the progress text, followed, once files have played
// silence in this session, by their names ("practice 5/9; silence played
// for B.wav").
QString composeStatusText(const QString &progressText, const QStringList &filesPlayedSilent);

// The notice for a file that broke on disk after the folder was checked:
// the file, why (problem follows the name: "is not a WAV file"), and its
// trials that have played silence so far, the latest of them by number.
QString silentTrialsNotice(const QString &fileName, const QString &problem, int silentTrials, int latestTrial);

// The session field read as a base-10 integer; 0 for anything else.
int parseSessionNumber(const QString &text);

// Panel formats: a rate in Hz with six significant digits (40000 -> "40000"),
// and seconds shown as milliseconds with two decimals (0.25 -> "250.00").
QString formatSamplingRate(double hertz);
QString formatSecondsAsMilliseconds(double seconds);

#endif // SESSIONTEXT_H
