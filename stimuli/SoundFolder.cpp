#include "stimuli/SoundFolder.h"

#include "calibration/Calibration.h"
#include "common/LocaleText.h"
#include "wav/WavFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <limits>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

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
    // A name whose bytes are not valid in the file-name encoding (Latin-1
    // bytes where names are read as UTF-8) is left out of QDir's listing
    // without a word. It is listed here as it decodes, replacement
    // characters and all, so that the folder check refuses it by name rather
    // than a stimulus going missing from the session. The folder is refused
    // then, so its place in the order does not matter.
    if (DIR *dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray raw(entry->d_name);
            const QString name = QFile::decodeName(raw);
            if (raw.startsWith('.') || QFile::encodeName(name) == raw || names.contains(name)
                || !raw.toLower().endsWith(".wav"))
                continue;
            struct stat info;
            const QByteArray path = QFile::encodeName(folder) + '/' + raw;
            if (::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode))
                names.append(name);
        }
        ::closedir(dir);
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

constexpr quint16 formatPcm = 1;
constexpr quint16 formatFloat = 3;
constexpr quint16 formatExtensible = 0xFFFE;

bool isId(const char *field, const char *id)
{
    return std::memcmp(field, id, 4) == 0;
}

bool decodableWidth(quint16 bits)
{
    return bits == 8 || bits == 16 || bits == 24;
}

// Why the reader refused the file, judged from the header fields it got to
// (in the order the reader checks them).
QString readFailure(const WavFile &wav)
{
    if (!isId(wav.waveHeader, "WAVE"))
        return QStringLiteral("is not a WAV file");
    if (!isId(wav.fmtHeader, "fmt "))
        return QStringLiteral("is damaged: no format description was found before its sound data");
    // A format chunk too short to hold its 16 bytes leaves every field unread,
    // whatever size it claims.
    const bool formatUnread = wav.audioFormat == 0 && wav.numChannels == 0 && wav.sampleRate == 0
        && wav.bitsPerSample == 0;
    if (wav.fmtSize < 16 || formatUnread)
        return QStringLiteral("is damaged: its format description is incomplete");
    if (wav.audioFormat == formatFloat)
        return QStringLiteral("holds floating-point samples; only integer (linear PCM) samples can be used");
    if (wav.audioFormat == formatExtensible && decodableWidth(wav.bitsPerSample))
        return QStringLiteral("is in the extensible format but does not declare linear PCM samples");
    if (wav.audioFormat != formatPcm && wav.audioFormat != formatExtensible)
        return QStringLiteral("is compressed or in an unknown format (format code %1); only linear PCM can be used")
            .arg(wav.audioFormat);
    if (!decodableWidth(wav.bitsPerSample))
        return QStringLiteral("has %1 bits per sample; only 8, 16 or 24 can be used").arg(wav.bitsPerSample);
    if (!isId(wav.dataString, "data"))
        return QStringLiteral("holds no sound data (no data chunk was found)");
    return QStringLiteral("could not be read");
}

} // namespace

qint64 stimulusMemoryBytes(qint64 frames, int channels)
{
    qint64 fftLength = 1;
    while (fftLength < frames)
        fftLength *= 2;
    // Per sample: decoded file 8 x channels, samples 8, time axis 8, waveform
    // point 16, played copy 4 (and as much again in the audio server's
    // queue). Per FFT point: input and output 16, the transform's own
    // buffer and tables about 16, frequencies and amplitudes 8.
    return frames * (8 * channels + 8 + 8 + 16 + 4 + 4) + fftLength * (16 + 16 + 8);
}

qint64 stimulusMemoryBudget()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return qint64(pages) * pageSize / 4 * 3;
}

