#include "sync/ContentsManager.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QFile>
#include <QHash>
#include <QSet>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "platform/ShareFileSystem.h"
#include "platform/TextCodec.h"
#include "sync/DeviceLists.h"
#include "sync/ErrorCode.h"

namespace {
// The innermost folder levels kept on the device, and the limit of a full device path.
constexpr int kMaxFolderLevels = 98;
constexpr int kMaxDevicePathLength = 1000;

struct SQStringHash
{
    std::size_t operator()(const QString& s) const { return qHash(s); }
};

// "(YYYY-MM-DD hh:mm:ss)" of a file time, in local time with the system's time-zone rules.
QString ModifiedTimeText(const struct timespec& mtime)
{
    struct tm local
    {
    };
    const time_t nSeconds = mtime.tv_sec;
    if (!::localtime_r(&nSeconds, &local))
        return QString();
    char16_t buffer[32];
    int n = 0;
    auto put2 = [&](int v) {
        buffer[n++] = static_cast<char16_t>('0' + (v / 10) % 10);
        buffer[n++] = static_cast<char16_t>('0' + v % 10);
    };
    buffer[n++] = '(';
    const int nYear = local.tm_year + 1900;
    if (nYear >= 1000 && nYear <= 9999) {
        put2(nYear / 100);
        put2(nYear % 100);
    } else {
        for (const char c : QByteArray::number(nYear).rightJustified(4, ' '))
            buffer[n++] = static_cast<char16_t>(c);
    }
    buffer[n++] = '-';
    put2(local.tm_mon + 1);
    buffer[n++] = '-';
    put2(local.tm_mday);
    buffer[n++] = ' ';
    put2(local.tm_hour);
    buffer[n++] = ':';
    put2(local.tm_min);
    buffer[n++] = ':';
    put2(local.tm_sec);
    buffer[n++] = ')';
    return QString(reinterpret_cast<const QChar*>(buffer), n);
}

// Characters a folder name on the device's share may not hold. A name from this PC can hold them
// (only '/' and NUL are impossible here), so each becomes "_", as in FixName.
bool IsForbiddenInShareName(char16_t c)
{
    switch (c) {
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|': return true;
    default: return c < 0x20;
    }
}
} // namespace

CContentsManager::CContentsManager(IContentsManagerOwner* pOwner) : m_pOwner(pOwner)
{}

CContentsManager::~CContentsManager()
{
    m_bStop = true;
    JoinScan();
}

void CContentsManager::SetDevice(const QString& sUuid, const QString& sIp)
{
    std::lock_guard lock(m_deviceLock);
    m_sDeviceUuid = sUuid;
    m_sDeviceIp = sIp;
}

QString CContentsManager::GetDeviceUuid() const
{
    std::lock_guard lock(m_deviceLock);
    return m_sDeviceUuid;
}

QString CContentsManager::GetDeviceIp() const
{
    std::lock_guard lock(m_deviceLock);
    return m_sDeviceIp;
}

bool CContentsManager::StartScan()
{
    bool bIdle = false;
    if (!m_bScanRunning.compare_exchange_strong(bIdle, true))
        return false;
    // The previous scan is over, but its thread may still wait in its report for the very thread
    // that calls this (the main window's handler of that report): it is joined once it has ended.
    m_threads.Start([this] { SearchProc(); });
    return true;
}

void CContentsManager::JoinScan()
{
    m_threads.JoinAll();
}

QStringList CContentsManager::GetHistoryLines() const
{
    std::lock_guard lock(m_historyLock);
    return m_history.Lines();
}

bool CContentsManager::WriteHistory(const QString& sUuid, const QStringList& newLines)
{
    std::lock_guard lock(m_historyLock);
    return m_history.Write(HistoryPathFor(sUuid), newLines);
}

