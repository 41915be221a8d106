#ifndef SOUNDFILENUMBERS_H
#define SOUNDFILENUMBERS_H

#include <QString>
#include <QStringList>
#include <QVector>

// The number each sound file of a folder stands at on the identification
// curve: the number its name gives where every name gives one
// ("step1.wav" ... "step11.wav": 1 ... 11; "vot10ms.wav" ... "vot90ms.wav":
// 10 ... 90), its place in the folder listing otherwise.
struct SoundFileNumbers
{
    QVector<double> values;   // one per file, in listing order
    bool fromNames = false;   // false: 1, 2, 3 ... in listing order

    // The summary's and the report's word for where the numbers came from.
    QString source() const;
};

// The rule, for names in listing order:
// 1. strip the text that all the names share at the start and at the end;
// 2. move both cuts outward so that neither falls inside a number (digits,
//    one '.', and a leading '-');
// 3. where what remains of every name is a number and no two are equal,
//    those are the files' numbers; otherwise they are 1, 2, 3 ... in
//    listing order.
SoundFileNumbers soundFileNumbers(const QStringList &names);
SoundFileNumbers listingOrderNumbers(int count);

// A number as the summary, the journal and the report write it: %.10g.
QString formatSoundFileNumber(double value);

#endif // SOUNDFILENUMBERS_H
