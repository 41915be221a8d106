#include "analysis/SoundFileNumbers.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// How many characters every name starts with alike.
int commonPrefixLength(const QStringList &names)
{
    int length = names.first().size();
    for (const QString &name : names) {
        int i = 0;
        while (i < length && i < name.size() && name[i] == names.first()[i])
            ++i;
        length = i;
    }
    return length;
}

// How many characters every name ends with alike, within what follows the
// first `prefix` characters.
int commonSuffixLength(const QStringList &names, int prefix)
{
    const QString &first = names.first();
    int length = first.size() - prefix;
    for (const QString &name : names) {
        length = std::min(length, int(name.size()) - prefix);
        int i = 0;
        while (i < length && name[name.size() - 1 - i] == first[first.size() - 1 - i])
            ++i;
        length = i;
    }
    return length;
}

// The cut after the shared start falls inside a number when the character
// before it can be part of one and, in some name, the one after it is a
// digit or a '.'. It then moves back over digits, one '.', and a leading '-'.
int movePrefixCut(const QStringList &names, int prefix)
{
    if (prefix == 0)
        return prefix;
    const QString &first = names.first();
    const QChar before = first[prefix - 1];
    if (!isDigit(before) && before != QLatin1Char('.') && before != QLatin1Char('-'))
        return prefix;
    bool numberAfter = false;
    for (const QString &name : names) {
        if (prefix < name.size() && (isDigit(name[prefix]) || name[prefix] == QLatin1Char('.')))
            numberAfter = true;
    }
    if (!numberAfter)
        return prefix;
    bool dot = false;
    while (prefix > 0) {
        const QChar c = first[prefix - 1];
        if (isDigit(c)) {
            --prefix;
        } else if (c == QLatin1Char('.') && !dot) {
            dot = true;
            --prefix;
        } else {
            break;
        }
    }
    if (prefix > 0 && first[prefix - 1] == QLatin1Char('-'))
        --prefix;
    return prefix;
}

// The cut before the shared end falls inside a number when that end starts
// with a digit (or a '.' and a digit) and, in some name, what comes before
// it is a digit or a '.'. It then moves on over digits and one '.'.
int moveSuffixCut(const QStringList &names, int prefix, int suffix)
{
    if (suffix == 0)
        return suffix;
    const QString &first = names.first();
    const QString end = first.right(suffix);
    const bool numberStarts = isDigit(end[0]) || (end[0] == QLatin1Char('.') && end.size() > 1 && isDigit(end[1]));
    if (!numberStarts)
        return suffix;
    bool numberBefore = false;
    for (const QString &name : names) {
        const int cut = name.size() - suffix;
        if (cut > prefix && (isDigit(name[cut - 1]) || name[cut - 1] == QLatin1Char('.')))
            numberBefore = true;
    }
    if (!numberBefore)
        return suffix;
    int taken = 0;
    bool dot = false;
    while (taken < end.size()) {
        const QChar c = end[taken];
        if (isDigit(c)) {
            ++taken;
        } else if (c == QLatin1Char('.') && !dot && taken + 1 < end.size() && isDigit(end[taken + 1])) {
            dot = true;
            ++taken;
        } else {
            break;
        }
    }
    return suffix - taken;
}

} // namespace

QString SoundFileNumbers::source() const
{
    return fromNames ? QStringLiteral("from the file names") : QStringLiteral("listing order");
}

SoundFileNumbers listingOrderNumbers(int count)
{
    SoundFileNumbers numbers;
    for (int i = 0; i < count; ++i)
        numbers.values.append(i + 1);
    return numbers;
}

SoundFileNumbers soundFileNumbers(const QStringList &names)
{
    const SoundFileNumbers inOrder = listingOrderNumbers(names.size());
    if (names.size() < 2)
        return inOrder;

    const int prefix = movePrefixCut(names, commonPrefixLength(names));
    const int suffix = moveSuffixCut(names, prefix, commonSuffixLength(names, prefix));

    static const QRegularExpression numberPattern(QStringLiteral("^-?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    SoundFileNumbers numbers;
    numbers.fromNames = true;
    for (const QString &name : names) {
        const QString rest = name.mid(prefix, name.size() - prefix - suffix);
        if (!numberPattern.match(rest).hasMatch())
            return inOrder;
        bool ok = false;
        const double value = rest.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return inOrder;
        numbers.values.append(value);
    }
    QVector<double> sorted = numbers.values;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return inOrder;
    return numbers;
}

QString formatSoundFileNumber(double value)
{
    return QString::number(value, 'g', 10);
}
