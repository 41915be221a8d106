#include "experiment/TrialJournal.h"

#include "analysis/SoundFileNumbers.h"

#include <QDir>
#include <QRegularExpression>

#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString headerLine(const QString &key, const QString &value)
{
    return QStringLiteral("# ") + key + QLatin1Char('\t') + value + QLatin1Char('\n');
}

QString safeForFileName(const QString &text)
{
    QString safe = text;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return safe.isEmpty() ? QStringLiteral("_") : safe;
}

} // namespace

QByteArray journalHeaderText(const JournalHeader &header)
{
    QStringList order;
    order.reserve(header.trialOrder.size());
    for (qint32 index : header.trialOrder)
        order.append(QString::number(index));

    QString text = QStringLiteral("# Trial journal\n");
    text += headerLine(QStringLiteral("program"), header.programVersion);
    // With its offset from UTC, so that the time means the same anywhere.
    const QDateTime start = header.startTime.toOffsetFromUtc(header.startTime.offsetFromUtc());
    text += headerLine(QStringLiteral("start time"), start.toString(Qt::ISODateWithMs));
    text += headerLine(QStringLiteral("subject code"), header.subjectCode);
    text += headerLine(QStringLiteral("session type"), header.sessionTypeName);
    text += headerLine(QStringLiteral("session number"), QString::number(header.sessionNumber));
    text += headerLine(QStringLiteral("sound folder"), header.soundFolder);
    text += headerLine(QStringLiteral("sound files"), header.soundFileNames.join(QLatin1Char('\t')));
    // The number each file stands at in the fit, one per file in list order.
    QStringList numbers;
    const QVector<double> values = header.soundFileNumbers.size() == header.soundFileNames.size()
                                       ? header.soundFileNumbers
                                       : listingOrderNumbers(header.soundFileNames.size()).values;
    for (double number : values)
        numbers.append(formatSoundFileNumber(number));
    text += headerLine(QStringLiteral("sound-file numbers"), numbers.join(QLatin1Char('\t')));
    text += headerLine(QStringLiteral("sampling rate (Hz)"), QString::number(header.samplingRate, 'g', 10));
    text += headerLine(QStringLiteral("repetitions"), QString::number(header.repetitions));
    text += headerLine(QStringLiteral("break every (trials)"), QString::number(header.breakEvery));
    text += headerLine(QStringLiteral("listener screen"), header.listenerScreen);
    text += headerLine(QStringLiteral("trial order seed"), QString::number(header.trialOrderSeed));
    text += headerLine(QStringLiteral("trial order (sound-file index from 0)"), order.join(QLatin1Char('\t')));
    const AudioOutputInfo &audio = header.audioOutput;
    text += QStringLiteral("# audio output\t") + audio.backend + QLatin1Char('\t') + audio.server + QLatin1Char('\t')
            + audio.device + QLatin1Char('\t') + QString::number(audio.deviceRateHz, 'g', 10) + QLatin1Char('\t')
            + (audio.resampled ? QStringLiteral("resampled by the server") : QStringLiteral("not resampled"))
            + QStringLiteral("\tvolume ") + audio.volume
            + (audio.graphRateHz > 0 ? QStringLiteral("\tgraph rate %1 Hz").arg(audio.graphRateHz)
                                     : QStringLiteral("\tgraph rate NA"))
            + (audio.cycleFrames > 0 ? QStringLiteral("\tcycle %1 samples").arg(audio.cycleFrames)
                                     : QStringLiteral("\tcycle NA"))
            + QLatin1Char('\n');
    const OutputDeviceState &device = header.outputDevice;
    text += headerLine(QStringLiteral("output device volume"), device.volumeText());
    text += headerLine(QStringLiteral("output device muted"), device.mutedText());
    text += headerLine(QStringLiteral("output device port"), device.portText());
    if (!header.calibration.isEmpty())
        text += headerLine(QStringLiteral("calibration"), header.calibration);
    text += headerLine(QStringLiteral("answer times"), header.answerTimes);
    if (header.loopbackCheck.isValid())
        text += headerLine(QStringLiteral("loop-back check"), timingCheckJournalFields(header.loopbackCheck));
    text += QStringLiteral("trial\tsound file\tanswer\treaction time (ms)\ttime since start (ms)"
                           "\tsound onset (ms)\tsound end (ms)\tonset error (ms)\toutput latency (ms)\tinput\tcounted"
                           "\theld (ms)\n");
    return text.toUtf8();
}

