#include "sync/TransferHistory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

namespace {
constexpr qsizetype kReadChunk = 1 << 20;
const QLatin1String kFieldSeparator(" |");

void AppendTwoDigits(QString* ps, int n)
{
    ps->append(QChar(u'0' + (n / 10) % 10)).append(QChar(u'0' + n % 10));
}

struct SFileState
{
    std::int64_t nSize = -1;
    std::int64_t nInode = -1;
    std::int64_t nMtimeNs = -1;
};

SFileState StateOf(const struct stat& st)
{
    SFileState state;
    state.nSize = st.st_size;
    state.nInode = static_cast<std::int64_t>(st.st_ino);
    state.nMtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return state;
}

// Appends bytes at the end of the file, creating it when missing. When the file is not empty and
// does not end with CR LF, a CR LF goes first, so an unfinished last line never swallows the new
// text. On failure the file is cut back to its old length, so no half line stays behind. Disk
// full calls NotifyDiskFull.
bool AppendBytes(const QString& sPath, const QByteArray& data, SFileState* pState)
{
    const QByteArray path = QFile::encodeName(sPath);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        WriteLogF("AppendHistory: cannot open %s: %s", path.constData(), std::strerror(errno));
        return false;
    }
    struct stat st
    {
    };
    ::fstat(fd, &st);
    const off_t nOldSize = st.st_size;
    QByteArray bytes;
    if (nOldSize > 0) {
        char tail[2] = {0, 0};
        const off_t nFrom = nOldSize >= 2 ? nOldSize - 2 : 0;
        const ssize_t nRead = ::pread(fd, tail, static_cast<size_t>(nOldSize - nFrom), nFrom);
        if (!(nRead == 2 && tail[0] == '\r' && tail[1] == '\n'))
            bytes = "\r\n";
    }
    bytes += data;
    int nErrno = 0;
    bool bOk = ::lseek(fd, 0, SEEK_END) >= 0 && WriteAllToFd(fd, bytes.constData(), bytes.size(), &nErrno);
    if (!bOk) {
        if (nErrno == 0)
            nErrno = errno;
        if (::ftruncate(fd, nOldSize) != 0)
            WriteLogF("AppendHistory: cannot cut %s back: %s", path.constData(), std::strerror(errno));
        if (IsDiskFullErrno(nErrno))
            NotifyDiskFull();
        WriteLogF("AppendHistory: cannot write %s: %s", path.constData(), std::strerror(nErrno));
    } else if (pState && ::fstat(fd, &st) == 0) {
        *pState = StateOf(st);
    }
    ::close(fd);
    return bOk;
}

QByteArray JoinRawLines(const QList<QByteArray>& lines, qsizetype nFirst)
{
    qsizetype nBytes = 0;
    for (qsizetype i = nFirst; i < lines.size(); ++i)
        nBytes += lines[i].size() + 2;
    QByteArray data;
    data.reserve(nBytes);
    for (qsizetype i = nFirst; i < lines.size(); ++i) {
        data += lines[i];
        data += "\r\n";
    }
    return data;
}

// Reads a decimal number of at least one digit; leading blanks are allowed when bBlanks is set.
bool ReadNumber(QByteArrayView s, qsizetype* pnPos, qsizetype nEnd, bool bBlanks, int* pnValue)
{
    qsizetype i = *pnPos;
    while (bBlanks && i < nEnd && s[i] == ' ')
        ++i;
    const qsizetype nStart = i;
    int n = 0;
    while (i < nEnd && s[i] >= '0' && s[i] <= '9' && i - nStart < 9) {
        n = n * 10 + (s[i] - '0');
        ++i;
    }
    if (i == nStart)
        return false;
    *pnPos = i;
    *pnValue = n;
    return true;
}

// "(Y-M-D h:m:s)" in s[nBegin, nEnd).
bool ParseTimeRange(QByteArrayView s, qsizetype nBegin, qsizetype nEnd, int pnFields[6])
{
    if (nEnd - nBegin < 13 || s[nBegin] != '(' || s[nEnd - 1] != ')')
        return false;
    const char kSeparators[6] = {'-', '-', ' ', ':', ':', ')'};
    qsizetype i = nBegin + 1;
    for (int nField = 0; nField < 6; ++nField) {
        if (!ReadNumber(s, &i, nEnd, nField == 0, &pnFields[nField]))
            return false;
        if (i >= nEnd || s[i] != kSeparators[nField])
            return false;
        ++i;
    }
    return i == nEnd;
}

