// The device search thread of the common manager against reference players inside the test's
// private network namespace: passes of the SSDP finder on loopback, the device table they fill,
// the offline check, manual adds by address and the power check's hold of the search. The
// search's pauses run on the virtual clock, which the tests move on; a pass itself lasts the
// finder's (short) real pass length.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include "device/DeviceSearch.h"
#include "device/UPnPDeviceFinder.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/ShareFileSystem.h"
#include "support/QtPrinters.h"
#include "support/ReferencePlayer.h"
#include "support/TestHome.h"
#include "sync/CommonManager.h"
#include "sync/DeviceLists.h"

namespace {

// The main window: records every message; a sent one is handled at once on the sender's thread.
class CRecordingWindow final : public IMessageReceiver
{
public:
    bool PostMessage(CWindowMessage msg) override
    {
        Record(msg);
        return true;
    }
    std::intptr_t SendMessage(CWindowMessage msg) override
    {
        Record(msg);
        return 0;
    }
    int Count(unsigned nMessage)
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_messages.begin(), m_messages.end(), nMessage));
    }
    std::vector<QString> Removed()
    {
        std::lock_guard lock(m_mutex);
        return m_removed;
    }
    std::vector<eErrorCode> Outcomes()
    {
        std::lock_guard lock(m_mutex);
        return m_outcomes;
    }

private:
    void Record(const CWindowMessage& msg)
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(msg.nMessage);
        if (msg.nMessage == WM_DEVICE_REMOVED && msg.Payload<QString>())
            m_removed.push_back(*msg.Payload<QString>());
        if (msg.nMessage == WM_TRANSFER_FINISHED)
            m_outcomes.push_back(static_cast<eErrorCode>(msg.lParam));
    }

    std::mutex m_mutex;
    std::vector<unsigned> m_messages;
    std::vector<QString> m_removed;
    std::vector<eErrorCode> m_outcomes;
};

class CRecordingEvents final : public IDeviceEventReceiver
{
public:
    void UpdateDeviceInfo(const SDeviceChange& change) override
    {
        if (m_onChange)
            m_onChange(change);
        std::lock_guard lock(m_mutex);
        m_changes.push_back(change);
    }
    // Runs inside each report, on the search thread (set before the search starts).
    void SetOnChange(std::function<void(const SDeviceChange&)> fn) { m_onChange = std::move(fn); }
    void SelectDeviceManual(const QString& sUuid, const QString& sIp) override
    {
        std::lock_guard lock(m_mutex);
        m_selections.emplace_back(sUuid, sIp);
    }
    std::vector<SDeviceChange> Changes(const QString& sUuid, EDeviceChange eCode)
    {
        std::lock_guard lock(m_mutex);
        std::vector<SDeviceChange> result;
        for (const SDeviceChange& change : m_changes) {
            if (change.sUuid == sUuid && change.eCode == eCode)
                result.push_back(change);
        }
        return result;
    }
    std::vector<std::pair<QString, QString>> Selections()
    {
        std::lock_guard lock(m_mutex);
        return m_selections;
    }

private:
    std::mutex m_mutex;
    std::vector<SDeviceChange> m_changes;
    std::vector<std::pair<QString, QString>> m_selections;
    std::function<void(const SDeviceChange&)> m_onChange;
};

// Players answer at once (no spreading over MX), so a short pass on loopback sees them all.
SSsdpSearchOptions TestPass()
{
    SSsdpSearchOptions options;
    options.nMxSeconds = 1;
    options.nPassMs = 300;
    return options;
}

class DeviceSearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qgetenv("TOLVA_IN_NETNS") != "1")
            GTEST_SKIP() << "run through ctest (inside a private network namespace)";
        // Also the program's own finder would search on loopback only.
        qputenv("TOLVA_SSDP_INTERFACES", "127.0.0.1");
        home.EnableLog();
    }
    void TearDown() override
    {
        pCm.reset();
        CShareFileSystem::UnmapAllShareRoots();
    }

    CReferencePlayer& StartPlayer(const std::string& sAddress, std::vector<std::string> args = {})
    {
        players.push_back(std::make_unique<CReferencePlayer>(sAddress, std::move(args)));
        CReferencePlayer& player = *players.back();
        EXPECT_TRUE(player.Start()) << player.LastError();
        return player;
    }
    void StartSearch()
    {
        pCm = std::make_unique<CCommonManager>();
        pCm->Initialize(&window, &events);
        ASSERT_TRUE(pCm->StartDeviceSearch(
            std::make_unique<CUPnPDeviceFinder>(std::vector<std::string>{"127.0.0.1"}, TestPass())));
    }
    CDeviceManager& Devices() { return pCm->DeviceManager(); }
    std::size_t TableSize() { return Devices().Table().GetCount(); }
    static QString Udn(const CReferencePlayer& player) { return QString::fromStdString(player.Udn()); }

    // Moves the virtual clock on in small steps (the search's pauses, a power check's wait)
    // until the condition holds; false after nRealMs of real time.
    bool AdvanceUntil(const std::function<bool()>& done, int nRealMs = 20000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nRealMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            home.Clock().Advance(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    int Passes() { return window.Count(WM_DEVICE_NOT_FOUND); }
    // Runs the search until nCount passes in all have ended (WM_USER+6 after each).
    bool WaitForPasses(int nCount)
    {
        return AdvanceUntil([&] { return Passes() >= nCount; });
    }
    int LogCount(const QByteArray& line) { return static_cast<int>(home.ReadLog().count(line + "\r\n")); }

    CTestHome home;
    CRecordingWindow window;
    CRecordingEvents events;
    std::vector<std::unique_ptr<CReferencePlayer>> players;
    std::unique_ptr<CCommonManager> pCm; // last: stopped before the players
};

} // namespace

TEST_F(DeviceSearchTest, PlayersOfOnePassAreAddedOnceWithTheirDetails)
{
    CReferencePlayer& first = StartPlayer("127.0.0.2", {"--name", "Kitchen & Hall", "--file-types", "mp3,flac"});
    CReferencePlayer& second = StartPlayer("127.0.0.3", {"--name", "Study"});
    StartPlayer("127.0.0.4", {"--description", "other-service-first"}); // not a player
    StartSearch();
    ASSERT_TRUE(WaitForPasses(1));

    EXPECT_EQ(TableSize(), 2u);
    const std::optional<SDeviceSnapshot> device = Devices().FindDevice(Udn(first));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->sIp, "127.0.0.2");
    EXPECT_EQ(device->sFriendlyName, "Kitchen & Hall");
    EXPECT_EQ(device->sBaseUrl, "http://127.0.0.2:60100/api");
    EXPECT_EQ(device->supportedTypes, (QStringList{"mp3", "flac"}));
    EXPECT_FALSE(device->bManualAdded);
    EXPECT_EQ(device->sJpegIconUrl, "http://127.0.0.2:60100/icons/player-48.jpg");
    EXPECT_EQ(device->sJpegIconPath, DeviceFolder(Udn(first)) + "player-48.jpg");
    EXPECT_TRUE(QFileInfo(device->sJpegIconPath).size() > 0);
    EXPECT_TRUE(QFileInfo(device->sPngIconPath).size() > 0);
    EXPECT_TRUE(Devices().FindDevice(Udn(second)));

    // Further passes report the same players: no second record, no change reported.
    ASSERT_TRUE(WaitForPasses(3));
    EXPECT_EQ(TableSize(), 2u);
    EXPECT_EQ(events.Changes(Udn(first), DEVICE_ADDED).size(), 1u);
    EXPECT_EQ(events.Changes(Udn(second), DEVICE_ADDED).size(), 1u);
    EXPECT_TRUE(events.Changes(Udn(first), DEVICE_IP_CHANGED).empty());
    EXPECT_TRUE(events.Changes(Udn(first), DEVICE_NAME_CHANGED).empty());
    EXPECT_TRUE(home.ReadLog().contains("DeviceManager: add 127.0.0.2 to list"));
    EXPECT_EQ(Devices().FindDevice(Udn(first))->bOnline, false) << "cleared by the offline check after each pass";
}

