#ifndef RESULTTEXT_H
#define RESULTTEXT_H

#include <QString>
#include <QtGlobal>

// The line the listener's window receives when a run ends, for example
// "Frequency Difference = 1.25 %,   Reaction Time = 1.23 ms".
//
// threshold is a fraction and is written as a percentage (threshold x 100);
// reactionTime is in milliseconds. Both are written like "%g": six
// significant digits, the shorter of fixed and exponent notation, trailing
// zeros dropped. mainParameter is the index of the main-parameter list:
// 0 prefixes "Frequency Difference = ", 1 "Modulation Threshold = ", any
// other value nothing at all.
QString composeResultText(qreal threshold, qreal reactionTime, qint32 mainParameter);

#endif // RESULTTEXT_H
