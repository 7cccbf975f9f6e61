#include "cli/CliSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "platform/SettingsStore.h"

namespace {
const unsigned kIdsSettingsSetAside = 1151;
} // namespace

QString CliText(unsigned nId, const QStringList& args)
{
    // One pass over the text: an argument that itself holds "%2" (a player's name, a file
    // name) is never substituted again.
    const QString sTemplate = LoadStringText(nId);
    QString sText;
    sText.reserve(sTemplate.size());
    for (qsizetype i = 0; i < sTemplate.size(); ++i) {
        const QChar c = sTemplate[i];
        if (c == '%' && i + 1 < sTemplate.size() && sTemplate[i + 1] >= '1' && sTemplate[i + 1] <= '9') {
            const int nArg = sTemplate[i + 1].unicode() - '1';
            if (nArg < args.size()) {
                sText += args[nArg];
                ++i;
                continue;
            }
        }
        sText += c;
    }
    return sText;
}

void CliError(ICliIo& io, unsigned nId, const QStringList& args)
{
    io.Err(CliText(nId, args) + "\n");
}

void CliSay(ICliIo& io, unsigned nId, const QStringList& args)
{
    io.Out(CliText(nId, args) + "\n");
}

std::optional<QString> SCliArguments::Value(const QString& sName) const
{
    for (const auto& [sKey, sValue] : values) {
        if (sKey == sName)
            return sValue;
    }
    return std::nullopt;
}

bool ParseCliArguments(ICliIo& io, const QString& sCommand, const QStringList& arguments,
                       std::initializer_list<const char*> flagOptions, std::initializer_list<const char*> valueOptions,
                       SCliArguments* pParsed)
{
    auto isOneOf = [](const QString& sName, std::initializer_list<const char*> names) {
        for (const char* pszName : names) {
            if (sName == QLatin1String(pszName))
                return true;
        }
        return false;
    };
    bool bOptionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& sArg = arguments[i];
        if (bOptionsEnded || !sArg.startsWith('-') || sArg == "-") {
            pParsed->positional << sArg;
            continue;
        }
        if (sArg == "--") {
            bOptionsEnded = true;
            continue;
        }
        if (sArg == "--help" || sArg == "-h") {
            pParsed->bHelp = true;
            continue;
        }
        const QString sName = sArg.section('=', 0, 0);
        const bool bHasInlineValue = sArg.contains('=');
        if (isOneOf(sName, flagOptions) && !bHasInlineValue) {
            pParsed->flags << sName;
        } else if (isOneOf(sName, valueOptions)) {
            if (bHasInlineValue) {
                pParsed->values.append({sName, sArg.section('=', 1)});
            } else if (i + 1 < arguments.size()) {
                pParsed->values.append({sName, arguments[++i]});
            } else {
                CliError(io, 1004, {sCommand});
                return false;
            }
        } else {
            CliError(io, 1003, {sArg, sCommand});
            return false;
        }
    }
    return true;
}

std::optional<int> ParseCliNumber(ICliIo& io, const QString& sText, int nMin, int nMax)
{
    bool bOk = false;
    const int n = sText.toInt(&bOk);
    if (!bOk || n < nMin || n > nMax) {
        CliError(io, 1022, {sText, QString::number(nMin), QString::number(nMax)});
        return std::nullopt;
    }
    return n;
}

bool ParseCliIpAddress(ICliIo& io, const QString& sText, QString* psNormalized)
{
    // Four decimal numbers 0-255 and nothing else (no short forms such as "10.1").
    const QStringList parts = sText.split('.');
    bool bValid = parts.size() == 4;
    for (const QString& sPart : parts) {
        bool bOk = false;
        const int n = sPart.toInt(&bOk);
        if (!bOk || sPart.isEmpty() || sPart.size() > 3 || n < 0 || n > 255 || !sPart.front().isDigit())
            bValid = false;
    }
    if (!bValid) {
        CliError(io, 1021, {sText});
        return false;
    }
    *psNormalized = QHostAddress(sText).toString();
    return true;
}

int CheckSettingsReadable(ICliIo& io)
{
    const QString sPath = CSettingsStore::DefaultFilePath();
    QString sAside;
    switch (CSettingsStore::CheckFile(sPath, &sAside)) {
    case CSettingsStore::CHECK_OK: return CLI_EXIT_OK;
    case CSettingsStore::CHECK_SET_ASIDE:
        // Told once: the damaged file is gone from its place, and the settings start afresh.
        CliError(io, kIdsSettingsSetAside, {sPath, sAside});
        return CLI_EXIT_OK;
    case CSettingsStore::CHECK_UNREADABLE: break;
    }
    const QFileInfo info(sPath);
    QFile file(sPath);
    const QString sWhy = !info.isFile() ? QStringLiteral("not a file")
                                        : (file.open(QIODevice::ReadOnly) ? QString() : file.errorString());
    CliError(io, 1007, {sPath, sWhy.isEmpty() ? QStringLiteral("damaged") : sWhy});
    return CLI_EXIT_UNREADABLE;
}

int RequireSelectedPlayer(ICliIo& io, QString* psUuid)
{
    if (const int nExit = CheckSettingsReadable(io))
        return nExit;
    *psUuid = GetCurrentDevId();
    if (psUuid->isEmpty()) {
        CliError(io, 1006);
        return CLI_EXIT_NO_PLAYER;
    }
    return CLI_EXIT_OK;
}

int CheckStateFileReadable(ICliIo& io, const QString& sPath)
{
    const QFileInfo info(sPath);
    if (!info.exists())
        return CLI_EXIT_OK;
    QFile file(sPath);
    if (info.isFile() && file.open(QIODevice::ReadOnly))
        return CLI_EXIT_OK;
    CliError(io, 1023, {sPath});
    return CLI_EXIT_UNREADABLE;
}
