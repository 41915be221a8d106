#ifndef RESULTSFILE_H
#define RESULTSFILE_H

#include "app/SoundFileRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The bytes of a results file: the header "filename", "nT2", "nT4" and one
// row per record in list order, fields separated by a TAB, every line ended
// by CR LF. File names are encoded in the locale's encoding. No header when
// there are no records.
QByteArray resultsFileBytes(const QVector<SoundFileRecord> &records);

// Writes bytes to filePath, creating its folder with any missing parents.
// The file is replaced atomically: afterwards it holds either all of the new
// bytes or what it held before. The new file is forced to disk before it
// takes the name, and its folder after, so that a power cut soon after
// cannot lose the name. Returns false on any failure (folder, open, write,
// sync or commit), with a plain description in *errorText when given.
bool saveFileAtomically(const QString &filePath, const QByteArray &bytes,
                        QString *errorText = nullptr);

// Forces a folder's entries (a file created, renamed or removed in it) to
// disk. Best effort: a file system that cannot sync folders is left as it is.
void syncFolder(const QString &folder);

// The three files a save writes, sharing one stem: the results file, the
// copy of the trial journal and the identification summary. The stem is the
// results file's name without ".txt" (any letter case); another suffix stays
// part of the stem ("S1.csv" -> "S1.csv_trials.tsv").
struct ResultsFileSet
{
    QString results;   // as chosen
    QString trials;    // "<stem>_trials.tsv" in the same folder
    QString summary;   // "<stem>_summary.tsv" in the same folder

    QStringList all() const { return {trials, summary, results}; }   // in the order they are written
};
ResultsFileSet resultsFileSet(const QString &resultsFilePath);

// The name of the trial journal's copy beside a results file:
// resultsFileSet(resultsFilePath).trials.
QString journalCopyPath(const QString &resultsFilePath);

// The files of the set that exist already (as files or anything else), in
// the order they are written.
QStringList existingFilesOf(const ResultsFileSet &set);

// A path where no file is yet: path itself when it is free, otherwise the
// first free one of "<name>-2.<suffix>", "<name>-3.<suffix>" ... in the same
// folder ("S01_practice001.txt" -> "S01_practice001-2.txt").
QString freeFilePath(const QString &path);

// The first of path, "<name>-2.<suffix>", "<name>-3.<suffix>" ... under
// whose stem the results file and both companions are all free, so that the
// three always share one stem.
QString freeResultsFilePath(const QString &path);

// One file of a save in order: where it goes and what it holds. A file
// with remove set is taken away instead (a companion that cannot be made
// this time must not stay behind from an earlier save of the stem).
struct PlannedFile
{
    QString path;
    QByteArray bytes;
    bool remove = false;
};

struct SaveOutcome
{
    QStringList written;   // saved, in order, before any failure
    QStringList removed;   // taken away, before any failure
    QString failedPath;    // empty when every file was saved
    QString reason;        // why failedPath failed, in plain words

    bool ok() const { return failedPath.isEmpty(); }
};

// Saves the files one after the other, each atomically, and stops at the
// first failure: what comes after it is left as it was. With the results
// file last, a failure halfway leaves the old results file whole.
SaveOutcome saveFilesInOrder(const QVector<PlannedFile> &files);

// The warning for a save that failed: firstLine (the text every failed save
// begins with), then the reason, the file it concerns when that is not
// resultsFilePath, and which files were already new.
QString saveFailureText(const QString &firstLine, const QString &resultsFilePath, const SaveOutcome &outcome);

#endif // RESULTSFILE_H