// Position of the '(' of a well-formed file time that ends just before nEnd, or -1.
qsizetype TimeStartBefore(QByteArrayView line, qsizetype nEnd)
{
    if (nEnd <= 0 || line[nEnd - 1] != ')')
        return -1;
    const qsizetype nOpen = line.first(nEnd).lastIndexOf('(');
    int fields[6];
    return nOpen >= 0 && ParseTimeRange(line, nOpen, nEnd, fields) ? nOpen : -1;
}

// Length of the transferred key of a line in UTF-8: up to the " |" that follows the file time.
// A path on this platform may itself hold " |", so the first " |" alone could cut the key inside
// the path; a line without a well-formed time falls back to its first " |".
qsizetype KeyLength(QByteArrayView line)
{
    const qsizetype nFirst = line.indexOf(" |");
    for (qsizetype nPos = nFirst; nPos >= 0; nPos = line.indexOf(" |", nPos + 1)) {
        if (TimeStartBefore(line, nPos) >= 0)
            return nPos;
    }
    return nFirst < 0 ? line.size() : nFirst;
}

// The result field, taken from the end of the line so that a path or device name holding
// "Result: " or "| Time" can neither fake nor hide a result.
bool IsSuccess(QByteArrayView line)
{
    const qsizetype nTime = line.lastIndexOf("| Time");
    if (nTime < 0)
        return false;
    const qsizetype nResult = line.first(nTime).lastIndexOf("Result: ");
    if (nResult < 0)
        return false;
    return line.sliced(nResult + 8, nTime - nResult - 8) == QByteArrayView("OK ");
}
// Parses "(YYYY-MM-DD hh:mm:ss)" (the year may be blank-padded); false for any other text.
bool ParseModifiedTime(const QString& sTime, int pnFields[6])
{
    const QByteArray time = ToUtf8(sTime);
    return ParseTimeRange(time, 0, time.size(), pnFields);
}
} // namespace

QString FormatHistoryTime(const QDateTime& localTime)
{
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    QString sText = QString::number(date.year()).rightJustified(4, ' '); // "%4d"
    sText.reserve(19);
    sText += '-';
    AppendTwoDigits(&sText, date.month());
    sText += '-';
    AppendTwoDigits(&sText, date.day());
    sText += ' ';
    AppendTwoDigits(&sText, time.hour());
    sText += ':';
    AppendTwoDigits(&sText, time.minute());
    sText += ':';
    AppendTwoDigits(&sText, time.second());
    return sText;
}

QString FormatModifiedTime(const QDateTime& localTime)
{
    return "(" + FormatHistoryTime(localTime) + ")";
}

QString HistoryFieldText(const QString& sText)
{
    // Control characters, and the bytes of a file name that are not UTF-8 (FromNativeName).
    const auto byteOf = [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7F ? static_cast<int>(c.unicode()) : EscapedNameByte(c);
    };
    if (std::none_of(sText.begin(), sText.end(), [&](QChar c) { return byteOf(c) >= 0; }))
        return sText;
    QString sEscaped;
    sEscaped.reserve(sText.size() + 8);
    for (const QChar c : sText) {
        if (byteOf(c) >= 0)
            sEscaped += QString::asprintf("\\x%02X", byteOf(c));
        else
            sEscaped += c;
    }
    return sEscaped;
}

QString MakeHistoryLine(const QString& sSourcePath, const QString& sModifiedTime, const QString& sDeviceName,
                        const QString& sShareName, const QString& sResultText, const QDateTime& attemptTime)
{
    return HistoryFieldText(sSourcePath) + sModifiedTime + " | DeviceName:" + HistoryFieldText(sDeviceName) + " " +
           sShareName + " | Result: " + sResultText + " | Time:" + FormatHistoryTime(attemptTime);
}

QString TransferredKeyOf(const QString& sLine)
{
    const QByteArray line = ToUtf8(sLine);
    return FromUtf8(line.left(KeyLength(line)));
}

QString HistoryPathFor(const QString& sUuid)
{
    return DeviceFolder(sUuid) + kHistoryFileName;
}

QString CurrentHistoryPath()
{
    return HistoryPathFor(GetCurrentDevId());
}

namespace {
bool EmptyHistoryFile(const QString& sPath)
{
    CreateDirectoryTree(QFileInfo(sPath).absolutePath());
    DWORD dwError = ERROR_SUCCESS;
    if (WriteFileAtomically(sPath, QByteArray(), &dwError))
        return true;
    WriteLogF("ResetHistory: cannot empty %s, error %u", ToUtf8(sPath).constData(), dwError);
    return false;
}
} // namespace

