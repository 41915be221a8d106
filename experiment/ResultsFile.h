#ifndef RESULTSFILE_H
#define RESULTSFILE_H

#include "app/SoundFileRecord.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The bytes of a results file: the header "filename", "nT2", "nT4" and one
// row per record in list order, fields separated by a TAB, every line ended
// by CR LF. File names are encoded in the locale's encoding. No header when
// there are no records.
QByteArray resultsFileBytes(const QVector<SoundFileRecord> &records);

// Writes bytes to filePath, creating its folder with any missing parents.
// The file is replaced atomically: afterwards it holds either all of the new
// bytes or what it held before. Returns false on any failure (folder, open,
// write or commit), with a plain description in *errorText when given.
bool saveFileAtomically(const QString &filePath, const QByteArray &bytes,
                        QString *errorText = nullptr);

// The name of the trial journal's copy beside a results file:
// "<results name without .txt>_trials.tsv" in the results file's folder.
QString journalCopyPath(const QString &resultsFilePath);

// A path where no file is yet: path itself when it is free, otherwise the
// first free one of "<name>-2.<suffix>", "<name>-3.<suffix>" ... in the same
// folder ("S01_practice001.txt" -> "S01_practice001-2.txt").
QString freeFilePath(const QString &path);

#endif // RESULTSFILE_H
