#pragma once

#include <ostream>

#include <QByteArray>
#include <QString>

// Readable GoogleTest failure messages for Qt strings (instead of their bytes in hex).
inline void PrintTo(const QString& s, std::ostream* pOut)
{
    *pOut << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* pOut)
{
    *pOut << '"' << bytes.toStdString() << '"';
}
