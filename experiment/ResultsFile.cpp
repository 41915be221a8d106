#include "experiment/ResultsFile.h"

#include "common/LocaleText.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

QString journalCopyPath(const QString &resultsFilePath)
{
    const QFileInfo info(resultsFilePath);
    QString base = info.fileName();
    if (base.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
        base.chop(4);
    return info.dir().filePath(base + QStringLiteral("_trials.tsv"));
}

QString freeFilePath(const QString &path)
{
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString stem = suffix.isEmpty() ? info.fileName() : info.fileName().chopped(suffix.size() + 1);
    for (int n = 2;; ++n) {
        const QString name = stem + QStringLiteral("-") + QString::number(n)
                             + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
        const QString candidate = info.dir().filePath(name);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}