void CContentsManager::SearchProc()
{
    IContentsManagerOwner* const pOwner = m_pOwner;
    if (!pOwner)
        WriteLog("SearchProc: no owner to report to!");
    m_longNameQueue.Clear();
    if (ScanFolders() == 0)
        WriteLog("SearchProc: There are no files need to transfer!");
    const bool bStopped = m_bStop;
    if (bStopped) {
        // A stopped scan hands nothing on: neither queue may start a transfer later.
        m_contentQueue.Clear();
        m_longNameQueue.Clear();
    }
    // The transfer thread records the files that cannot be placed, so they alone start a run.
    const bool bQueued = !bStopped && (m_contentQueue.GetCount() > 0 || m_longNameQueue.GetCount() > 0);
    // Over before the report: the main window handles a report while this thread waits (the power
    // check may even report from its own thread before StartPowerCheck returns here), and may
    // start the next scan from its handler. From here on this thread touches no member.
    m_bScanRunning = false;
    if (!pOwner)
        return;
    if (bQueued)
        pOwner->StartPowerCheck();
    else
        pOwner->TransferFinished(bStopped ? EC_CANCELLED : EC_NO_FILES);
}

void CContentsManager::LoadHistoryAndIndex()
{
    const QString sUuid = GetDeviceUuid();
    // The last run's lines go first, so that two histories are never held at once.
    m_transferredIndex.Clear();
    {
        std::lock_guard lock(m_historyLock);
        m_history = CTransferHistory();
    }
    // The history of the device this run writes to: the transfer records its lines there.
    CTransferHistory history;
    history.Load(HistoryPathFor(sUuid), &m_bStop);
    m_transferredIndex.Build(history.RawLines());
    {
        std::lock_guard lock(m_historyLock);
        m_history = std::move(history);
    }
    m_tickedExtensions.clear();
    for (const QString& sLine : ReadListFile(sUuid, kCapabilityListName)) {
        if (!IsListLineTicked(sLine))
            continue;
        const qsizetype nBar = sLine.indexOf('|');
        m_tickedExtensions.append(nBar < 0 ? sLine : sLine.left(nBar));
    }
}

std::size_t CContentsManager::ScanFolders()
{
    if (m_contentQueue.GetCount() > 0)
        m_contentQueue.Clear();
    std::vector<SFoundFile> files;
    GetAllFilesPath(&files);
    if (files.empty())
        return 0;
    LoadHistoryAndIndex();

    QStringList dottedExtensions;
    for (const QString& sExtension : m_tickedExtensions)
        dottedExtensions.append("." + sExtension);
    const QString sComputerName = GetComputerNameText();
    const int nRootLength = static_cast<int>(InternalSharePath(GetDeviceIp()).size()) + 1;
    std::vector<std::unique_ptr<CContent>> placed; // in walk order

    for (SFoundFile& file : files) {
        if (m_bStop) {
            m_contentQueue.Clear();
            break;
        }
        const qsizetype nDot = file.sPath.lastIndexOf('.');
        if (nDot < 0)
            continue;
        const QStringView extension = QStringView(file.sPath).mid(nDot);
        bool bTicked = false;
        for (const QString& sDotted : dottedExtensions) {
            if (extension.compare(sDotted, Qt::CaseInsensitive) == 0) {
                bTicked = true;
                break;
            }
        }
        if (!bTicked)
            continue;
        if (m_transferredIndex.IsAlreadyTransferred(file.sPath, file.sTime))
            continue;

        auto pContent = std::make_unique<CContent>();
        pContent->m_sSourcePath = std::move(file.sPath);
        pContent->m_sModifiedTime = std::move(file.sTime);
        const bool bPlaced = MakeTargetPath(RelativePathOf(pContent->m_sSourcePath), sComputerName, nRootLength,
                                            &pContent->m_sTargetPath);
        if (file.bBadName) {
            // Opened by its bytes; on the share, where names are Unicode, each byte that is not
            // UTF-8 stands for the character of that number (the Latin-1 reading of old names).
            WriteLog("SearchProc: file name is not valid UTF-8: " + HistoryFieldText(pContent->m_sSourcePath) +
                     " goes to " + pContent->m_sTargetPath);
        }
        if (bPlaced) {
            placed.push_back(std::move(pContent));
        } else {
            pContent->m_nFailStringId = IDS_NAME_TOO_LONG;
            m_longNameQueue.Push(pContent);
        }
    }
    if (!m_bStop)
        AssignShareNames(&placed, sComputerName, nRootLength);
    for (std::unique_ptr<CContent>& pContent : placed) {
        if (pContent->m_nFailStringId != 0)
            m_longNameQueue.Push(pContent);
        else
            m_contentQueue.Push(pContent);
    }
    return m_contentQueue.GetCount();
}

