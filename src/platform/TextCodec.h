#pragma once

#include <string>

#include <QByteArray>
#include <QString>

// Text conversions between the program's UTF-16 strings and the byte forms of files and the
// network. The "ANSI code page" of the design is the character set of the user's locale.

QByteArray ToUtf8(const QString& s);
QString FromUtf8(const QByteArray& bytes);
QString FromUtf8(const std::string& bytes);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(const QByteArray& bytes);
// Bytes in the locale's character set; characters it cannot represent become '?'.
QByteArray ToLocaleCharset(const QString& s);
QString FromLocaleCharset(const QByteArray& bytes);
// The name of the locale's character set ("UTF-8", "ISO-8859-1", ...).
QString LocaleCharsetName();

// File names of this platform are bytes. A name that is not valid UTF-8 keeps its good parts, and
// each byte that is not part of a well-formed sequence becomes the lone surrogate U+DC00 + byte
// (U+DC80 to U+DCFF), so that the text names the very same file again (NativeNameBytes).
QString FromNativeName(const char* pszName, std::size_t nLength, bool* pbHadBadBytes = nullptr);
// The bytes of a name or path made by FromNativeName (or any text): UTF-8, escaped bytes restored.
QByteArray NativeNameBytes(const QString& sName);
// An escaped byte of FromNativeName: its value, else -1.
inline int EscapedNameByte(QChar c)
{
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF ? c.unicode() - 0xDC00 : -1;
}