QString fileNameProblem(const QString &fileName)
{
    if (fileName.contains(QLatin1Char('\t')) || fileName.contains(QLatin1Char('\r'))
        || fileName.contains(QLatin1Char('\n')))
        return QStringLiteral("has a tab or a line break in its name, which would break the results and the "
                              "journal; rename it");
    if (fileName.contains(QLatin1Char('#')))
        return QStringLiteral("has a '#' in its name, where readers of the data files (R, pandas) would cut "
                              "its rows off as a comment; rename it");
    // A name whose bytes are not valid in the file-name encoding is read
    // with replacement characters, and that name opens nothing. (Qt 6 takes
    // every file name as UTF-8; Qt 5 the locale's encoding.)
    if (fileName.contains(QChar::ReplacementCharacter))
        return QStringLiteral("has a name that is not valid %1 text, the encoding this program reads file names "
                              "in; rename it")
            .arg(fileNameEncodingName());
    if (!localeCanWrite(fileName))
        return QStringLiteral("has characters in its name that the system's text encoding (%1) cannot write "
                              "into the results file; rename it, or run the program in a UTF-8 locale")
            .arg(localeEncodingName());
    return QString();
}

QString unreadableFileReason(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be opened (%1)").arg(file.errorString());
    if (file.size() == 0)
        return QStringLiteral("is empty (0 bytes)");
    file.close();
    WavFile wav;
    const QString reason = stimulusProblem(wav, wav.read(fileSystemPath(path)));
    return reason.isEmpty() ? QStringLiteral("could not be read") : reason;
}

std::string fileSystemPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