namespace {
// Share names are compared as the players' shares do: without regard to case.
QString ShareNameKey(const QString& sTarget)
{
    return sTarget.toCaseFolded();
}

// A hash of ShareNameKey(sText) that builds no string for the usual pure-ASCII name: equal keys
// give equal hashes, so names whose hashes differ never meet on the share.
std::uint64_t ShareNameKeyHash(QStringView text)
{
    std::uint64_t nHash = 14695981039346656037ull; // FNV-1a over the folded UTF-16 units
    const auto add = [&nHash](char16_t c) {
        nHash ^= c;
        nHash *= 1099511628211ull;
    };
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x80) {
            // Folding beyond ASCII can change the length ("ß" is "ss"): the full fold decides.
            nHash = 14695981039346656037ull;
            for (const QChar folded : text.toString().toCaseFolded())
                add(folded.unicode());
            return nHash;
        }
        const char16_t c = ch.unicode();
        add(c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c + ('a' - 'A')) : c);
    }
    return nHash;
}

// Whether two of the hashes are equal (sorts them).
bool HasEqualHashes(std::vector<std::uint64_t>* pHashes)
{
    std::sort(pHashes->begin(), pHashes->end());
    return std::adjacent_find(pHashes->begin(), pHashes->end()) != pHashes->end();
}

// "OFFICE\Music_b.mp3" numbered n: "OFFICE\Music_b (n).mp3".
QString NumberedTarget(const QString& sTarget, int n)
{
    const qsizetype nNameStart = sTarget.lastIndexOf('\\') + 1;
    qsizetype nDot = sTarget.lastIndexOf('.');
    if (nDot <= nNameStart)
        nDot = sTarget.size();
    return sTarget.left(nDot) + QString(" (%1)").arg(n) + sTarget.mid(nDot);
}
} // namespace

