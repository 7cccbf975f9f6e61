#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/Diagnostics.h"
#include "platform/SettingsStore.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

std::mutex g_reportsMutex;
QStringList g_reports;

void CollectReport(const QString& sMessage)
{
    std::lock_guard lock(g_reportsMutex);
    g_reports << sMessage;
}

// Captures the platform's diagnostic reports for one test.
class CReportCapture
{
public:
    CReportCapture() : m_pPrevious(SetDiagnosticSink(&CollectReport))
    {
        std::lock_guard lock(g_reportsMutex);
        g_reports.clear();
    }
    ~CReportCapture() { SetDiagnosticSink(m_pPrevious); }
    QStringList Reports() const
    {
        std::lock_guard lock(g_reportsMutex);
        return g_reports;
    }

private:
    DiagnosticSink m_pPrevious;
};

SSettingValue Dword(DWORD dw)
{
    SSettingValue value;
    value.eType = SSettingValue::TYPE_DWORD;
    value.dwValue = dw;
    return value;
}

SSettingValue Sz(const QString& s)
{
    SSettingValue value;
    value.eType = SSettingValue::TYPE_SZ;
    value.sValue = s;
    return value;
}

const char* const kKey = "Software\\Brenvik Corporation\\TolvaMusicTransfer";

} // namespace

TEST(SettingsStore, EveryInstanceSeesTheLastWriteAtOnce)
{
    QTemporaryDir dir;
    const QString sFile = dir.path() + "/cfg/settings.conf";
    const CSettingsStore first(sFile, kKey);
    const CSettingsStore second(sFile, kKey); // as another process would open it
    EXPECT_FALSE(first.Read("FirstRun").has_value());
    ASSERT_TRUE(first.Write("FirstRun", Dword(1)));
    ASSERT_TRUE(second.Read("FirstRun").has_value());
    EXPECT_EQ(second.Read("FirstRun")->dwValue, 1u);
    ASSERT_TRUE(second.Write("FirstRun", Dword(0)));
    EXPECT_EQ(first.Read("FirstRun")->dwValue, 0u) << "no cached copy in the first instance";
    ASSERT_TRUE(second.Remove("FirstRun"));
    EXPECT_FALSE(first.Read("FirstRun").has_value());

    // Keys of other paths share the file without touching each other.
    const CSettingsStore other(sFile, "Software\\Other");
    ASSERT_TRUE(other.Write("FirstRun", Sz("text")));
    EXPECT_FALSE(first.Read("FirstRun").has_value());
    EXPECT_EQ(other.Read("FirstRun")->eType, SSettingValue::TYPE_SZ);
    EXPECT_EQ(other.Read("FirstRun")->sValue, "text");
}

TEST(SettingsStore, WritersInSeveralProcessesLoseNoValue)
{
    QTemporaryDir dir;
    const QString sFile = dir.path() + "/settings.conf";
    constexpr int kChildren = 2;
    constexpr int kPerWriter = 15;
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const CSettingsStore store(sFile, kKey);
            bool bOk = true;
            for (int i = 0; i < kPerWriter; ++i)
                bOk = store.Write(QString("Child%1_%2").arg(c).arg(i), Dword(static_cast<DWORD>(i))) && bOk;
            ::_exit(bOk ? 0 : 1);
        }
        children.push_back(pid);
    }
    const CSettingsStore store(sFile, kKey);
    for (int i = 0; i < kPerWriter; ++i)
        ASSERT_TRUE(store.Write(QString("Parent_%1").arg(i), Dword(static_cast<DWORD>(i))));
    for (const pid_t pid : children) {
        int nStatus = 0;
        ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
        EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    }
    for (int i = 0; i < kPerWriter; ++i) {
        EXPECT_TRUE(store.Read(QString("Parent_%1").arg(i)).has_value()) << i;
        for (int c = 0; c < kChildren; ++c) {
            const std::optional<SSettingValue> value = store.Read(QString("Child%1_%2").arg(c).arg(i));
            ASSERT_TRUE(value.has_value()) << c << " " << i;
            EXPECT_EQ(value->dwValue, static_cast<DWORD>(i));
        }
    }
}

TEST(SettingsStore, EachCorruptFileIsKeptAsideUnderItsOwnName)
{
    CReportCapture capture;
    QTemporaryDir dir;
    const QString sFile = dir.path() + "/settings.conf";
    const CSettingsStore store(sFile, kKey);
    // Two damaged versions in the same second must not overwrite each other's copy.
    WriteTestFile(sFile, "{ \"first\": ");
    ASSERT_TRUE(store.Write("A", Dword(1)));
    WriteTestFile(sFile, "second damage");
    ASSERT_TRUE(store.Write("B", Dword(2)));
    EXPECT_FALSE(store.Read("A").has_value()) << "the write after the damage started a new file";
    ASSERT_TRUE(store.Read("B").has_value());

    const QStringList aside = QDir(dir.path()).entryList({"settings.conf.corrupt-*"}, QDir::Files, QDir::Name);
    ASSERT_EQ(aside.size(), 2);
    QList<QByteArray> contents;
    for (const QString& sName : aside)
        contents << ReadTestFile(dir.path() + "/" + sName);
    EXPECT_TRUE(contents.contains("{ \"first\": "));
    EXPECT_TRUE(contents.contains("second damage"));
    EXPECT_GE(capture.Reports().filter("was corrupt").size(), 2) << capture.Reports().join('\n').toStdString();
}

TEST(SettingsStore, NoHomeFolderMeansNoFileAndRefusedWrites)
{
    CReportCapture capture;
    const CSettingsStore store(QString(), kKey);
    EXPECT_FALSE(store.Read("FirstRun").has_value());
    EXPECT_FALSE(store.Write("FirstRun", Dword(1)));
    EXPECT_FALSE(capture.Reports().filter("cannot be located").isEmpty());
}
