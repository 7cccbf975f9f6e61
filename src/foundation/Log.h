#pragma once

#include <QDateTime>
#include <QString>

// The diagnostic log: "Tolvalog.txt" in the application data folder. It is off until the user
// creates that file and stops when the file is deleted; the program never creates it. Each line
// is "yyyy-mm-dd hh:mm:ss | message" with blank-padded fields, opened, appended, flushed and
// closed per call, so it is on disk when WriteLog returns. A file above 10,485,760 bytes is
// emptied before the next line. Callable from any thread; lines never interleave.
void WriteLog(const QString& sMessage);
// printf-style: %s takes UTF-8 char*, %ls a char16_t* string, %u/%d numbers.
void WriteLogF(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// Path of the log file.
QString LogFilePath();

// The line WriteLog would write for a message at a local time (prefix, message, CR LF; line
// feeds of the message as CR LF), as the single-byte text stored in the file.
QByteArray FormatLogLine(const QDateTime& localTime, const QString& sMessage);

// Tells the main window that the PC's disk is full (posts WM_DISK_FULL); does nothing when no
// main window is registered. Never blocks.
void NotifyDiskFull();

// The log's size limit.
constexpr qint64 kLogSizeLimit = 10485760;
