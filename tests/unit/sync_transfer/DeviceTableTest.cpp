#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "device/DeviceManager.h"
#include "foundation/MessageIds.h"
#include "support/TestHome.h"

namespace {

std::unique_ptr<CDeviceInfo> MakeDevice(const QString& sUuid, const QString& sIp, const QString& sName)
{
    SDeviceSnapshot fields;
    fields.sUuid = sUuid;
    fields.sIp = sIp;
    fields.sFriendlyName = sName;
    fields.sJpegIconPath = "/icons/" + sName + ".jpg";
    fields.sPngIconPath = "/icons/" + sName + ".png";
    fields.supportedTypes = QStringList{"mp3", "flac"};
    return std::make_unique<CDeviceInfo>(fields);
}

// Records what the device manager reports, in order.
class CRecordingListener final : public IDeviceManagerListener
{
public:
    void UpdateDeviceInfo(const SDeviceChange& change) override
    {
        std::lock_guard lock(m_mutex);
        changes.push_back(change);
        events.push_back("change " + std::to_string(change.eCode));
    }
    void UpdateDeviceRemoved(const QString& sUuid) override
    {
        std::lock_guard lock(m_mutex);
        events.push_back("removed " + sUuid.toStdString());
    }
    void SelectDeviceManual(const QString&, const QString&) override {}
    void NotifyManualAddFinished() override {}
    void OnCurrentDeviceRemoved() override
    {
        std::lock_guard lock(m_mutex);
        events.push_back("current removed");
    }
    bool IsCheckingPower() const override { return false; }
    bool IsWakingForExplore() const override { return false; }

    std::mutex m_mutex;
    std::vector<SDeviceChange> changes;
    std::vector<std::string> events;
};

} // namespace

TEST(DeviceTable, DuplicateUdnKeepsTheFirstRecordAndUdnsDifferingInCaseAreTwoPlayers)
{
    CTestHome home;
    CDeviceManager manager;
    EXPECT_TRUE(manager.AddDevice(MakeDevice("uuid:ABC", "127.0.0.2", "Living Room")));
    EXPECT_FALSE(manager.AddDevice(MakeDevice("uuid:ABC", "127.0.0.3", "Impostor")));
    ASSERT_TRUE(manager.FindDevice("uuid:ABC"));
    EXPECT_EQ(manager.FindDevice("uuid:ABC")->sIp, "127.0.0.2");
    EXPECT_EQ(manager.FindDevice("uuid:ABC")->sFriendlyName, "Living Room");

    EXPECT_TRUE(manager.AddDevice(MakeDevice("uuid:abc", "127.0.0.4", "Kitchen")));
    EXPECT_EQ(manager.Table().GetCount(), 2u);

    CDeviceInfo* pRecord = reinterpret_cast<CDeviceInfo*>(1);
    EXPECT_EQ(manager.Table().Find("uuid:missing", &pRecord), E_FAIL);
    EXPECT_EQ(pRecord, nullptr);
    EXPECT_FALSE(manager.FindDevice("uuid:missing"));
}

