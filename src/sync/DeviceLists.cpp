#include "sync/DeviceLists.h"

#include <algorithm>

#include <QFile>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

namespace {
QString ListPath(const QString& sUuid, const QString& sFileName)
{
    return DeviceFolder(sUuid) + sFileName;
}

// The file's bytes; empty when it is missing or unreadable.
QByteArray ReadAllBytes(const QString& sPath, bool* pbReadable = nullptr)
{
    QFile file(sPath);
    const bool bOpen = file.open(QIODevice::ReadOnly);
    if (pbReadable)
        *pbReadable = bOpen || !file.exists();
    return bOpen ? file.readAll() : QByteArray();
}

QByteArray JoinLines(const QStringList& lines)
{
    QByteArray data;
    for (const QString& sLine : lines)
        data += ToUtf8(sLine) + "\r\n";
    return data;
}
} // namespace

QStringList ReadListFile(const QString& sUuid, const QString& sFileName)
{
    QStringList lines;
    if (sUuid.isEmpty())
        return lines;
    const QString sPath = ListPath(sUuid, sFileName);
    if (!QFile::exists(sPath))
        return lines;
    const QByteArray data = ReadAllBytes(sPath);
    // Only pieces ended by CR LF count; bytes after the last CR LF are an unfinished line.
    qsizetype nStart = 0;
    for (qsizetype nEnd = data.indexOf("\r\n"); nEnd >= 0; nEnd = data.indexOf("\r\n", nStart)) {
        if (nEnd > nStart)
            lines.append(FromUtf8(data.mid(nStart, nEnd - nStart)));
        nStart = nEnd + 2;
    }
    return lines;
}

bool SaveListFile(const QString& sUuid, const QString& sFileName, const QStringList& lines)
{
    if (sUuid.isEmpty())
        return false;
    if (!CreateDeviceFolder(sUuid)) {
        WriteLog("SaveListFile: cannot create the device folder " + DeviceFolder(sUuid));
        return false;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (!WriteFileAtomically(ListPath(sUuid, sFileName), JoinLines(lines), &dwError)) {
        WriteLogF("SaveListFile: cannot write %s, error %u", ToUtf8(ListPath(sUuid, sFileName)).constData(), dwError);
        return false;
    }
    return true;
}

bool AppendListLine(const QString& sUuid, const QString& sFileName, const QString& sLine)
{
    if (sUuid.isEmpty())
        return false;
    if (!CreateDeviceFolder(sUuid)) {
        WriteLog("AppendListLine: cannot create the device folder " + DeviceFolder(sUuid));
        return false;
    }
    const QString sPath = ListPath(sUuid, sFileName);
    bool bReadable = true;
    QByteArray data = ReadAllBytes(sPath, &bReadable);
    if (!bReadable) {
        // Rewriting a file we could not read would lose its lines.
        WriteLog("AppendListLine: cannot read " + sPath);
        return false;
    }
    // An unfinished last line gets its line end, so the new line stands on its own.
    if (!data.isEmpty() && !data.endsWith("\r\n"))
        data += "\r\n";
    data += ToUtf8(sLine) + "\r\n";
    DWORD dwError = ERROR_SUCCESS;
    if (!WriteFileAtomically(sPath, data, &dwError)) {
        WriteLogF("AppendListLine: cannot write %s, error %u", ToUtf8(sPath).constData(), dwError);
        return false;
    }
    return true;
}

bool AppendFolderLine(const QString& sUuid, const QString& sFolder, const QString& sFlag)
{
    return AppendListLine(sUuid, kSyncFolderListName, sFolder + "|" + sFlag);
}

bool SplitListLine(const QString& sLine, QString* psText, QString* psFlag)
{
    const qsizetype nBar = sLine.lastIndexOf('|');
    if (nBar < 0)
        return false;
    if (psText)
        *psText = sLine.left(nBar);
    if (psFlag)
        *psFlag = sLine.mid(nBar + 1);
    return true;
}

QString SetListLineFlag(const QString& sLine, const QString& sFlag)
{
    const qsizetype nBar = sLine.lastIndexOf('|');
    if (nBar < 0 || sFlag.isEmpty())
        return sLine;
    QString sResult = sLine;
    if (nBar + 1 < sResult.size())
        sResult[nBar + 1] = sFlag[0];
    else
        sResult += sFlag[0];
    return sResult;
}

bool IsListLineTicked(const QString& sLine)
{
    return sLine.endsWith('1');
}

QString ListLineText(const QString& sLine)
{
    const qsizetype nBar = sLine.lastIndexOf('|');
    return nBar < 0 ? sLine : sLine.left(nBar);
}

QStringList TickedListTexts(const QStringList& lines)
{
    QStringList texts;
    for (const QString& sLine : lines) {
        if (IsListLineTicked(sLine))
            texts.append(ListLineText(sLine));
    }
    return texts;
}

bool HasTickedListLine(const QStringList& lines)
{
    for (const QString& sLine : lines) {
        if (IsListLineTicked(sLine))
            return true;
    }
    return false;
}

QStringList MergeSupportedTypes(const QStringList& lines, const QStringList& supportedTypes)
{
    QStringList merged = lines;
    for (const QString& sType : supportedTypes) {
        if (sType.isEmpty())
            continue;
        const bool bKnown = std::any_of(merged.begin(), merged.end(),
                                        [&](const QString& sLine) { return ListLineText(sLine) == sType; });
        if (!bKnown)
            merged << sType + "|1";
    }
    return merged;
}
