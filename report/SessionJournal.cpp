#include "report/SessionJournal.h"

#include <QFile>
#include <QHash>

#include <cmath>

namespace {

const QString journalFirstLine = QStringLiteral("# Trial journal");

QString withoutLineEnd(QString line)
{
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace

QString SessionJournal::identity() const
{
    return QStringList{startTime, subjectCode, sessionType, sessionNumber, trialOrderSeed}.join(QLatin1Char('\t'));
}

bool isTrialJournal(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray first = file.readLine(256);
    if (first.startsWith("\xEF\xBB\xBF"))
        first.remove(0, 3);
    return withoutLineEnd(QString::fromUtf8(first).remove(QLatin1Char('\n'))) == journalFirstLine;
}

bool readSessionJournal(const QString &path, SessionJournal *journal, QString *reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot be opened (%1)").arg(file.errorString());
        return false;
    }
    return parseSessionJournal(file.readAll(), path, journal, reason);
}

bool parseSessionJournal(const QByteArray &bytes, const QString &path, SessionJournal *journal, QString *reason)
{
    *journal = SessionJournal();
    journal->path = path;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    // The text after the last line end is a row that was never finished (or
    // nothing at all).
    const QString unfinished = lines.takeLast();
    if (lines.isEmpty() || withoutLineEnd(lines.first()) != journalFirstLine) {
        *reason = QStringLiteral("not a trial journal (its first line is not \"%1\")").arg(journalFirstLine);
        return false;
    }

    // The header: "# key<TAB>value ..." lines up to the column line.
    QHash<QString, QStringList> header;
    int lineIndex = 1;
    for (; lineIndex < lines.size(); ++lineIndex) {
        const QString line = withoutLineEnd(lines[lineIndex]);
        if (line.isEmpty())
            continue;
        if (!line.startsWith(QLatin1Char('#')))
            break;
        QStringList fields = line.mid(1).trimmed().isEmpty() ? QStringList() : line.mid(2).split(QLatin1Char('\t'));
        if (fields.isEmpty())
            continue;
        const QString key = fields.takeFirst();
        if (!header.contains(key))
            header.insert(key, fields);
    }
    if (lineIndex >= lines.size()) {
        *reason = QStringLiteral("cut short: it ends within its header, before the line of column names");
        return false;
    }
    const auto value = [&header](const char *key) { return header.value(QLatin1String(key)).value(0); };
    journal->startTime = value("start time");
    journal->subjectCode = value("subject code");
    journal->sessionType = value("session type");
    journal->sessionNumber = value("session number");
    journal->soundFolder = value("sound folder");
    journal->trialOrderSeed = value("trial order seed");
    journal->soundFiles = header.value(QStringLiteral("sound files"));
    journal->soundFiles.removeAll(QString());
    if (journal->soundFiles.isEmpty()) {
        *reason = QStringLiteral("its header names no sound files (no \"# sound files\" line)");
        return false;
    }
    if (journal->startTime.isEmpty()) {
        *reason = QStringLiteral("its header has no start time");
        return false;
    }

    // Each file's number: as the program wrote it, or (journals from before
    // the numbers came from the names) the listing order.
    const int fileCount = journal->soundFiles.size();
    if (header.contains(QStringLiteral("sound-file numbers"))) {
        const QStringList values = header.value(QStringLiteral("sound-file numbers"));
        if (values.size() != fileCount) {
            *reason = QStringLiteral("its \"# sound-file numbers\" line has %1 numbers for %2 sound files")
                          .arg(values.size())
                          .arg(fileCount);
            return false;
        }
        for (const QString &number : values) {
            bool ok = false;
            const double parsed = number.toDouble(&ok);
            if (!ok || !std::isfinite(parsed)) {
                *reason = QStringLiteral("its \"# sound-file numbers\" line holds \"%1\", not a number").arg(number);
                return false;
            }
            journal->numbers.values.append(parsed);
        }
        // The rule that gave them, applied to the same names, says whether
        // they came from the names.
        journal->numbers.fromNames = soundFileNumbers(journal->soundFiles).fromNames;
    } else {
        journal->numbers = listingOrderNumbers(fileCount);
    }

    const QStringList order = header.value(QStringLiteral("trial order (sound-file index from 0)"));
    const int repetitions = value("repetitions").toInt();
    if (!order.isEmpty() && !(order.size() == 1 && order.first().isEmpty()))
        journal->plannedTrials = order.size();
    else if (repetitions > 0)
        journal->plannedTrials = repetitions * fileCount;

    // The columns, by their names.
    const QStringList columns = withoutLineEnd(lines[lineIndex]).split(QLatin1Char('\t'));
    const int fileColumn = columns.indexOf(QStringLiteral("sound file"));
    const int answerColumn = columns.indexOf(QStringLiteral("answer"));
    const int timeColumn = columns.indexOf(QStringLiteral("reaction time (ms)"));
    const int countedColumn = columns.indexOf(QStringLiteral("counted"));
    if (fileColumn < 0 || answerColumn < 0 || timeColumn < 0) {
        *reason = QStringLiteral("its line of column names (line %1) lacks \"sound file\", \"answer\" or "
                                 "\"reaction time (ms)\"")
                      .arg(lineIndex + 1);
        return false;
    }
    const int needed = std::max({fileColumn, answerColumn, timeColumn, countedColumn}) + 1;
    QHash<QString, int> fileIndex;
    for (int i = 0; i < fileCount; ++i)
        fileIndex.insert(journal->soundFiles[i], i);

    for (++lineIndex; lineIndex < lines.size(); ++lineIndex) {
        const QString line = withoutLineEnd(lines[lineIndex]);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        const QString where = QStringLiteral("line %1: ").arg(lineIndex + 1);
        if (fields.size() < needed) {
            *reason = where + QStringLiteral("%1 fields where the column line has %2").arg(fields.size()).arg(columns.size());
            return false;
        }
        AnswerRecord answer;
        const auto index = fileIndex.constFind(fields[fileColumn]);
        if (index == fileIndex.constEnd()) {
            *reason = where + QStringLiteral("the sound file \"%1\" is not among the header's").arg(fields[fileColumn]);
            return false;
        }
        answer.fileIndex = *index;
        answer.answer = fields[answerColumn].toInt();
        if (answer.answer != 2 && answer.answer != 4) {
            *reason = where + QStringLiteral("the answer \"%1\" is neither 2 nor 4").arg(fields[answerColumn]);
            return false;
        }
        bool ok = false;
        answer.reactionTimeMs = fields[timeColumn].toDouble(&ok);
        if (!ok || !std::isfinite(answer.reactionTimeMs)) {
            *reason = where + QStringLiteral("the reaction time \"%1\" is not a number").arg(fields[timeColumn]);
            return false;
        }
        answer.counted = countedColumn < 0 || fields[countedColumn] != QLatin1String("0");
        journal->answers.append(answer);
    }
    journal->lastLineCut = !withoutLineEnd(unfinished).isEmpty();
    return true;
}