void CContentsManager::AssignShareNames(std::vector<std::unique_ptr<CContent>>* pPlaced, const QString& sComputerName,
                                        int nRootLength)
{
    if (pPlaced->empty())
        return;
    // Which source file has which name on the share (folded name -> source path as the history
    // writes it). Files renamed earlier keep their names.
    QHash<QString, QString> owners;
    QHash<QString, QString> renamed; // source -> its own name on the share
    for (const QString& sLine : ReadListFile(GetDeviceUuid(), kShareNameListName)) {
        const qsizetype nBar = sLine.indexOf('|');
        if (nBar <= 0)
            continue;
        renamed.insert(sLine.mid(nBar + 1), sLine.left(nBar));
        if (!owners.contains(ShareNameKey(sLine.left(nBar))))
            owners.insert(ShareNameKey(sLine.left(nBar)), sLine.mid(nBar + 1));
    }
    // The source paths as the history and the list of names write them.
    std::vector<QString> sources;
    const auto workOutSources = [&] {
        if (!sources.empty())
            return;
        sources.reserve(pPlaced->size());
        for (const std::unique_ptr<CContent>& pContent : *pPlaced)
            sources.push_back(HistoryFieldText(pContent->m_sSourcePath));
    };
    if (!renamed.isEmpty()) {
        workOutSources();
        for (std::size_t i = 0; i < pPlaced->size(); ++i) {
            const auto it = renamed.constFind(sources[i]);
            if (it != renamed.constEnd())
                (*pPlaced)[i]->m_sTargetPath = *it;
        }
    }
    // The files already on the share: each successful history line's file holds the name its path
    // gives, unless an earlier line's file took it first. Usually only lines whose file name
    // matches a queued one can collide, so the others are not worked out, until a collision shows
    // that numbered names are needed (which may collide with any file on the share).
    std::unordered_set<std::uint64_t> queuedNames; // hashes of the queued files' name keys
    queuedNames.reserve(pPlaced->size());
    for (const std::unique_ptr<CContent>& pContent : *pPlaced) {
        const QString& sTarget = pContent->m_sTargetPath;
        queuedNames.insert(ShareNameKeyHash(QStringView(sTarget).sliced(sTarget.lastIndexOf('\\') + 1)));
    }
    const std::vector<QByteArrayView> historyPaths = m_transferredIndex.PathsInLineOrder();
    auto claimHistory = [&](bool bAll) {
        for (const QByteArrayView path : historyPaths) {
            if (!bAll) {
                qsizetype nSlash = path.lastIndexOf('/');
                if (nSlash < 0)
                    nSlash = path.lastIndexOf('\\');
                const QString sName = QString::fromUtf8(path.sliced(nSlash + 1));
                if (!queuedNames.contains(ShareNameKeyHash(FixName(sName))))
                    continue;
            }
            const QString sSource = QString::fromUtf8(path);
            if (renamed.contains(sSource))
                continue;
            QString sTarget;
            if (MakeTargetPath(RelativePathOf(sSource), sComputerName, nRootLength, &sTarget) &&
                !owners.contains(ShareNameKey(sTarget)))
                owners.insert(ShareNameKey(sTarget), sSource); // the first owner keeps the name
        }
    };
    claimHistory(false);
    {
        // Usually every name is different: then no key need be built to show it.
        std::vector<std::uint64_t> hashes;
        hashes.reserve(pPlaced->size() + static_cast<std::size_t>(owners.size()));
        for (const std::unique_ptr<CContent>& pContent : *pPlaced)
            hashes.push_back(ShareNameKeyHash(pContent->m_sTargetPath));
        for (auto it = owners.constBegin(); it != owners.constEnd(); ++it)
            hashes.push_back(ShareNameKeyHash(it.key()));
        if (!HasEqualHashes(&hashes))
            return;
    }
    workOutSources();
    const QHash<QString, QString> ownersBefore = owners;
    bool bCollision = false;
    for (std::size_t i = 0; i < pPlaced->size() && !bCollision; ++i) {
        const QString sKey = ShareNameKey((*pPlaced)[i]->m_sTargetPath);
        const auto it = owners.constFind(sKey);
        bCollision = it != owners.constEnd() && *it != sources[i];
        owners.insert(sKey, sources[i]);
    }
    if (!bCollision)
        return;

    // Two files want one name: the first (on the share already, else first in the walk) keeps it,
    // every later one gets the first free numbered name, " (2)", " (3)", ...
    owners = ownersBefore;
    claimHistory(true);
    const qsizetype nLimit = kMaxDevicePathLength - nRootLength;
    for (std::size_t i = 0; i < pPlaced->size(); ++i) {
        CContent& content = *(*pPlaced)[i];
        QString sTarget = content.m_sTargetPath;
        for (int n = 2;; ++n) {
            const auto it = owners.constFind(ShareNameKey(sTarget));
            if (it == owners.constEnd() || *it == sources[i])
                break;
            sTarget = NumberedTarget(content.m_sTargetPath, n);
        }
        owners.insert(ShareNameKey(sTarget), sources[i]);
        if (sTarget == content.m_sTargetPath)
            continue;
        WriteLog("SearchProc: the name on the device is taken by another file; " + content.m_sSourcePath + " goes to " +
                 sTarget);
        content.m_sTargetPath = sTarget;
        content.m_bNewShareName = true;
        if (sTarget.size() > nLimit)
            content.m_nFailStringId = IDS_NAME_TOO_LONG;
    }
}

void CContentsManager::GetAllFilesPath(std::vector<SFoundFile>* pFiles)
{
    pFiles->clear();
    m_visitedDirs.clear();
    const QStringList lines = ReadListFile(GetDeviceUuid(), kSyncFolderListName);
    if (lines.isEmpty() || m_bStop) {
        WriteLog("GetAllFilesPath: The are no sync folders or canceled transfer!");
        return;
    }
    std::unordered_set<QString, SQStringHash> seen;
    for (const QString& sLine : lines) {
        if (!IsListLineTicked(sLine))
            continue;
        if (!IsFolderUsable(sLine)) {
            WriteLog("GetAllFilesPath: The sync source folders' path are valid!");
            continue;
        }
        const QString sText = ListLineText(sLine);
        if (!sText.startsWith('/') && !IsSharePath(sText)) {
            // An empty or relative folder would be walked from wherever the program happens to run.
            WriteLog("GetAllFilesPath: not an absolute folder, skipped: " + sText);
            continue;
        }
        QString sFolder = sText;
        if (sFolder.endsWith('/') || sFolder.endsWith('\\'))
            sFolder.chop(1);
        std::vector<SFoundFile> found;
        EnumerateFiles(sFolder, &found);
        if (m_bStop) {
            pFiles->clear();
            return;
        }
        if (pFiles->empty()) {
            // One folder's walk finds each path once: only a later folder can repeat one.
            *pFiles = std::move(found);
            continue;
        }
        if (seen.empty()) {
            seen.reserve(pFiles->size() + found.size());
            for (const SFoundFile& file : *pFiles)
                seen.insert(file.sPath);
        }
        pFiles->reserve(pFiles->size() + found.size());
        for (SFoundFile& file : found) {
            if (seen.insert(file.sPath).second)
                pFiles->push_back(std::move(file));
        }
    }
}