TEST(DeviceTable, ChangesAreReportedWithCopiesOfTheRecord)
{
    CTestHome home;
    home.EnableLog();
    CRecordingListener listener;
    CDeviceManager manager;
    manager.SetListener(&listener);

    ASSERT_TRUE(manager.AddDevice(MakeDevice("uuid:1", "10.0.0.7", "Den")));
    ASSERT_EQ(listener.changes.size(), 1u);
    const SDeviceChange& added = listener.changes[0];
    EXPECT_EQ(added.eCode, DEVICE_ADDED);
    EXPECT_EQ(added.sUuid, "uuid:1");
    EXPECT_EQ(added.sFriendlyName, "Den");
    EXPECT_EQ(added.sIp, "10.0.0.7");
    EXPECT_EQ(added.sJpegIconPath, "/icons/Den.jpg");
    EXPECT_EQ(added.sPngIconPath, "/icons/Den.png");
    EXPECT_EQ(added.supportedTypes, (QStringList{"mp3", "flac"}));
    EXPECT_TRUE(home.ReadLog().contains("DeviceManager: add 10.0.0.7 to list\r\n"));

    // An address that differs only in letter case is the same address; the same name is no change.
    manager.Table().At(0)->SetOnline(false);
    EXPECT_TRUE(manager.UpdateKnownDevice("uuid:1", "10.0.0.7", "Den"));
    EXPECT_EQ(listener.changes.size(), 1u);
    EXPECT_TRUE(manager.FindDevice("uuid:1")->bOnline) << "every report marks the player online";

    // Address and name both changed: the address is reported first, each with the new fields.
    EXPECT_TRUE(manager.UpdateKnownDevice("uuid:1", "10.0.0.8", "Study"));
    ASSERT_EQ(listener.changes.size(), 3u);
    EXPECT_EQ(listener.changes[1].eCode, DEVICE_IP_CHANGED);
    EXPECT_EQ(listener.changes[1].sIp, "10.0.0.8");
    EXPECT_EQ(listener.changes[2].eCode, DEVICE_NAME_CHANGED);
    EXPECT_EQ(listener.changes[2].sFriendlyName, "Study");

    // No address seen in this report: the known one stays.
    EXPECT_TRUE(manager.UpdateKnownDevice("uuid:1", QString(), "Study"));
    EXPECT_EQ(manager.FindDevice("uuid:1")->sIp, "10.0.0.8");
    EXPECT_FALSE(manager.UpdateKnownDevice("uuid:unknown", "10.0.0.9", "x"));
    EXPECT_EQ(listener.changes.size(), 3u);
}

TEST(DeviceTable, SelectionNeverMovesAwayFromATransferringDevice)
{
    CTestHome home;
    CDeviceManager manager;
    ASSERT_TRUE(manager.AddDevice(MakeDevice("uuid:1", "10.0.0.1", "One")));
    ASSERT_TRUE(manager.AddDevice(MakeDevice("uuid:2", "10.0.0.2", "Two")));

    EXPECT_FALSE(manager.SelectDevice("uuid:none"));
    EXPECT_FALSE(manager.HasCurrentDevice());
    EXPECT_TRUE(manager.SelectDevice("uuid:1"));
    EXPECT_FALSE(manager.SelectDevice("uuid:none"));
    EXPECT_EQ(manager.CurrentDevice()->sUuid, "uuid:1") << "an unknown UDN leaves the selection as it is";

    SDeviceSnapshot taken;
    ASSERT_TRUE(manager.BeginTransfer(&taken));
    EXPECT_EQ(taken.sIp, "10.0.0.1");
    EXPECT_TRUE(manager.CurrentDevice()->bTransferring);
    EXPECT_FALSE(manager.SelectDevice("uuid:2"));
    EXPECT_FALSE(manager.SelectDevice("uuid:1")) << "not even the same device while it transfers";
    EXPECT_EQ(manager.CurrentDevice()->sUuid, "uuid:1");

    manager.EndTransfer("uuid:1");
    EXPECT_TRUE(manager.SelectDevice("uuid:1"));
    EXPECT_TRUE(manager.SelectDevice("uuid:2"));
    EXPECT_EQ(manager.CurrentDevice()->sUuid, "uuid:2");

    manager.ClearCurrentDevice();
    EXPECT_FALSE(manager.BeginTransfer(&taken)) << "no current device, nothing to take";
}