bool ResetHistory(const QString& sUuid)
{
    return EmptyHistoryFile(HistoryPathFor(sUuid));
}

bool ClearHistory()
{
    return EmptyHistoryFile(CurrentHistoryPath());
}

bool CTransferHistory::Load(const QString& sPath, const std::atomic<bool>* pbStop)
{
    m_sPath = sPath;
    m_lines.clear();
    m_bEndsWithCrLf = true;
    m_nSize = m_nInode = m_nMtimeNs = -1;
    const QByteArray path = QFile::encodeName(sPath);
    int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // A missing history is created empty, so that it can be opened from the settings.
        const int nNew = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (nNew >= 0)
            ::close(nNew);
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT)
            return true; // no device folder yet: nothing was ever written
    }
    if (fd < 0) {
        WriteLogF("ReadHistory: cannot open %s: %s", path.constData(), std::strerror(errno));
        return false;
    }
    struct stat fileStat
    {
    };
    if (::fstat(fd, &fileStat) != 0 || !S_ISREG(fileStat.st_mode)) {
        // A device or a pipe in the history's place could be read for ever.
        WriteLogF("ReadHistory: %s is not a file", path.constData());
        ::close(fd);
        return false;
    }
    QByteArray pending;
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    bool bOk = true;
    bool bStopped = false;
    for (;;) {
        const ssize_t nRead = ::read(fd, chunk.data(), static_cast<size_t>(chunk.size()));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            WriteLogF("ReadHistory: cannot read %s: %s", path.constData(), std::strerror(errno));
            bOk = false;
            break;
        }
        if (nRead == 0)
            break;
        pending.append(chunk.constData(), nRead);
        qsizetype nStart = 0;
        for (qsizetype nEnd = pending.indexOf("\r\n"); nEnd >= 0; nEnd = pending.indexOf("\r\n", nStart)) {
            if (nEnd > nStart)
                m_lines.append(pending.mid(nStart, nEnd - nStart));
            nStart = nEnd + 2;
        }
        pending.remove(0, nStart);
        if (pbStop && pbStop->load()) {
            bStopped = true;
            break;
        }
    }
    if (!pending.isEmpty()) {
        // The last line has no line end; it counts all the same.
        m_lines.append(pending);
        m_bEndsWithCrLf = false;
    }
    struct stat st
    {
    };
    if (bOk && !bStopped && ::fstat(fd, &st) == 0) {
        const SFileState state = StateOf(st);
        m_nSize = state.nSize;
        m_nInode = state.nInode;
        m_nMtimeNs = state.nMtimeNs;
    }
    ::close(fd);
    if (bStopped || !bOk)
        m_lines.clear();
    return bOk;
}

bool CTransferHistory::FileUnchanged() const
{
    if (m_nSize < 0)
        return false;
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(m_sPath).constData(), &st) != 0)
        return false;
    const SFileState state = StateOf(st);
    return state.nSize == m_nSize && state.nInode == m_nInode && state.nMtimeNs == m_nMtimeNs;
}

void CTransferHistory::RememberFileState()
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(m_sPath).constData(), &st) != 0) {
        m_nSize = m_nInode = m_nMtimeNs = -1;
        return;
    }
    const SFileState state = StateOf(st);
    m_nSize = state.nSize;
    m_nInode = state.nInode;
    m_nMtimeNs = state.nMtimeNs;
}

bool CTransferHistory::Write(const QString& sPath, const QStringList& newLines)
{
    QList<QByteArray> raw;
    raw.reserve(newLines.size());
    for (const QString& sLine : newLines) {
        if (!sLine.isEmpty())
            raw.append(ToUtf8(sLine));
    }
    if (raw.isEmpty())
        return true;
    CreateDirectoryTree(QFileInfo(sPath).absolutePath());
    // Another writer (Clear, a changed selection, an editor) may have changed the file since it
    // was read; trimming must work from what the file holds now.
    bool bKnown = true;
    if (sPath != m_sPath || !FileUnchanged())
        bKnown = Load(sPath);

    if (!bKnown || m_lines.size() + raw.size() <= kHistoryMaxLines) {
        // Appending: a file that could not be read is never rewritten, so nothing of it is lost.
        if (!AppendLines(sPath, raw))
            return false;
        if (!bKnown)
            m_nSize = -1; // the content is still unknown: read it before the next write
        return true;
    }

    // Over the limit: keep the newest lines, those of this run included, in the order written.
    QList<QByteArray> all = m_lines;
    all += raw;
    const qsizetype nDrop = all.size() - kHistoryMaxLines;
    DWORD dwError = ERROR_SUCCESS;
    if (WriteFileAtomically(sPath, JoinRawLines(all, nDrop), &dwError)) {
        all.remove(0, nDrop);
        m_lines = std::move(all);
        m_bEndsWithCrLf = true;
        RememberFileState();
        return true;
    }
    WriteLogF("WriteHistory: cannot rewrite %s, error %u", QFile::encodeName(sPath).constData(), dwError);
    if (dwError == ERROR_DISK_FULL) {
        NotifyDiskFull();
        m_nSize = -1;
        return false;
    }
    // The rewrite failed for another reason (say, the folder is read-only while the file is
    // not): the new lines are appended so that they are not lost; the next write trims again.
    return AppendLines(sPath, raw);
}