TEST_F(DeviceSearchTest, ASecondReportRefreshesOnlyOnlineStateAddressAndName)
{
    CReferencePlayer& player = StartPlayer("127.0.0.2", {"--name", "Old", "--file-types", "mp3"});
    StartSearch();
    ASSERT_TRUE(WaitForPasses(1));
    ASSERT_TRUE(Devices().FindDevice(Udn(player)));

    ASSERT_TRUE(player.Do("address 127.0.0.5"));
    ASSERT_TRUE(player.Do("rename New <Name>"));
    ASSERT_TRUE(player.Do("file-types flac"));
    ASSERT_TRUE(WaitForPasses(3));

    const std::optional<SDeviceSnapshot> device = Devices().FindDevice(Udn(player));
    ASSERT_TRUE(device);
    EXPECT_EQ(TableSize(), 1u);
    EXPECT_EQ(device->sIp, "127.0.0.5");
    EXPECT_EQ(device->sFriendlyName, "New <Name>");
    EXPECT_EQ(device->sBaseUrl, "http://127.0.0.2:60100/api") << "only address and name are refreshed";
    EXPECT_EQ(device->supportedTypes, QStringList{"mp3"});
    const std::vector<SDeviceChange> ipChanges = events.Changes(Udn(player), DEVICE_IP_CHANGED);
    ASSERT_EQ(ipChanges.size(), 1u) << "one report for the new address, none for passes that saw it again";
    EXPECT_EQ(ipChanges[0].sIp, "127.0.0.5");
    const std::vector<SDeviceChange> nameChanges = events.Changes(Udn(player), DEVICE_NAME_CHANGED);
    ASSERT_EQ(nameChanges.size(), 1u);
    EXPECT_EQ(nameChanges[0].sFriendlyName, "New <Name>");
    EXPECT_EQ(events.Changes(Udn(player), DEVICE_ADDED).size(), 1u);
}

TEST_F(DeviceSearchTest, PlayersThatStopAnsweringAreRemovedAtTheEndOfTheNextPass)
{
    std::vector<CReferencePlayer*> started;
    for (const char* pszAddress : {"127.0.0.2", "127.0.0.3", "127.0.0.4"})
        started.push_back(&StartPlayer(pszAddress));
    // The first two in table order go away together: the index walk must not skip the second.
    std::sort(started.begin(), started.end(), [](auto* a, auto* b) { return Udn(*a) < Udn(*b); });
    StartSearch();
    ASSERT_TRUE(WaitForPasses(1));
    ASSERT_EQ(TableSize(), 3u);
    ASSERT_TRUE(pCm->SelectDevice(Udn(*started[1])));

    ASSERT_TRUE(started[0]->Do("offline"));
    ASSERT_TRUE(started[1]->Do("offline"));
    ASSERT_TRUE(WaitForPasses(2));
    EXPECT_EQ(TableSize(), 1u) << "removed at the end of the first pass that missed them";
    EXPECT_TRUE(Devices().FindDevice(Udn(*started[2])));
    EXPECT_FALSE(Devices().HasCurrentDevice());
    EXPECT_EQ(pCm->TransferManager().DeviceState(), EC_DEVICE_REMOVED) << "the current device went";
    EXPECT_TRUE(pCm->TransferManager().IsStopRequested());
    EXPECT_TRUE(pCm->ContentsManager().IsStopRequested());
    std::vector<QString> removed = window.Removed();
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<QString>{Udn(*started[0]), Udn(*started[1])}));
    EXPECT_EQ(LogCount("DeviceManager: remove " + QByteArray::fromStdString(started[0]->Address()) +
                       " from list , because device off line"),
              1);

    // Back online: a new record and a new report.
    ASSERT_TRUE(started[0]->Do("online"));
    ASSERT_TRUE(WaitForPasses(3));
    EXPECT_TRUE(Devices().FindDevice(Udn(*started[0])));
    EXPECT_EQ(events.Changes(Udn(*started[0]), DEVICE_ADDED).size(), 2u);
}

