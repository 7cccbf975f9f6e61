#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// TransferHistory.txt: one line per file a run tried to copy, in the order of the attempts,
// UTF-8 without byte-order mark, each line ended by CR LF:
//   <source path>(YYYY-MM-DD hh:mm:ss) | DeviceName:<name> <share> | Result: <text> | Time:YYYY-MM-DD hh:mm:ss
// e.g. "/home/ann/Music/a.mp3(2014-03-07 09:05:02) | DeviceName:Living Room Tolva_Internal |
// Result: OK | Time:2014-03-08 10:11:12". The file holds at most 50,000 lines.
//
// The scan reads the history of the selected device (CurrentHistoryPath) to skip files already
// on the device; the transfer worker writes the history of the device it took (HistoryPathFor).
// A run never scans and writes at the same time, so the file itself is not locked.

inline constexpr const char* kHistoryFileName = "TransferHistory.txt";
inline constexpr int kHistoryMaxLines = 50000;

// "YYYY-MM-DD hh:mm:ss" ("%4d" year, every other field two digits), the layout of the last field.
QString FormatHistoryTime(const QDateTime& localTime);
// "(YYYY-MM-DD hh:mm:ss)", the layout of the file time (second field, CContent::m_sModifiedTime).
QString FormatModifiedTime(const QDateTime& localTime);
// A name as it stands in a history line: every control character (CR, LF, tab, ...) and every
// byte of a file name that is not UTF-8 (see FromNativeName) becomes "\xHH", so a line stays one
// line of valid UTF-8 whatever a file name or a player's name holds, and a file is found again
// under the same text at the next scan. Other text is unchanged.
QString HistoryFieldText(const QString& sText);
// One history line without its CR LF; the path and the device name pass HistoryFieldText.
QString MakeHistoryLine(const QString& sSourcePath, const QString& sModifiedTime, const QString& sDeviceName,
                        const QString& sShareName, const QString& sResultText, const QDateTime& attemptTime);

// The transferred key of a line: path and file time, "<path>(YYYY-MM-DD hh:mm:ss)", i.e. the text
// before the " |" that follows the file time (the text before the first " |" when the line has
// no well-formed time). A line counts as a success (CTransferredIndex) when its result field reads
// exactly "OK", taken from the end of the line so that a path or device name holding those words
// cannot fake or hide a result.
QString TransferredKeyOf(const QString& sLine);

// Device folder + "TransferHistory.txt"; CurrentHistoryPath uses the UUID of the setting
// CurrentDevId (the application data folder itself when that is empty).
QString HistoryPathFor(const QString& sUuid);
QString CurrentHistoryPath();

// Empties the history of the UUID / of the current device (atomically: there is never a moment
// without the file).
bool ResetHistory(const QString& sUuid);
bool ClearHistory();

// One history file as it stands on disk, kept from the scan's read to the last write of the run,
// so that trimming never drops a line written earlier in the same run and never re-reads the file.
// Lines are kept as their raw bytes, so a rewrite gives back every kept line byte for byte (even
// a corrupt one). Not thread-safe: the contents manager guards its instance with a lock.
class CTransferHistory
{
public:
    // Reads the file at the path (created empty when missing). False when it cannot be read;
    // the content is empty then. A set stop flag stops the read and empties the content.
    bool Load(const QString& sPath, const std::atomic<bool>* pbStop = nullptr);
    // Adds lines (without CR LF) to the file at the path: appended while the file stays within
    // 50,000 lines, else the file is rewritten atomically with the newest 50,000 lines of the
    // file followed by the new ones, in the order written. When the path differs from the one
    // loaded, or the file changed on disk since (cleared, edited), it is loaded again first.
    // Creates the device folder when missing. Disk full calls NotifyDiskFull. Nothing is
    // written for no lines.
    bool Write(const QString& sPath, const QStringList& newLines);
    // The lines as UTF-16 strings, oldest first.
    QStringList Lines() const;
    const QList<QByteArray>& RawLines() const { return m_lines; }
    qsizetype LineCount() const { return m_lines.size(); }

private:
    bool FileUnchanged() const;
    void RememberFileState();
    // Appends the lines to the file and to the lines held; false (content then unknown) when the
    // append failed.
    bool AppendLines(const QString& sPath, const QList<QByteArray>& raw);

    QString m_sPath;
    QList<QByteArray> m_lines;
    bool m_bEndsWithCrLf = true; // false when the last line of the file lacks its CR LF
    // What the file looked like after our last read or write, to notice changes by others.
    std::int64_t m_nSize = -1;
    std::int64_t m_nInode = -1;
    std::int64_t m_nMtimeNs = -1;
};

// The index of transferred files, built from the successful lines of a history. A file counts
// as transferred when a successful line has its exact path (byte for byte in UTF-8,
// case-sensitive; a byte-order mark in front of the first line ignored) and a file time whose six
// numbers (year, month, day, hour, minute, second) are each at least the file's own number in
// that position. Lines whose time cannot be parsed never match. One look-up per file, whatever
// the size of the history; the index shares the line bytes with the history it was built from.
class CTransferredIndex
{
public:
    // Replaces the index with the successful lines of a history (raw lines, without CR LF).
    void Build(const QList<QByteArray>& historyLines);
    void Clear();
    bool IsAlreadyTransferred(const QString& sPath, const QString& sModifiedTime) const;
    // The source paths of the successful lines (as their UTF-8 text), in the order of the lines.
    std::vector<QByteArrayView> PathsInLineOrder() const;

private:
    struct SEntry
    {
        std::uint64_t nHash; // of the path part
        std::uint32_t nLine;
        std::uint32_t nPathStart;
        std::uint32_t nPathLength;
        int n[6];
    };
    static std::uint64_t HashOf(QByteArrayView bytes);

    QList<QByteArray> m_lines;
    std::vector<SEntry> m_entries; // sorted by hash
};
