#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include <QDir>
#include <QFile>

#include "foundation/Settings.h"
#include "support/FakeDevicePower.h"
#include "support/FaultyShareFileSystem.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"
#include "support/TestMainWindow.h"
#include "sync/CommonManager.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"

inline const QString kPlayerUuid = "uuid:player-1";
inline const QString kPlayerIp = "127.0.0.2";
inline const QString kInternalRoot = "\\\\127.0.0.2\\Tolva_Internal";
inline const QString kExternalRoot = "\\\\127.0.0.2\\Tolva_External";

// The main window's direct device operations, recorded.
class CRecordingDeviceEvents final : public IDeviceEventReceiver
{
public:
    void UpdateDeviceInfo(const SDeviceChange& change) override
    {
        std::lock_guard lock(m_mutex);
        changes.push_back(change);
    }
    void SelectDeviceManual(const QString& sUuid, const QString& sIp) override
    {
        std::lock_guard lock(m_mutex);
        manualSelections.emplace_back(sUuid, sIp);
    }
    std::mutex m_mutex;
    std::vector<SDeviceChange> changes;
    std::vector<std::pair<QString, QString>> manualSelections;
};

class CRecordingProgress final : public ITransferProgressListener
{
public:
    void ShowTransferProgress(unsigned nDone, unsigned nTotal) override
    {
        std::lock_guard lock(m_mutex);
        calls.emplace_back(nDone, nTotal);
    }
    void ShowFileResult(const QString& sSourcePath, eErrorCode eResult) override
    {
        std::lock_guard lock(m_mutex);
        results.emplace_back(sSourcePath, eResult);
    }
    void ShowFileNotTransferred(const QString& sSourcePath, const QString& sReason) override
    {
        std::lock_guard lock(m_mutex);
        notTransferred.emplace_back(sSourcePath, sReason);
    }
    void ShowFileWaiting(const STransferWait& wait) override
    {
        std::lock_guard lock(m_mutex);
        waits.push_back(wait);
    }
    std::vector<STransferWait> Waits()
    {
        std::lock_guard lock(m_mutex);
        return waits;
    }
    std::vector<std::pair<unsigned, unsigned>> Calls()
    {
        std::lock_guard lock(m_mutex);
        return calls;
    }
    std::vector<std::pair<QString, eErrorCode>> Results()
    {
        std::lock_guard lock(m_mutex);
        return results;
    }
    std::mutex m_mutex;
    std::vector<std::pair<unsigned, unsigned>> calls;
    std::vector<std::pair<QString, eErrorCode>> results;
    std::vector<STransferWait> waits;
    std::vector<std::pair<QString, QString>> notTransferred;
};

// A common manager with a test main window, a player in its table (selected), shares mapped to
// temporary folders, a power double and a share layer with injectable faults.
class SyncFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        home.Clock().SetAutoAdvance(true);
        home.EnableLog();
        ASSERT_TRUE(QDir().mkpath(InternalDir()));
        ASSERT_TRUE(QDir().mkpath(ExternalDir()));
        CShareFileSystem::MapShareRoot(kInternalRoot, InternalDir());
        pCm = std::make_unique<CCommonManager>();
        pCm->Initialize(&window.Receiver(), &events);
        auto pFakePower = std::make_unique<CFakeDevicePower>();
        pPower = pFakePower.get();
        pCm->SetDevicePower(std::move(pFakePower));
        pFaults = std::make_shared<SShareFaults>();
        pCm->TransferManager().SetFileSystemFactory(
            [pFaults = pFaults] { return std::make_unique<CFaultyShareFileSystem>(pFaults); });
        pCm->TransferManager().SetProgressListener(&progress);
    }
    void TearDown() override
    {
        window.Quit();
        pCm.reset();
    }

    QString InternalDir() { return home.Path("share/internal"); }
    QString ExternalDir() { return home.Path("share/external"); }
    void MapExternal() { CShareFileSystem::MapShareRoot(kExternalRoot, ExternalDir()); }

    void AddPlayer(const QString& sUuid = kPlayerUuid, const QString& sIp = kPlayerIp, bool bSelect = true)
    {
        SDeviceSnapshot fields;
        fields.sUuid = sUuid;
        fields.sIp = sIp;
        fields.sFriendlyName = "Living Room";
        fields.sBaseUrl = "http://" + sIp + ":60100/api";
        fields.supportedTypes = QStringList{"mp3", "flac"};
        ASSERT_TRUE(pCm->DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields)));
        if (bSelect) {
            ASSERT_TRUE(pCm->SelectDevice(sUuid));
        }
    }
    void SetLists(const QStringList& folders, const QStringList& types, const QString& sUuid = kPlayerUuid)
    {
        ASSERT_TRUE(SaveListFile(sUuid, kSyncFolderListName, folders));
        ASSERT_TRUE(SaveListFile(sUuid, kCapabilityListName, types));
    }

    // Puts a file into the transfer queue as the scan would: its target is "PC\<name>".
    void QueueFile(const QString& sName, const QByteArray& data)
    {
        auto pContent = std::make_unique<CContent>();
        pContent->m_sSourcePath = home.Path("src/" + sName);
        WriteTestFile(pContent->m_sSourcePath, data);
        pContent->m_sTargetPath = "PC\\" + QString(sName).replace('/', '\\');
        pContent->m_sModifiedTime = "(2014-03-07 09:05:02)";
        pCm->ContentsManager().ContentQueue().Push(pContent);
    }
    // Runs the queued files as a ready power check would, and waits for the outcome.
    std::optional<eErrorCode> Transfer()
    {
        pCm->OnPowerStateResult(true);
        return window.WaitForOutcome();
    }

    QStringList HistoryLines(const QString& sUuid = kPlayerUuid)
    {
        const QString sText = QString::fromUtf8(ReadTestFile(HistoryPathFor(sUuid)));
        QStringList lines = sText.split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    QByteArray OnInternal(const QString& sRelative) { return ReadTestFile(InternalDir() + "/" + sRelative); }
    QByteArray OnExternal(const QString& sRelative) { return ReadTestFile(ExternalDir() + "/" + sRelative); }

    CTestHome home;
    CTestMainWindow window;
    CRecordingDeviceEvents events;
    CRecordingProgress progress;
    std::shared_ptr<SShareFaults> pFaults;
    CFakeDevicePower* pPower = nullptr;
    std::unique_ptr<CCommonManager> pCm;
};