TEST(DeviceTable, DroppingTheCurrentDeviceTellsTheTransferBeforeTheRecordGoes)
{
    CTestHome home;
    home.EnableLog();
    CRecordingListener listener;
    CDeviceManager manager;
    manager.SetListener(&listener);
    ASSERT_TRUE(manager.AddDevice(MakeDevice("uuid:1", "10.0.0.1", "One")));
    ASSERT_TRUE(manager.AddDevice(MakeDevice("uuid:2", "10.0.0.2", "Two")));
    ASSERT_TRUE(manager.SelectDevice("uuid:1"));
    ASSERT_TRUE(manager.BeginTransfer(nullptr));
    listener.events.clear();

    EXPECT_TRUE(manager.RemoveOfflineDevice("uuid:2"));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"removed uuid:2"}));
    EXPECT_EQ(manager.CurrentDevice()->sUuid, "uuid:1");

    EXPECT_TRUE(manager.RemoveOfflineDevice("uuid:1"));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"removed uuid:2", "current removed", "removed uuid:1"}));
    EXPECT_FALSE(manager.HasCurrentDevice());
    EXPECT_EQ(manager.Table().GetCount(), 0u);
    EXPECT_TRUE(home.ReadLog().contains("DeviceManager: remove 10.0.0.1 from list , because device off line\r\n"));
    // The transfer that held the record ends later; its device is simply gone.
    manager.EndTransfer("uuid:1");
    EXPECT_FALSE(manager.RemoveOfflineDevice("uuid:1"));
    // With the transferring device gone, another can be selected.
    ASSERT_TRUE(manager.AddDevice(MakeDevice("uuid:3", "10.0.0.3", "Three")));
    EXPECT_TRUE(manager.SelectDevice("uuid:3"));
}

namespace {
// A search that keeps renaming and moving one player while a reader is busy, then waits on its
// message queue (a manual-add request would wake it) until it is stopped.
struct SBusyState
{
    std::atomic<int> nRounds{0};
    std::atomic<bool> bReaderDone{false};
    std::atomic<bool> bEnded{false};
};

class CBusySearch final : public IDeviceSearch
{
public:
    explicit CBusySearch(SBusyState& state) : m_state(state) {}
    void Run(CDeviceManager& manager) override
    {
        manager.AddDevice(MakeDevice("uuid:busy", "10.0.0.1", "Name 0"));
        for (int i = 1; !manager.IsSearchStopping(); ++i) {
            if (!m_state.bReaderDone.load()) {
                manager.UpdateKnownDevice("uuid:busy", QString("10.0.%1.1").arg(i % 200), QString("Name %1").arg(i));
                m_state.nRounds.store(i);
                continue;
            }
            // Now idle: a long wait that only the queue (or the stop) ends.
            Clock().WaitFor(manager.SearchQueue().ArrivalEvent(), 3600000);
        }
        m_state.bEnded.store(true);
    }

private:
    SBusyState& m_state;
};
} // namespace

TEST(DeviceTable, RecordTextsChangeOnTheSearchThreadWhileOthersReadThem)
{
    CTestHome home;
    auto pManager = std::make_unique<CDeviceManager>();
    SBusyState state;
    SBusyState* pBusy = &state;
    ASSERT_TRUE(pManager->StartSearch(std::make_unique<CBusySearch>(state)));
    EXPECT_FALSE(pManager->StartSearch(std::make_unique<CBusySearch>(state))) << "one search thread only";

    int nReads = 0;
    // Read until the search thread has also changed the record a few times: on a loaded machine
    // the reader may otherwise finish before that thread ran at all.
    while (nReads < 500 || pBusy->nRounds.load() < 10) {
        if (!pManager->SelectDevice("uuid:busy"))
            continue;
        const std::optional<SDeviceSnapshot> device = pManager->CurrentDevice();
        ASSERT_TRUE(device);
        ASSERT_TRUE(device->sFriendlyName.startsWith("Name ")) << device->sFriendlyName.toStdString();
        ASSERT_TRUE(device->sIp.startsWith("10.0.")) << device->sIp.toStdString();
        ++nReads;
    }
    pBusy->bReaderDone.store(true);
    EXPECT_GT(pBusy->nRounds.load(), 0);
    // The search now waits an hour of clock time for its queue; stopping must not wait for it.
    ASSERT_TRUE(home.Clock().WaitForWaiters(1));
    pManager->StopSearch();
    EXPECT_TRUE(pBusy->bEnded.load());
    EXPECT_FALSE(pManager->SearchQueue().Post(CWindowMessage(WM_MANUAL_ADD_REQUEST)))
        << "a stopped search takes no more requests";
    pManager.reset();
}