QByteArray journalRowText(const JournalRow &row)
{
    // Joined field by field: a file name is never read as a placeholder.
    const auto ms = [](double value) { return QString::number(value, 'f', 2); };
    const QStringList fields{QString::number(row.trialNumber), row.soundFileName, QString::number(row.answer),
                             ms(row.reactionTimeMs), ms(row.sinceRunStartMs), ms(row.soundOnsetMs),
                             ms(row.soundEndMs), ms(row.onsetErrorMs), ms(row.outputLatencyMs), row.input,
                             row.counted ? QStringLiteral("1") : QStringLiteral("0"),
                             row.heldMs < 0 ? QStringLiteral("NA") : ms(row.heldMs)};
    return (fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8();
}

QString deviceStallNote(const SoundTiming &timing, const QString &fileName)
{
    if (!timing.deviceStalled)
        return QString();
    const auto ms = [](qint64 ns) { return QString::number(double(ns) / 1e6, 'f', 2); };
    if (std::abs(timing.onsetDelayNs()) > AudioEngine::revisionToleranceNs) {
        return QStringLiteral("the output device stalled; ") + fileName + QStringLiteral(" started ")
               + ms(timing.onsetDelayNs()) + QStringLiteral(" ms later than planned");
    }
    if (std::abs(timing.endDelayNs()) > AudioEngine::revisionToleranceNs) {
        return QStringLiteral("the output device stalled during ") + fileName + QStringLiteral("; it ended ")
               + ms(timing.endDelayNs()) + QStringLiteral(" ms later than planned");
    }
    return QString();
}

QString journalFileName(const QDateTime &startTime, const QString &subjectCode,
                        const QString &sessionTypeName, qint32 sessionNumber)
{
    return startTime.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QLatin1Char('_')
           + safeForFileName(subjectCode) + QLatin1Char('_') + safeForFileName(sessionTypeName)
           + QLatin1Char('_') + QString::number(sessionNumber) + QStringLiteral(".tsv");
}

bool TrialJournal::open(const QString &folder, const JournalHeader &header, QString *errorText)
{
    close();
    // Whatever happens below, nothing points at an earlier run's file.
    file.setFileName(QString());
    failures = 0;
    lastFailure.clear();
    complete = false;
    auto fail = [this, errorText](const QString &reason) {
        file.setFileName(QString());
        if (errorText)
            *errorText = reason;
        return false;
    };
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder %1 could not be created").arg(folder));

    // Two runs started within one second by the same subject get distinct files.
    const QString baseName = journalFileName(header.startTime, header.subjectCode,
                                             header.sessionTypeName, header.sessionNumber);
    QString path = QDir(folder).filePath(baseName);
    for (int n = 2; QFile::exists(path); ++n) {
        QString numbered = baseName;
        numbered.insert(numbered.size() - 4, QStringLiteral("-%1").arg(n));
        path = QDir(folder).filePath(numbered);
    }

    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(file.errorString());
    if (!writeDurably(journalHeaderText(header))) {
        const QString reason = file.errorString();
        file.close();
        return fail(reason);
    }
    // The new file's name is on disk only once its folder is: a power cut
    // right after could otherwise lose the whole journal.
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    complete = true;
    return true;
}

bool TrialJournal::append(const JournalRow &row)
{
    if (!file.isOpen())
        return false;
    return writeDurably(journalRowText(row));
}

bool TrialJournal::appendNote(const QString &text)
{
    if (!file.isOpen())
        return false;
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return writeDurably((QStringLiteral("# ") + line + QLatin1Char('\n')).toUtf8());
}

void TrialJournal::close()
{
    if (file.isOpen())
        file.close();
}

bool TrialJournal::writeDurably(const QByteArray &bytes)
{
    if (file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0)
        return true;
    ++failures;
    lastFailure = file.errorString();
    return false;
}
