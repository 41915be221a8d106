#include "stimuli/SoundFolder.h"

#include "wav/WavFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <cstring>

QStringList listWavFileNames(const QString &folder)
{
    QStringList names;
    if (folder.isEmpty())
        return names;
    // QDir's defaults: every entry but hidden and system ones, sorted by name
    // ignoring case.
    const QFileInfoList entries = QDir(folder).entryInfoList();
    for (const QFileInfo &entry : entries) {
        if (entry.isFile() && entry.suffix().toLower() == QLatin1String("wav"))
            names.append(entry.fileName());
    }
    return names;
}

qint64 framesPerChannel(const WavFile &wav)
{
    if (wav.numChannels == 0)
        return 0;
    return qint64(wav.sampleCount) / wav.numChannels;
}

namespace {

// Why the reader refused the file, judged from the header fields it got to.
// The reader is a fresh object here, so a field it never reached is 0 rather
// than the previous file's value.
QString readFailure(const WavFile &wav)
{
    if (std::memcmp(wav.waveHeader, "WAVE", 4) != 0)
        return QStringLiteral("is not a WAV file");
    if (wav.audioFormat == 3)
        return QStringLiteral("holds floating-point samples; only integer (linear PCM) samples can be used");
    if (wav.audioFormat != 1 && wav.audioFormat != 0xFFFE)
        return QStringLiteral("is not linear PCM (its format code is %1)").arg(wav.audioFormat);
    if (wav.bitsPerSample != 8 && wav.bitsPerSample != 16 && wav.bitsPerSample != 24)
        return QStringLiteral("has %1 bits per sample; only 8, 16 or 24 can be used").arg(wav.bitsPerSample);
    return QStringLiteral("could not be read as a WAV file");
}

} // namespace

QString stimulusProblem(const WavFile &wav, bool readOk)
{
    if (!readOk)
        return readFailure(wav);
    if (wav.numChannels == 0)
        return QStringLiteral("declares no channels");
    if (wav.numChannels > 2)
        return QStringLiteral("has %1 channels; a stimulus must have 1 or 2").arg(wav.numChannels);
    if (wav.sampleRate == 0)
        return QStringLiteral("declares a sampling rate of 0 Hz");
    // A data chunk shorter than its header says still reads as a success, but
    // nothing of it is decoded.
    if (wav.rawBytesRead < qint64(wav.dataLength) || wav.decodedSamples.size() < wav.sampleCount)
        return QStringLiteral("is cut short: its header announces %1 bytes of sound, the file holds %2")
            .arg(wav.dataLength).arg(qMax<qint64>(wav.rawBytesRead, 0));
    const qint64 frames = framesPerChannel(wav);
    if (frames == 0)
        return QStringLiteral("holds no sound (0 samples)");
    if (frames == 1)
        return QStringLiteral("holds only 1 sample; a stimulus needs at least 2");
    if (frames > maxStimulusFrames)
        return QStringLiteral("is too long: %1 samples per channel, at most %2 can be analysed")
            .arg(frames).arg(maxStimulusFrames);
    return QString();
}

SoundFolderCheck checkSoundFiles(const QString &folder, const QStringList &fileNames)
{
    SoundFolderCheck check;
    QMap<quint32, QStringList> filesByRate;
    for (const QString &name : fileNames) {
        const QString path = folder + QLatin1Char('/') + name;
        QString reason;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            reason = QStringLiteral("cannot be opened (%1)").arg(file.errorString());
        } else if (file.size() == 0) {
            reason = QStringLiteral("is empty (0 bytes)");
        } else {
            file.close();
            WavFile wav;
            reason = stimulusProblem(wav, wav.read(path.toUtf8().toStdString()));
            if (reason.isEmpty())
                filesByRate[wav.sampleRate].append(name);
        }
        if (!reason.isEmpty())
            check.problems.append({name, reason});
    }

    if (filesByRate.size() == 1) {
        check.sampleRate = filesByRate.firstKey();
    } else if (filesByRate.size() > 1) {
        // Name a few files of each rate, so that the odd ones are easy to find.
        const int namesShown = 3;
        QStringList parts;
        for (auto it = filesByRate.cbegin(); it != filesByRate.cend(); ++it) {
            const QStringList &names = it.value();
            QString files = QStringList(names.mid(0, namesShown)).join(QStringLiteral(", "));
            if (names.size() > namesShown)
                files += QStringLiteral(" and %1 more").arg(names.size() - namesShown);
            parts.append(QStringLiteral("%1 Hz (%2)").arg(it.key()).arg(files));
        }
        check.rateProblem = QStringLiteral("The files do not share one sampling rate: ")
            + parts.join(QStringLiteral("; ")) + QLatin1Char('.');
    }
    return check;
}

QString describeUnusableFolder(const QString &folder, const SoundFolderCheck &check)
{
    // A message box does not scroll: a folder of hundreds of broken files
    // shows the first ones and a count.
    const int linesShown = 20;
    QString text;
    if (!check.problems.isEmpty()) {
        text += QStringLiteral("These files in %1 cannot be used as stimuli:\n").arg(folder);
        for (int i = 0; i < check.problems.size() && i < linesShown; ++i)
            text += QStringLiteral("\n%1 %2.").arg(check.problems[i].fileName, check.problems[i].reason);
        if (check.problems.size() > linesShown)
            text += QStringLiteral("\n... and %1 more.").arg(check.problems.size() - linesShown);
        text += QStringLiteral("\n\n");
    }
    if (!check.rateProblem.isEmpty())
        text += check.rateProblem + QStringLiteral("\n\n");
    text += QStringLiteral("Do you want to select another folder?");
    return text;
}
