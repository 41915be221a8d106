#include "common/LocaleText.h"

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringEncoder>

QByteArray toLocaleText(const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

bool localeCanWrite(const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    // The encoding happens when the result becomes bytes; only then is an
    // error known.
    const QByteArray bytes = encoder.encode(text);
    return !encoder.hasError();
}

QString localeEncodingName()
{
    return QString::fromLatin1(QStringEncoder(QStringConverter::System).name());
}

QString fileNameEncodingName()
{
    return QStringLiteral("UTF-8");
}
#else
#include <QTextCodec>

QByteArray toLocaleText(const QString &text)
{
    return QTextCodec::codecForLocale()->fromUnicode(text);
}

bool localeCanWrite(const QString &text)
{
    return QTextCodec::codecForLocale()->canEncode(text);
}

QString localeEncodingName()
{
    return QString::fromLatin1(QTextCodec::codecForLocale()->name());
}

QString fileNameEncodingName()
{
    return localeEncodingName();
}
#endif