void CContentsManager::EnumerateFiles(const QString& sFolder, std::vector<SFoundFile>* pFiles)
{
    if (IsSharePath(sFolder)) {
        WriteLog("EnumerateFiles: network folders cannot be listed, skipped: " + sFolder);
        return;
    }
    const QByteArray path = sFolder.isEmpty() ? QByteArray("/") : NativeNameBytes(sFolder);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        WriteLogF("EnumerateFiles: cannot open folder %s: %s", path.constData(), std::strerror(errno));
        return;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !m_visitedDirs.insert({st.st_dev, st.st_ino}).second) {
        ::close(fd);
        return;
    }
    WalkDirectory(fd, sFolder, false, pFiles);
}

void CContentsManager::WalkDirectory(int nDirFd, const QString& sPath, bool bBadName, std::vector<SFoundFile>* pFiles)
{
    // The entries are read first and the folder closed, so a deep tree holds one descriptor per
    // level, not one directory stream. They are walked in name order, which keeps the result the
    // same from one scan to the next.
    const int nListFd = ::dup(nDirFd);
    DIR* pDir = nListFd >= 0 ? ::fdopendir(nListFd) : nullptr;
    if (!pDir) {
        WriteLogF("EnumerateFiles: cannot list folder %s: %s", ToUtf8(sPath).constData(), std::strerror(errno));
        if (nListFd >= 0)
            ::close(nListFd);
        ::close(nDirFd);
        return;
    }
    // All names of the folder in one buffer, each ended by its NUL.
    std::string names;
    struct SEntry
    {
        std::size_t nOffset;
        std::size_t nLength;
        unsigned char nType;
    };
    std::vector<SEntry> entries;
    errno = 0;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const char* pszName = pEntry->d_name;
        if (pszName[0] == '.' && (pszName[1] == 0 || (pszName[1] == '.' && pszName[2] == 0)))
            continue;
        const std::size_t nLength = std::strlen(pszName);
        entries.push_back({names.size(), nLength, pEntry->d_type});
        names.append(pszName, nLength + 1);
    }
    if (errno != 0)
        WriteLogF("EnumerateFiles: listing of %s ended early: %s", ToUtf8(sPath).constData(), std::strerror(errno));
    ::closedir(pDir);
    const char* pNames = names.data();
    std::sort(entries.begin(), entries.end(), [pNames](const SEntry& a, const SEntry& b) {
        return std::strcmp(pNames + a.nOffset, pNames + b.nOffset) < 0;
    });

    for (const SEntry& entry : entries) {
        if (m_bStop)
            break;
        const char* pszName = pNames + entry.nOffset;
        bool bNameBad = false;
        const QString sName = FromNativeName(pszName, entry.nLength, &bNameBad);
        QString sChild;
        sChild.reserve(sPath.size() + 1 + sName.size());
        sChild.append(sPath).append(QLatin1Char('/')).append(sName);
        struct stat st
        {
        };
        bool bIsDir = entry.nType == DT_DIR;
        if (entry.nType != DT_DIR) {
            // Links are followed: a link to a file gives the file, a link to a folder its files.
            if (::fstatat(nDirFd, pszName, &st, 0) != 0) {
                WriteLogF("EnumerateFiles: cannot read %s: %s", ToUtf8(sChild).constData(), std::strerror(errno));
                continue;
            }
            bIsDir = S_ISDIR(st.st_mode);
            if (!bIsDir && !S_ISREG(st.st_mode))
                continue; // pipes, sockets and devices are not music files; opening one could hang the copy
        }
        if (bIsDir) {
            const int nChildFd = ::openat(nDirFd, pszName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (nChildFd < 0) {
                WriteLogF("EnumerateFiles: cannot open folder %s: %s", ToUtf8(sChild).constData(),
                          std::strerror(errno));
                continue;
            }
            struct stat dirStat
            {
            };
            // A folder already walked (reached again through a link) is not entered twice: a link
            // cycle ends, and each file is found once.
            if (::fstat(nChildFd, &dirStat) != 0 || !m_visitedDirs.insert({dirStat.st_dev, dirStat.st_ino}).second) {
                ::close(nChildFd);
                continue;
            }
            WalkDirectory(nChildFd, sChild, bBadName || bNameBad, pFiles);
            continue;
        }
        pFiles->push_back({std::move(sChild), ModifiedTimeText(st.st_mtim), bBadName || bNameBad});
    }
    ::close(nDirFd);
}

