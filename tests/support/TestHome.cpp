#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "platform/ShareFileSystem.h"

namespace {
const char* const kVariables[] = {"HOME",   "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_MUSIC_DIR", "LANGUAGE",
                                  "LC_ALL", "LC_MESSAGES",     "LANG",          "LC_CTYPE"};
}

struct CTestHome::SSaved
{
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> variables;
};

CTestHome::CTestHome() : m_pSaved(std::make_unique<SSaved>())
{
    for (const char* pszName : kVariables) {
        std::optional<QByteArray> value;
        if (qEnvironmentVariableIsSet(pszName))
            value = qgetenv(pszName);
        m_pSaved->variables.emplace_back(pszName, value);
    }
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/.config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/.local/share"));
    qputenv("XDG_MUSIC_DIR", QFile::encodeName(m_dir.path() + "/Music"));
    for (const char* pszName : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LC_CTYPE"})
        qunsetenv(pszName);
    qputenv("LANG", "C.UTF-8");
    SetClock(&m_clock);
}

CTestHome::~CTestHome()
{
    SetClock(nullptr);
    CShareFileSystem::UnmapAllShareRoots();
    for (const auto& [name, value] : m_pSaved->variables) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void CTestHome::EnableLog()
{
    ASSERT_TRUE(CreateAppDataFolder());
    WriteTestFile(LogFilePath(), QByteArray());
}

QByteArray CTestHome::ReadLog() const
{
    return ReadTestFile(LogFilePath());
}

void WriteTestFile(const QString& sPath, const QByteArray& data)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(sPath).absolutePath())) << sPath.toStdString();
    QFile file(sPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << sPath.toStdString();
    ASSERT_EQ(file.write(data), data.size());
}

QByteArray ReadTestFile(const QString& sPath)
{
    QFile file(sPath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}
