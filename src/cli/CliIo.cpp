#include "cli/CliIo.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

#include "platform/TextCodec.h"

void CConsoleIo::Out(const QString& sText)
{
    const QByteArray bytes = ToLocaleCharset(sText);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void CConsoleIo::Err(const QString& sText)
{
    const QByteArray bytes = ToLocaleCharset(sText);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

QString CConsoleIo::ReadLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return QString();
    return FromLocaleCharset(QByteArray::fromStdString(line)).trimmed();
}

bool CConsoleIo::IsTerminal() const
{
    return ::isatty(STDOUT_FILENO) == 1;
}
