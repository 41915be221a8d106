#include "subject/ResultText.h"

#include <QLatin1String>

QString composeResultText(qreal threshold, qreal reactionTime, qint32 mainParameter)
{
    QString prefix;
    if (mainParameter == 0)
        prefix = QStringLiteral("Frequency Difference = ");
    else if (mainParameter == 1)
        prefix = QStringLiteral("Modulation Threshold = ");

    return prefix + QString::number(threshold * 100, 'g', 6)
         + QLatin1String(" %,   Reaction Time = ")
         + QString::number(reactionTime, 'g', 6)
         + QLatin1String(" ms");
}
