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