TEST_F(DeviceSearchTest, PowerCheckHoldsTheSearchAndKeepsMissingPlayers)
{
    // The woken player stays in network standby, so the cancelled check ends "not ready".
    CReferencePlayer& sleeper = StartPlayer("127.0.0.2", {"--power", "networkReady", "--wake-ignore"});
    CReferencePlayer& leaver = StartPlayer("127.0.0.3");
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 3600);
    StartSearch();
    ASSERT_TRUE(WaitForPasses(1));
    ASSERT_EQ(TableSize(), 2u);
    ASSERT_TRUE(pCm->SelectDevice(Udn(sleeper)));

    pCm->StartPowerCheck(); // wakes the player and waits up to an hour of virtual time
    ASSERT_TRUE(pCm->IsCheckingPower());
    ASSERT_TRUE(leaver.Do("offline"));
    ASSERT_TRUE(WaitForPasses(2));
    const int nStarted = LogCount(" start search on  times");
    const std::int64_t nHoldStart = home.Clock().NowMs();
    ASSERT_TRUE(AdvanceUntil([&] { return home.Clock().NowMs() - nHoldStart >= 10000; }));
    EXPECT_EQ(LogCount(" start search on  times"), nStarted) << "no pass while the power check runs";
    EXPECT_GE(LogCount("because checking power status , pause device finder"), 8);
    EXPECT_TRUE(Devices().FindDevice(Udn(leaver))) << "kept while the power check runs";
    EXPECT_EQ(sleeper.StatusValue("wakes"), "1");

    // The run is cancelled: the check ends not ready, the search goes on and the missing player
    // goes at the end of the next pass.
    pCm->CancelSync();
    ASSERT_TRUE(AdvanceUntil([&] { return !window.Outcomes().empty(); }));
    EXPECT_EQ(window.Outcomes(), std::vector<eErrorCode>{EC_POWER_NOT_READY});
    ASSERT_TRUE(WaitForPasses(3));
    EXPECT_FALSE(Devices().FindDevice(Udn(leaver)));
    EXPECT_TRUE(Devices().FindDevice(Udn(sleeper)));

    // A recheck may not wake the player: not ready at once, no further wake request.
    pCm->RecheckPower();
    ASSERT_TRUE(AdvanceUntil([&] { return window.Outcomes().size() >= 2; }));
    EXPECT_EQ(window.Outcomes()[1], EC_POWER_NOT_READY);
    EXPECT_EQ(sleeper.StatusValue("wakes"), "1");
}

