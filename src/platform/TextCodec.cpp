#include "platform/TextCodec.h"

#include <clocale>
#include <langinfo.h>

#include <QStringDecoder>
#include <QStringEncoder>

QByteArray ToUtf8(const QString& s)
{
    return s.toUtf8();
}

QString FromUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

QString FromUtf8(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool IsValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = decoder.decode(bytes);
    return !decoder.hasError();
}

QByteArray ToLocaleCharset(const QString& s)
{
    QStringEncoder encoder(QStringEncoder::System);
    return encoder.encode(s);
}

QString FromLocaleCharset(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::System);
    return decoder.decode(bytes);
}

QString LocaleCharsetName()
{
    return QString::fromLatin1(::nl_langinfo(CODESET));
}
