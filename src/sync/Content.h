#pragma once

#include <QString>

// One file chosen for transfer, handed from the scan thread to the transfer thread through a
// queue. Created by the scan, owned by the queue it is pushed to, and owned and deleted by
// whoever pops it.
class CContent
{
public:
    virtual ~CContent() = default;

    // Full path of the file on this PC as the scan built it: the watched folder as stored (a POSIX
    // path, or a "\\host\share\..." path), the sub-folders, the file name. A byte of a name that
    // is not UTF-8 is kept as an escaped byte (FromNativeName), so the file opens by its bytes.
    QString m_sSourcePath;
    // Where the file goes, relative to the root of the device share, in the share's backslash
    // form: "<computer name>\folders\file name".
    QString m_sTargetPath;
    // The file's last-write time in local time, "(YYYY-MM-DD hh:mm:ss)" with the parentheses.
    QString m_sModifiedTime;
    // For a record of the name-too-long queue: the string id of the result text its history line
    // must carry (183, the name exceeds the length limit). 0 for the records of the transfer queue.
    unsigned m_nFailStringId = 0;
    // The file's own name on the share was taken by another file, so m_sTargetPath carries a
    // name of its own ("a_b (2).mp3"); once the file is copied, the name is remembered for it.
    bool m_bNewShareName = false;
};