QString stimulusProblem(const WavFile &wav, bool readOk, quint32 maxRateHz, qint64 memoryBudgetBytes)
{
    maxRateHz = std::min(maxRateHz, maxStimulusRate);
    if (!readOk)
        return readFailure(wav);
    if (wav.numChannels == 0)
        return QStringLiteral("declares no channels");
    if (wav.numChannels > 2)
        return QStringLiteral("has %1 channels; a stimulus must have 1 or 2").arg(wav.numChannels);
    if (wav.sampleRate == 0)
        return QStringLiteral("declares a sampling rate of 0 Hz");
    if (wav.sampleRate > maxRateHz)
        return QStringLiteral("declares a sampling rate of %1 Hz; at most %2 Hz can be played")
            .arg(wav.sampleRate).arg(maxRateHz);
    // The reader decodes bitsPerSample / 8 bytes per sample, back to back. A
    // frame of another size (24-bit samples in 4-byte containers, say) would
    // be decoded into noise.
    const int frameBytes = wav.numChannels * (wav.bitsPerSample / 8);
    if (wav.blockAlign != frameBytes)
        return QStringLiteral("has an unsupported sample layout: %1 bytes per frame, where %2 channel(s) of "
                              "%3 bits take %4")
            .arg(wav.blockAlign).arg(wav.numChannels).arg(wav.bitsPerSample).arg(frameBytes);
    // Judged from the header, before whether the data is all there.
    const qint64 frames = framesPerChannel(wav);
    if (frames > maxStimulusFrames) {
        return QStringLiteral("is too long: %1 samples per channel (%2 s); the program can load, draw and "
                              "play at most %3")
            .arg(frames)
            .arg(double(frames) / wav.sampleRate, 0, 'f', 1)
            .arg(maxStimulusFrames);
    }
    const qint64 needed = stimulusMemoryBytes(frames, wav.numChannels);
    if (memoryBudgetBytes > 0 && needed > memoryBudgetBytes) {
        const auto amount = [](qint64 bytes) {
            return bytes >= 1'000'000'000 ? QString::number(double(bytes) / 1e9, 'f', 1) + QStringLiteral(" GB")
                                          : QString::number(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
        };
        return QStringLiteral("is too long for this computer: loading, drawing and playing it takes about "
                              "%1 of memory, and the program may use %2 here")
            .arg(amount(needed), amount(memoryBudgetBytes));
    }
    // A data chunk shorter than its header says still reads as a success, but
    // nothing of it is decoded.
    if (wav.rawBytesRead < qint64(wav.dataLength) || wav.decodedSamples.size() < wav.sampleCount)
        return QStringLiteral("is cut short: its header announces %1 bytes of sound, the file holds %2")
            .arg(wav.dataLength).arg(qMax<qint64>(wav.rawBytesRead, 0));
    if (frames == 0)
        return QStringLiteral("holds no sound (0 samples)");
    if (frames == 1)
        return QStringLiteral("holds only 1 sample; a stimulus needs at least 2");
    return QString();
}

SoundFolderCheck checkSoundFiles(const QString &folder, const QStringList &fileNames, quint32 maxRateHz,
                                 qint64 memoryBudgetBytes)
{
    SoundFolderCheck check;
    check.frames.fill(0, fileNames.size());
    check.rmsDbfs.fill(std::numeric_limits<double>::quiet_NaN(), fileNames.size());
    int index = -1;
    QMap<quint32, QStringList> filesByRate;
    for (const QString &name : fileNames) {
        ++index;
        const QString path = folder + QLatin1Char('/') + name;
        QString reason = fileNameProblem(name);
        QFile file(path);
        // Opened here first for the system's own reason when it cannot be
        // (the reader only says that it could not).
        if (!reason.isEmpty()) {
            // The name alone rules the file out.
        } else if (!file.open(QIODevice::ReadOnly)) {
            reason = QStringLiteral("cannot be opened (%1)").arg(file.errorString());
        } else if (file.size() == 0) {
            reason = QStringLiteral("is empty (0 bytes)");
        } else if (file.size() > maxStimulusFrames * 2 * 3 + 1'000'000) {
            // Longer than the longest stimulus in any layout (stereo, 24
            // bits): refused without decoding gigabytes.
            reason = QStringLiteral("is too long: %1 bytes; the program can load, draw and play at most %2 "
                                    "samples per channel")
                         .arg(file.size())
                         .arg(maxStimulusFrames);
        } else {
            file.close();
            // A fresh reader per file, so that a failed read is judged from
            // this file's header alone.
            WavFile wav;
            reason = stimulusProblem(wav, wav.read(fileSystemPath(path)), maxRateHz, memoryBudgetBytes);
            if (reason.isEmpty()) {
                filesByRate[wav.sampleRate].append(name);
                check.frames[index] = framesPerChannel(wav);
                check.rmsDbfs[index] = rmsDbfs(wav.decodedSamples.data(), framesPerChannel(wav), wav.numChannels);
            }
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
            QString files = names.mid(0, namesShown).join(QStringLiteral(", "));
            if (names.size() > namesShown)
                files += QStringLiteral(" and %1 more").arg(names.size() - namesShown);
            parts.append(QStringLiteral("%1 Hz (%2)").arg(QString::number(it.key()), files));
        }
        check.rateProblem = QStringLiteral("The files do not share one sampling rate: ")
            + parts.join(QStringLiteral("; "))
            + QStringLiteral(". A session plays all its stimuli at one rate.");
    }
    return check;
}

FolderWarning describeUnusableFolder(const QString &folder, const SoundFolderCheck &check)
{
    FolderWarning warning;
    const auto line = [](const SoundFileProblem &problem) {
        return QStringLiteral("%1 %2.").arg(problem.fileName, problem.reason);
    };
    if (!check.problems.isEmpty()) {
        warning.text += QStringLiteral("These files in %1 cannot be used as stimuli:\n").arg(folder);
        for (int i = 0; i < check.problems.size() && i < filesListedInText; ++i)
            warning.text += QLatin1Char('\n') + line(check.problems[i]);
        if (check.problems.size() > filesListedInText) {
            warning.text += QStringLiteral("\n... and %1 more (see the details).")
                                .arg(check.problems.size() - filesListedInText);
            QStringList all;
            for (const SoundFileProblem &problem : check.problems)
                all.append(line(problem));
            warning.details = all.join(QLatin1Char('\n'));
        }
        warning.text += QStringLiteral("\n\n");
    }
    if (!check.rateProblem.isEmpty())
        warning.text += check.rateProblem + QStringLiteral("\n\n");
    warning.text += QStringLiteral("Do you want to select another folder?");
    return warning;
}
