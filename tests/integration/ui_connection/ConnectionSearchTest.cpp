// The Connection page of the real main window fed by the device search against two reference
// players inside the test's private network namespace: both cards appear, a rename and a new
// address reach the cards, and a player that goes away is reported to the window.

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>

#include "controls/ConnectionView.h"
#include "device/UPnPDeviceFinder.h"
#include "support/ReferencePlayer.h"
#include "ui/shell/ShellFixture.h"

namespace {

bool RunCommand(const std::string& sCommand)
{
    return std::system((sCommand + " 2>/dev/null").c_str()) == 0;
}

class CConnectionSearchTest : public CShellTest
{
protected:
    void SetUp() override
    {
        if (qgetenv("TOLVA_IN_NETNS") != "1")
            GTEST_SKIP() << "run through ctest (inside a private network namespace)";
        qputenv("TOLVA_SSDP_INTERFACES", "127.0.0.1");
        m_home.EnableLog();
    }
    CReferencePlayer& StartPlayer(const std::string& sAddress, std::vector<std::string> args)
    {
        m_players.push_back(std::make_unique<CReferencePlayer>(sAddress, std::move(args)));
        CReferencePlayer& player = *m_players.back();
        EXPECT_TRUE(player.Start()) << player.LastError();
        return player;
    }
    // Runs the search's pauses on the virtual clock and the window's events until done() holds;
    // false after nRealMs of real time.
    bool RunUntil(const std::function<bool()>& done, int nRealMs = 30000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nRealMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            m_home.Clock().Advance(100);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    const SDeviceCard* Card(const CReferencePlayer& player)
    {
        CConnectionView& view = *m_pWnd->ConnectionPage().View();
        const int n = view.Painter().Find(QString::fromStdString(player.Udn()));
        return n < 0 ? nullptr : &view.Painter().Card(n);
    }

    std::vector<std::unique_ptr<CReferencePlayer>> m_players; // stopped after the window
};

TEST_F(CConnectionSearchTest, CardsFollowTheSearchAndAPlayerThatLeavesIsReported)
{
    CReferencePlayer& kitchen = StartPlayer("127.0.0.2", {"--name", "Kitchen & Hall", "--file-types", "mp3,flac"});
    CReferencePlayer& study = StartPlayer("127.0.0.3", {"--name", "Study"});
    WriteSettingDword(kSettingFirstRun, 0);
    SetCurrentDevId(QString::fromStdString(study.Udn()));
    m_pWnd = std::make_unique<CTolvaMusicTransferDlg>(SMainWindowServices{m_presenter, m_timers, m_shell});
    m_pWnd->ConnectionPage().SetNetworkWatchEnabled(false);
    m_pWnd->ConnectionPage().SetAdapterSource([] { return std::vector<SLocalAdapter>{{"127.0.0.1", "255.0.0.0"}}; });
    m_pWnd->Start();
    m_pWnd->show();
    ASSERT_TRUE(m_pWnd->IsWaitDialogOpen());
    SSsdpSearchOptions pass;
    pass.nMxSeconds = 1;
    pass.nPassMs = 300;
    ASSERT_TRUE(m_pWnd->CommonManager().StartDeviceSearch(
        std::make_unique<CUPnPDeviceFinder>(std::vector<std::string>{"127.0.0.1"}, pass)));

    ASSERT_TRUE(RunUntil([&] { return Card(kitchen) && Card(study); }));
    EXPECT_EQ(Card(kitchen)->sName, "Kitchen & Hall");
    EXPECT_EQ(Card(kitchen)->sSecondLine, "127.0.0.2");
    // The saved player is chosen as it arrives and the wait ends.
    ASSERT_TRUE(RunUntil([&] { return !m_pWnd->IsWaitDialogOpen(); }));
    EXPECT_TRUE(Card(study)->bSelected);
    EXPECT_EQ(m_pWnd->SelectedDeviceUuid(), QString::fromStdString(study.Udn()));
    EXPECT_EQ(m_pWnd->Mode(), DM_CONSOLE);

    ASSERT_TRUE(kitchen.Do("rename Kitchen"));
    ASSERT_TRUE(study.Do("address 127.0.0.5"));
    EXPECT_TRUE(RunUntil([&] { return Card(kitchen)->sName == "Kitchen" && Card(study)->sSecondLine == "127.0.0.5"; }));

    // The kitchen player goes away: the window hears of it and its card goes; the chosen one stays.
    ASSERT_TRUE(kitchen.Do("offline"));
    const QByteArray sReport = "DeviceOffLine\tsUuid = " + QByteArray::fromStdString(kitchen.Udn());
    EXPECT_TRUE(RunUntil([&] { return m_home.ReadLog().contains(sReport); }));
    EXPECT_EQ(m_pWnd->ConnectionPage().View()->CardCount(), 1);
    EXPECT_EQ(Card(kitchen), nullptr);
    EXPECT_TRUE(Card(study)->bSelected);
    EXPECT_EQ(m_pWnd->Mode(), DM_CONSOLE);
    m_pWnd.reset();
}

TEST_F(CConnectionSearchTest, TheSubnetListFollowsAddressChangesWithoutARestart)
{
    // A dummy interface of the private namespace with documentation addresses.
    if (!RunCommand("ip link add tolvad0 type dummy") && !RunCommand("ip link add tolvad0 type veth peer name tolvad1"))
        GTEST_SKIP() << "neither dummy nor veth interfaces here";
    WriteSettingDword(kSettingFirstRun, 0);
    CTolvaMusicTransferDlg& wnd = StartWindow(); // the page's own watcher and adapters
    auto* pCombo = wnd.ConnectionPage().findChild<QComboBox*>("subnetCombo");
    auto* pLast = wnd.ConnectionPage().findChild<QLineEdit*>("octet4");
    ASSERT_TRUE(pCombo && pLast);
    EXPECT_EQ(pCombo->count(), 0) << "loopback only";
    EXPECT_FALSE(pLast->isEnabled());

    ASSERT_TRUE(RunCommand("ip link set tolvad0 up"));
    ASSERT_TRUE(RunCommand("ip addr add 198.51.100.7/24 dev tolvad0"));
    EXPECT_TRUE(RunUntil([&] { return pCombo->currentText() == "198.51.100"; }));
    EXPECT_TRUE(pLast->isEnabled());
    ASSERT_TRUE(RunCommand("ip addr flush dev tolvad0"));
    EXPECT_TRUE(RunUntil([&] { return pCombo->count() == 0; }));
    EXPECT_FALSE(pLast->isEnabled());
    RunCommand("ip link del tolvad0");
}

} // namespace