TEST_F(DeviceSearchTest, PlayerInNetworkStandbyIsWokenAndTheRunCopiesItsFiles)
{
    QTemporaryDir share;
    CReferencePlayer& player = StartPlayer(
        "127.0.0.2", {"--power", "networkReady", "--wake-delay-ms", "0", "--internal-dir", share.path().toStdString()});
    CShareFileSystem::MapShareRoot("\\\\127.0.0.2\\Tolva_Internal", share.path());
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 3);
    WriteTestFile(home.Path("Music/song.mp3"), "music");
    StartSearch();
    ASSERT_TRUE(WaitForPasses(1));
    ASSERT_TRUE(SaveListFile(Udn(player), kSyncFolderListName, {home.Path("Music") + "/|1"}));
    ASSERT_TRUE(SaveListFile(Udn(player), kCapabilityListName, {"mp3|1"}));
    ASSERT_TRUE(pCm->SelectDevice(Udn(player)));

    pCm->StartSync();
    ASSERT_TRUE(AdvanceUntil([&] { return !window.Outcomes().empty(); }));
    EXPECT_EQ(window.Outcomes(), std::vector<eErrorCode>{EC_OK});
    EXPECT_EQ(player.StatusValue("wakes"), "1");
    EXPECT_EQ(player.StatusValue("power"), "databaseReady");
    QStringList copied;
    for (QDirIterator it(share.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        copied.append(QFileInfo(it.next()).fileName());
    EXPECT_EQ(copied, QStringList{"song.mp3"});
    EXPECT_FALSE(pCm->IsCheckingPower());
}

TEST_F(DeviceSearchTest, ManualAddByAddress)
{
    CReferencePlayer& seen = StartPlayer("127.0.0.2");
    CReferencePlayer& hidden = StartPlayer("127.0.0.3", {"--no-ssdp", "--name", "Hidden"});
    QTemporaryDir dir;
    const QString sNoUdn = dir.filePath("no-udn.xml");
    WriteTestFile(sNoUdn, "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
                          "<friendlyName>{name}</friendlyName><UDN></UDN></device></root>");
    StartPlayer("127.0.0.4", {"--no-ssdp", "--description-file", sNoUdn.toStdString()});
    // A window that learns of the added player finds it current already.
    std::atomic<int> nAddedAsCurrent{0};
    events.SetOnChange([&](const SDeviceChange& change) {
        if (change.eCode != DEVICE_ADDED || change.sUuid != Udn(hidden))
            return;
        const std::optional<SDeviceSnapshot> current = pCm->DeviceManager().CurrentDevice();
        if (current && current->sUuid == change.sUuid)
            ++nAddedAsCurrent;
    });
    StartSearch();
    ASSERT_TRUE(WaitForPasses(1));
    ASSERT_EQ(TableSize(), 1u);

    // A new player, asked for during the pause between passes: handled in the next pass.
    pCm->addDeviceManual("127.0.0.3");
    ASSERT_TRUE(AdvanceUntil([&] { return window.Count(WM_MANUAL_ADD_FINISHED) >= 1; }));
    const std::optional<SDeviceSnapshot> device = Devices().FindDevice(Udn(hidden));
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->bManualAdded);
    EXPECT_EQ(device->sIp, "127.0.0.3");
    EXPECT_EQ(device->sFriendlyName, "Hidden");
    EXPECT_EQ(device->sJpegIconUrl, "http://127.0.0.3:60100/icons/player-48.jpg");
    EXPECT_EQ(device->sPngIconUrl, device->sJpegIconUrl);
    EXPECT_EQ(device->sBaseUrl, "http://127.0.0.3:60100/api");
    EXPECT_FALSE(device->supportedTypes.isEmpty());
    EXPECT_TRUE(QFileInfo(device->sJpegIconPath).size() > 0);
    ASSERT_TRUE(Devices().CurrentDevice());
    EXPECT_EQ(Devices().CurrentDevice()->sUuid, Udn(hidden));
    EXPECT_EQ(events.Changes(Udn(hidden), DEVICE_ADDED).size(), 1u);
    EXPECT_EQ(nAddedAsCurrent.load(), 1) << "selected before it was announced";

    // A player the search found: selected, no second record.
    pCm->addDeviceManual("127.0.0.2");
    ASSERT_TRUE(AdvanceUntil([&] { return window.Count(WM_MANUAL_ADD_FINISHED) >= 2; }));
    EXPECT_EQ(TableSize(), 2u);
    EXPECT_EQ(Devices().CurrentDevice()->sUuid, Udn(seen));
    EXPECT_FALSE(Devices().FindDevice(Udn(seen))->bManualAdded);
    ASSERT_EQ(events.Selections().size(), 1u);
    EXPECT_EQ(events.Selections()[0], std::make_pair(Udn(seen), QString("127.0.0.2")));

    // Nothing at the address, a description without a UDN, and text that is no address: only
    // WM_USER+32, nothing added.
    for (const char* pszAddress : {"127.0.0.9", "127.0.0.4", "127.0.0.2:80/x#", "127.000.0.003"}) {
        const int nBefore = window.Count(WM_MANUAL_ADD_NO_DESCRIPTION);
        pCm->addDeviceManual(pszAddress);
        ASSERT_TRUE(AdvanceUntil([&] { return window.Count(WM_MANUAL_ADD_NO_DESCRIPTION) > nBefore; })) << pszAddress;
    }
    EXPECT_EQ(window.Count(WM_MANUAL_ADD_FINISHED), 2);
    EXPECT_EQ(TableSize(), 2u);
    EXPECT_EQ(LogCount("DeviceAddedManual: the description at http://127.0.0.4:60100/tolva.xml has no UDN, "
                       "nothing added."),
              1);

    // The search never reports the hidden player: it stays while its description answers and
    // goes at the end of the first pass after it stopped answering.
    const int nPasses = Passes();
    ASSERT_TRUE(WaitForPasses(nPasses + 2));
    EXPECT_TRUE(Devices().FindDevice(Udn(hidden)));
    ASSERT_TRUE(hidden.Do("http off"));
    ASSERT_TRUE(WaitForPasses(nPasses + 3));
    EXPECT_FALSE(Devices().FindDevice(Udn(hidden)));
    EXPECT_TRUE(Devices().FindDevice(Udn(seen)));
}

