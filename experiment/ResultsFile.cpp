#include "experiment/ResultsFile.h"

#include "common/LocaleText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// "<name>-n.<suffix>" beside path.
QString numberedPath(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString stem = suffix.isEmpty() ? info.fileName() : info.fileName().chopped(suffix.size() + 1);
    const QString name = stem + QStringLiteral("-") + QString::number(n)
                         + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
    return info.dir().filePath(name);
}

bool anythingAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

QByteArray resultsFileBytes(const QVector<SoundFileRecord> &records)
{
    if (records.isEmpty())
        return QByteArray();

    QString text = QStringLiteral("filename\tnT2\tnT4\r\n");
    for (const SoundFileRecord &record : records) {
        text += record.fileName + QLatin1Char('\t') + QString::number(record.nT2)
                + QLatin1Char('\t') + QString::number(record.nT4) + QStringLiteral("\r\n");
    }
    return toLocaleText(text);
}

bool saveFileAtomically(const QString &filePath, const QByteArray &bytes, QString *errorText)
{
    auto fail = [errorText](const QString &reason) {
        if (errorText)
            *errorText = reason;
        return false;
    };
    if (filePath.isEmpty())
        return fail(QStringLiteral("no file name was given"));

    const QFileInfo info(filePath);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("the folder could not be created"));

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason);
    }
    // The new bytes are on the disk before they take the name; the rename
    // alone would not carry them there.
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                                    : QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit())
        return fail(file.errorString());
    // The new name lives in the folder, which is forced to disk in turn.
    syncFolder(info.absolutePath());
    return true;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

ResultsFileSet resultsFileSet(const QString &resultsFilePath)
{
    const QFileInfo info(resultsFilePath);
    QString stem = info.fileName();
    if (stem.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
        stem.chop(4);
    return {resultsFilePath, info.dir().filePath(stem + QStringLiteral("_trials.tsv")),
            info.dir().filePath(stem + QStringLiteral("_summary.tsv"))};
}

QString journalCopyPath(const QString &resultsFilePath)
{
    return resultsFileSet(resultsFilePath).trials;
}

QStringList existingFilesOf(const ResultsFileSet &set)
{
    QStringList existing;
    for (const QString &path : set.all()) {
        if (anythingAt(path))
            existing.append(path);
    }
    return existing;
}

QString freeFilePath(const QString &path)
{
    if (!anythingAt(path))
        return path;
    for (int n = 2;; ++n) {
        const QString candidate = numberedPath(path, n);
        if (!anythingAt(candidate))
            return candidate;
    }
}

QString freeResultsFilePath(const QString &path)
{
    if (existingFilesOf(resultsFileSet(path)).isEmpty())
        return path;
    for (int n = 2;; ++n) {
        const QString candidate = numberedPath(path, n);
        if (existingFilesOf(resultsFileSet(candidate)).isEmpty())
            return candidate;
    }
}

SaveOutcome saveFilesInOrder(const QVector<PlannedFile> &files)
{
    SaveOutcome outcome;
    for (const PlannedFile &file : files) {
        QString reason;
        if (!file.remove) {
            if (saveFileAtomically(file.path, file.bytes, &reason)) {
                outcome.written.append(file.path);
                continue;
            }
        } else {
            if (!anythingAt(file.path))
                continue;
            QFile old(file.path);
            if (old.remove()) {
                syncFolder(QFileInfo(file.path).absolutePath());
                outcome.removed.append(file.path);
                continue;
            }
            reason = old.errorString();
        }
        outcome.failedPath = file.path;
        outcome.reason = reason;
        return outcome;
    }
    return outcome;
}

QString saveFailureText(const QString &firstLine, const QString &resultsFilePath, const SaveOutcome &outcome)
{
    QString text = firstLine;
    if (outcome.ok())
        return text;
    text += outcome.failedPath == resultsFilePath
                ? QStringLiteral("\r\n(") + outcome.reason + QLatin1Char(')')
                : QStringLiteral("\r\n(") + outcome.failedPath + QStringLiteral(": ") + outcome.reason
                      + QLatin1Char(')');
    if (!outcome.written.isEmpty())
        text += QStringLiteral("\r\nAlready new: ") + outcome.written.join(QStringLiteral(", "));
    if (!outcome.removed.isEmpty())
        text += QStringLiteral("\r\nRemoved as out of date: ") + outcome.removed.join(QStringLiteral(", "));
    if (!outcome.written.isEmpty() || !outcome.removed.isEmpty())
        text += QStringLiteral("\r\nThe results file was not written; an earlier file of its name is whole.");
    else if (outcome.failedPath != resultsFilePath)
        text += QStringLiteral("\r\nNothing was written.");
    return text;
}
