#include "platform/TextCodec.h"

#include <algorithm>
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

namespace {
// Length of the well-formed UTF-8 sequence at p (at most n bytes left), or 0 when it is not one.
int Utf8SequenceLength(const unsigned char* p, std::size_t n)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int nLength = 0;
    unsigned nMin = 0;
    unsigned nCode = 0;
    if ((c & 0xE0) == 0xC0) {
        nLength = 2;
        nMin = 0x80;
        nCode = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        nLength = 3;
        nMin = 0x800;
        nCode = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        nLength = 4;
        nMin = 0x10000;
        nCode = c & 0x07;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(nLength) > n)
        return 0;
    for (int i = 1; i < nLength; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        nCode = (nCode << 6) | (p[i] & 0x3F);
    }
    if (nCode < nMin || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF))
        return 0;
    return nLength;
}
} // namespace

QString FromNativeName(const char* pszName, std::size_t nLength, bool* pbHadBadBytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(pszName);
    std::size_t i = 0;
    while (i < nLength && p[i] < 0x80)
        ++i; // the common case, plain ASCII, needs no checking
    while (i < nLength) {
        const int n = Utf8SequenceLength(p + i, nLength - i);
        if (n == 0)
            break;
        i += static_cast<std::size_t>(n);
    }
    if (pbHadBadBytes)
        *pbHadBadBytes = i < nLength;
    if (i == nLength)
        return QString::fromUtf8(pszName, static_cast<qsizetype>(nLength));
    QString sText = QString::fromUtf8(pszName, static_cast<qsizetype>(i));
    while (i < nLength) {
        const int n = Utf8SequenceLength(p + i, nLength - i);
        if (n == 0) {
            sText += QChar(static_cast<char16_t>(0xDC00 + p[i]));
            ++i;
        } else {
            sText += QString::fromUtf8(pszName + i, n);
            i += static_cast<std::size_t>(n);
        }
    }
    return sText;
}

QByteArray NativeNameBytes(const QString& sName)
{
    const bool bEscaped = std::any_of(sName.begin(), sName.end(), [](QChar c) { return EscapedNameByte(c) >= 0; });
    if (!bEscaped)
        return sName.toUtf8();
    QByteArray bytes;
    bytes.reserve(sName.size() + 8);
    qsizetype nRun = 0; // start of the text since the last escaped byte
    for (qsizetype i = 0; i <= sName.size(); ++i) {
        const int nByte = i < sName.size() ? EscapedNameByte(sName[i]) : -2;
        if (nByte == -1)
            continue;
        bytes += QStringView(sName).sliced(nRun, i - nRun).toUtf8();
        if (nByte >= 0)
            bytes += static_cast<char>(nByte);
        nRun = i + 1;
    }
    return bytes;
}