TEST_F(DeviceSearchTest, StoppingEndsARunningPassAtOnce)
{
    StartPlayer("127.0.0.2");
    SSsdpSearchOptions longPass = TestPass();
    longPass.nPassMs = 30000;
    pCm = std::make_unique<CCommonManager>();
    pCm->Initialize(&window, &events);
    ASSERT_TRUE(
        pCm->StartDeviceSearch(std::make_unique<CUPnPDeviceFinder>(std::vector<std::string>{"127.0.0.1"}, longPass)));
    ASSERT_TRUE(AdvanceUntil([&] { return TableSize() == 1; }));
    const auto start = std::chrono::steady_clock::now();
    pCm.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(Passes(), 0);
}

TEST(DottedAddress, FourDecimalOctetsWithoutLeadingZeros)
{
    for (const char* psz : {"192.168.1.8", "0.0.0.0", "255.255.255.255", "10.0.100.1"})
        EXPECT_TRUE(IsDottedIPv4Address(psz)) << psz;
    // Leading zeros read as octal by some resolvers: 192.168.001.010 would be 192.168.1.8.
    for (const char* psz : {"192.168.001.010", "01.2.3.4", "1.2.3.00", "256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.-4",
                            " 1.2.3.4", "1.2.3.4 ", "1..3.4", "0x7f.0.0.1", "1.2.3.4/24", ""})
        EXPECT_FALSE(IsDottedIPv4Address(psz)) << psz;
}