bool CContentsManager::IsFolderUsable(const QString& sLine) const
{
    // Only a network folder ("\\host\share\...") can lie on the device; a local folder is on
    // this PC, whatever addresses the PC has.
    if (!sLine.startsWith(QLatin1String("\\\\")))
        return true;
    const qsizetype nHostEnd = sLine.indexOf('\\', 2);
    const QString sHost = sLine.mid(2, nHostEnd < 0 ? -1 : nHostEnd - 2);
    if (sHost.isEmpty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    if (::getaddrinfo(ToUtf8(sHost).constData(), nullptr, &hints, &pResult) != 0 || !pResult) {
        WriteLog("IsFolderUsable: cannot resolve " + sHost);
        return false;
    }
    const QString sDeviceIp = GetDeviceIp();
    bool bOnDevice = false;
    for (const addrinfo* p = pResult; p; p = p->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* pAddress = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
        if (::inet_ntop(AF_INET, &pAddress->sin_addr, text, sizeof(text)) && sDeviceIp == QLatin1String(text))
            bOnDevice = true;
    }
    ::freeaddrinfo(pResult);
    return !bOnDevice;
}

QString CContentsManager::RelativePathOf(const QString& sSourcePath)
{
    if (!sSourcePath.startsWith('/'))
        return DirPartOf(sSourcePath) + FileNameOf(sSourcePath);
    // "/home/ann/Music/a.mp3" becomes "\home\ann\Music\a.mp3". Folder names lose the characters
    // the share cannot hold; the file name is fixed later with FixName, and only its backslashes
    // must go now, or they would read as folder separators.
    const qsizetype nNameStart = sSourcePath.lastIndexOf('/') + 1;
    QString sRelative = sSourcePath;
    for (qsizetype i = 0; i < sRelative.size(); ++i) {
        const char16_t c = sRelative[i].unicode();
        if (EscapedNameByte(sRelative[i]) >= 0)
            sRelative[i] = QChar(static_cast<char16_t>(EscapedNameByte(sRelative[i])));
        else if (c == '/')
            sRelative[i] = '\\';
        else if (i < nNameStart ? IsForbiddenInShareName(c) : c == '\\')
            sRelative[i] = '_';
    }
    return sRelative;
}

bool CContentsManager::MakeTargetPath(const QString& sRelativePath, const QString& sComputerName, int nRootLength,
                                      QString* psTarget)
{
    const qsizetype nSlash = sRelativePath.lastIndexOf('\\');
    const QString sName = sRelativePath.mid(nSlash + 1);
    QString sPrefix = sComputerName + sRelativePath.left(nSlash + 1);
    // Keep only the innermost folder levels: cut after the 99th backslash from the end.
    int nCount = 0;
    for (qsizetype i = sPrefix.size() - 1; i >= 0; --i) {
        if (sPrefix[i] == '\\' && ++nCount == kMaxFolderLevels + 1) {
            sPrefix = sComputerName + "\\" + sPrefix.mid(i + 1);
            break;
        }
    }
    const QString sFixedName = FixName(sName);
    *psTarget = sPrefix + sFixedName;
    const qsizetype nLimit = kMaxDevicePathLength - nRootLength;
    if (psTarget->size() <= nLimit)
        return true;
    *psTarget = sComputerName + "\\" + sFixedName;
    return psTarget->size() <= nLimit;
}
