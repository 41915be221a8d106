#include "app/SessionText.h"

#include <QString>
#include <QStringList>

QString composeOutputFileName(const QString &subjectCode, const QString &sessionTypeName,
                              int sessionNumber)
{
    return subjectCode + QLatin1Char('_') + sessionTypeName
        + QString::number(sessionNumber).rightJustified(3, QLatin1Char('0'))
        + QStringLiteral(".txt");
}

QString composeProgressText(const QString &sessionTypeName, int trialNumber, int trialCount)
{
    return sessionTypeName + QLatin1Char(' ') + QString::number(trialNumber) + QLatin1Char('/')
        + QString::number(trialCount);
}

QString composeStatusText(const QString &progressText, const QStringList &filesPlayedSilent)
{
    if (filesPlayedSilent.isEmpty())
        return progressText;
    return progressText + QStringLiteral("; silence played for ") + filesPlayedSilent.join(QStringLiteral(", "));
}

QString silentTrialsNotice(const QString &fileName, const QString &problem, int silentTrials, int latestTrial)
{
    return fileName + QLatin1Char(' ') + problem
        + QStringLiteral(". Its trials play silence, and their answers are not counted: %1 so far, the latest "
                         "trial %2.")
              .arg(silentTrials)
              .arg(latestTrial);
}

int parseSessionNumber(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QString formatSamplingRate(double hertz)
{
    return QString::number(hertz, 'g', 6);
}

QString formatSecondsAsMilliseconds(double seconds)
{
    return QString::number(seconds * 1000.0, 'f', 2);
}
