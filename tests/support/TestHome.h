#pragma once

#include <memory>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include "platform/VirtualClock.h"

// A fresh user profile for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_MUSIC_DIR point
// into a temporary folder (so the settings file, the autostart entry and the application data
// folder are the test's own), and the process clock is a virtual clock. Everything is restored
// and removed at the end.
class CTestHome
{
public:
    CTestHome();
    ~CTestHome();
    CTestHome(const CTestHome&) = delete;
    CTestHome& operator=(const CTestHome&) = delete;

    QString Root() const { return m_dir.path(); }
    QString Path(const QString& sRelative) const { return m_dir.path() + "/" + sRelative; }
    CVirtualClock& Clock() { return m_clock; }

    // Creates the application data folder and the log file, so WriteLog writes.
    void EnableLog();
    QByteArray ReadLog() const;

private:
    QTemporaryDir m_dir;
    CVirtualClock m_clock;
    struct SSaved;
    std::unique_ptr<SSaved> m_pSaved;
};

// Writes bytes to a file, creating its folders; fails the test on error.
void WriteTestFile(const QString& sPath, const QByteArray& data);
QByteArray ReadTestFile(const QString& sPath);
