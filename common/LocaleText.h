#ifndef LOCALETEXT_H
#define LOCALETEXT_H

#include <QByteArray>
#include <QString>

// Text in the system's own encoding, which the results file is written in:
// the locale's encoding under Qt 5, UTF-8 under Qt 6 (which takes UTF-8 as
// the encoding of every Unix system).
QByteArray toLocaleText(const QString &text);
// Whether text can be written in that encoding as it is.
bool localeCanWrite(const QString &text);
QString localeEncodingName();
// The encoding file names are read and opened in: the locale's under Qt 5,
// UTF-8 under Qt 6 whatever the locale.
QString fileNameEncodingName();

#endif // LOCALETEXT_H