bool CTransferHistory::AppendLines(const QString& sPath, const QList<QByteArray>& raw)
{
    SFileState state;
    if (!AppendBytes(sPath, JoinRawLines(raw, 0), &state)) {
        m_nSize = -1;
        return false;
    }
    m_lines += raw;
    m_bEndsWithCrLf = true;
    m_nSize = state.nSize;
    m_nInode = state.nInode;
    m_nMtimeNs = state.nMtimeNs;
    return true;
}

QStringList CTransferHistory::Lines() const
{
    QStringList lines;
    lines.reserve(m_lines.size());
    for (const QByteArray& line : m_lines)
        lines.append(FromUtf8(line));
    return lines;
}

void CTransferredIndex::Clear()
{
    m_entries.clear();
    m_lines.clear();
}

void CTransferredIndex::Build(const QList<QByteArray>& historyLines)
{
    Clear();
    m_lines = historyLines; // shares the bytes, copies nothing
    for (qsizetype nLine = 0; nLine < m_lines.size(); ++nLine) {
        const QByteArrayView line(m_lines[nLine]);
        if (!IsSuccess(line))
            continue; // a failed attempt leaves the file to be tried again
        const QByteArrayView key = line.first(KeyLength(line));
        const qsizetype nOpen = key.lastIndexOf('(');
        SEntry entry{};
        if (nOpen < 0 || !ParseTimeRange(key, nOpen, key.size(), entry.n))
            continue; // a key without a readable time never matches a file
        // The path part, without a byte-order mark in front of the first line.
        entry.nPathStart = key.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        if (nOpen < entry.nPathStart)
            continue;
        entry.nPathLength = static_cast<std::uint32_t>(nOpen - entry.nPathStart);
        entry.nLine = static_cast<std::uint32_t>(nLine);
        entry.nHash = HashOf(key.sliced(entry.nPathStart, entry.nPathLength));
        m_entries.push_back(entry);
    }
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const SEntry& a, const SEntry& b) { return a.nHash < b.nHash; });
}

bool CTransferredIndex::IsAlreadyTransferred(const QString& sPath, const QString& sModifiedTime) const
{
    if (m_entries.empty())
        return false;
    int file[6];
    if (!ParseModifiedTime(sModifiedTime, file))
        return false;
    // The path as the history writes it.
    const QByteArray path = ToUtf8(HistoryFieldText(sPath));
    const std::uint64_t nHash = HashOf(path);
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), nHash,
                               [](const SEntry& entry, std::uint64_t n) { return entry.nHash < n; });
    for (; it != m_entries.end() && it->nHash == nHash; ++it) {
        // Same path byte for byte (case-sensitive), and each of the six numbers of the file's time
        // at most the entry's number in that position (field by field, not as one date).
        if (QByteArrayView(m_lines[it->nLine]).sliced(it->nPathStart, it->nPathLength) != QByteArrayView(path))
            continue;
        bool bCovered = true;
        for (int i = 0; i < 6 && bCovered; ++i)
            bCovered = file[i] <= it->n[i];
        if (bCovered)
            return true;
    }
    return false;
}

std::vector<QByteArrayView> CTransferredIndex::PathsInLineOrder() const
{
    std::vector<const SEntry*> entries;
    entries.reserve(m_entries.size());
    for (const SEntry& entry : m_entries)
        entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const SEntry* a, const SEntry* b) { return a->nLine < b->nLine; });
    std::vector<QByteArrayView> paths;
    paths.reserve(entries.size());
    for (const SEntry* pEntry : entries)
        paths.push_back(QByteArrayView(m_lines[pEntry->nLine]).sliced(pEntry->nPathStart, pEntry->nPathLength));
    return paths;
}

std::uint64_t CTransferredIndex::HashOf(QByteArrayView bytes)
{
    return std::hash<std::string_view>()(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
}