namespace {

// Runs a command of the test's private namespace (ip address and link changes); true on success.
bool RunIp(const std::string& sCommand)
{
    return std::system((sCommand + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

// The program's own finder, which searches on the interfaces of the moment: a network that came
// up after the program (a start at logon) and an address that changed (DHCP) count from the next
// pass on, and passes that could search nowhere drop nobody. A veth pair of the private
// namespace stands in for the network adapter; the player sits on it too.
TEST_F(DeviceSearchTest, InterfacesAreReadForEachPass)
{
    qunsetenv("TOLVA_SSDP_INTERFACES");
    // The PC's end of the pair (tolva-net0) and the player's end (tolva-net1), which the search
    // leaves alone (it takes multicast interfaces only); the search comes to the player from an
    // address of this namespace, which the player's end must accept.
    ASSERT_TRUE(RunIp("ip link add tolva-net0 type veth peer name tolva-net1 && ip link set tolva-net1 multicast off up && "
                      "ip link set tolva-net0 up && ip addr add 198.18.0.2/32 dev tolva-net1 && "
                      "sysctl -qw net.ipv4.conf.tolva-net1.accept_local=1 net.ipv4.conf.tolva-net1.rp_filter=0"));
    CReferencePlayer& player = StartPlayer("198.18.0.2");
    pCm = std::make_unique<CCommonManager>();
    pCm->Initialize(&window, &events);
    // The program's finder (what a null finder gives), with the tests' short pass.
    ASSERT_TRUE(pCm->StartDeviceSearch(
        std::make_unique<CUPnPDeviceFinder>(SsdpInterfaceSource(SsdpSearchInterfaces), TestPass())));
    ASSERT_TRUE(WaitForPasses(1));
    EXPECT_EQ(TableSize(), 0u);
    EXPECT_TRUE(home.ReadLog().contains("SsdpFinder: no interface to search on."));

    // The network comes up.
    ASSERT_TRUE(RunIp("ip addr add 198.18.0.1/32 dev tolva-net0"));
    ASSERT_TRUE(AdvanceUntil([&] { return TableSize() == 1; }));
    EXPECT_TRUE(Devices().FindDevice(Udn(player)));

    // The PC's address goes and another one comes: passes meanwhile keep the player.
    ASSERT_TRUE(RunIp("ip addr del 198.18.0.1/32 dev tolva-net0"));
    const int nNowhere = LogCount("DeviceManager: the pass searched on no interface; every player is kept.");
    int nPasses = Passes();
    ASSERT_TRUE(WaitForPasses(nPasses + 2));
    EXPECT_EQ(TableSize(), 1u);
    EXPECT_TRUE(window.Removed().empty());
    EXPECT_GE(LogCount("DeviceManager: the pass searched on no interface; every player is kept."), nNowhere + 1);
    ASSERT_TRUE(RunIp("ip addr add 198.18.0.3/32 dev tolva-net0"));
    nPasses = Passes();
    ASSERT_TRUE(WaitForPasses(nPasses + 3));
    EXPECT_EQ(TableSize(), 1u);
    EXPECT_TRUE(window.Removed().empty());
    EXPECT_TRUE(home.ReadLog().contains("SsdpFinder: searching on 198.18.0.3."));
    EXPECT_TRUE(Devices().FindDevice(Udn(player)));
    pCm.reset();
    RunIp("ip link del tolva-net0");
}

namespace {

// A finder that reports the devices it is given, every pass, all with one description URL.
class CScriptedFinder final : public IDeviceFinder
{
public:
    void SetDevices(std::vector<SUPnPDevice> devices)
    {
        std::lock_guard lock(m_mutex);
        m_devices = std::move(devices);
    }
    bool StartAsyncFind(CThreadMessageQueue& queue) override
    {
        std::lock_guard lock(m_mutex);
        for (const SUPnPDevice& device : m_devices)
            queue.Post(CWindowMessage::WithPayload(WM_FINDER_DEVICE_ADDED, device));
        queue.Post(CWindowMessage(WM_FINDER_SEARCH_COMPLETE));
        return true;
    }
    void CancelAsyncFind() override {}

private:
    std::mutex m_mutex;
    std::vector<SUPnPDevice> m_devices;
};

} // namespace

// A flood of answers (forged UDNs, one real description) makes the search take only so many
// players; the folders and pictures of players it dropped and the user never set up go with them.
TEST_F(DeviceSearchTest, FloodOfPlayersIsBoundedAndLeavesNoFolders)
{
    StartPlayer("127.0.0.2");
    auto pFinder = std::make_unique<CScriptedFinder>();
    CScriptedFinder& finder = *pFinder;
    std::vector<SUPnPDevice> flood;
    for (std::size_t i = 0; i < kMaxSearchedPlayers + 6; ++i) {
        SUPnPDevice device;
        device.sUdn = QString("uuid:forged-%1").arg(i, 3, 10, QChar('0'));
        device.sDocumentUrl = "http://127.0.0.2:60100/tolva.xml";
        device.sPresentationUrl = "http://127.0.0.2:60100/";
        device.sJpegIconUrl = "http://127.0.0.2:60100/icons/player-48.jpg";
        flood.push_back(device);
    }
    finder.SetDevices(flood);
    pCm = std::make_unique<CCommonManager>();
    pCm->Initialize(&window, &events);
    ASSERT_TRUE(pCm->StartDeviceSearch(std::move(pFinder)));
    ASSERT_TRUE(WaitForPasses(1));
    EXPECT_EQ(TableSize(), kMaxSearchedPlayers);
    EXPECT_TRUE(QFileInfo::exists(DeviceFolder("uuid:forged-000") + "player-48.jpg"));
    // One of them was set up by the user: its folder stays when it goes.
    ASSERT_TRUE(SaveListFile("uuid:forged-001", kCapabilityListName, {"mp3|1"}));

    finder.SetDevices({});
    ASSERT_TRUE(WaitForPasses(2));
    EXPECT_EQ(TableSize(), 0u);
    EXPECT_FALSE(QFileInfo::exists(DeviceFolder("uuid:forged-000")));
    EXPECT_TRUE(QFileInfo::exists(DeviceFolder("uuid:forged-001") + "player-48.jpg"));
    EXPECT_EQ(QDir(AppDataFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}
