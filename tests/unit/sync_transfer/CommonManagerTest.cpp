#include "support/SyncFixture.h"

#include <chrono>
#include <thread>

#include "foundation/MessageIds.h"
#include "foundation/Paths.h"

namespace {
using CommonManagerTest = SyncFixture;
}

TEST_F(CommonManagerTest, RefusedStartsReportTheFirstFailingCheckOnly)
{
    pCm->StartSync();
    EXPECT_EQ(window.Outcomes(), std::vector<eErrorCode>{EC_NO_DEVICE});
    EXPECT_TRUE(home.ReadLog().contains("StartSync: Get current device's information failure!\r\n"));
    EXPECT_FALSE(pCm->ContentsManager().IsScanRunning());

    // A record without UDN, then one without address.
    AddPlayer("", kPlayerIp);
    pCm->StartSync();
    EXPECT_EQ(window.Outcomes().back(), EC_NO_UUID);
    EXPECT_TRUE(home.ReadLog().contains("StartSync: The device's UIID which selected is null!\r\n"));
    AddPlayer("uuid:no-address", "");
    pCm->StartSync();
    EXPECT_EQ(window.Outcomes().back(), EC_NO_IP);
    EXPECT_TRUE(home.ReadLog().contains("StartSync: The device's IP which selected is null!\r\n"));

    // No folder ticked wins over no file type ticked.
    AddPlayer();
    SetLists({home.Path("Music") + "/|0", home.Path("Other") + "/|0"}, {"mp3|0"});
    pCm->StartSync();
    EXPECT_EQ(window.Outcomes().back(), EC_NO_FOLDER);
    EXPECT_TRUE(home.ReadLog().contains("StartSync: no folder selected!\r\n"));
    SetLists({home.Path("Music") + "/|1"}, {"mp3|0", "flac|0"});
    pCm->StartSync();
    EXPECT_EQ(window.Outcomes().back(), EC_NO_FORMAT);
    EXPECT_TRUE(home.ReadLog().contains("StartSync: no format checked!\r\n"));

    EXPECT_EQ(window.Outcomes().size(), 5u) << "each refused start reports once";
    EXPECT_FALSE(pCm->ContentsManager().IsScanRunning());
    EXPECT_TRUE(pPower->Requests().empty());
    EXPECT_TRUE(home.ReadLog().contains("CCommonManager::TransferFinished\teErrorCode = 13.\r\n"));
}

TEST_F(CommonManagerTest, ScanThatFindsNothingEndsWithFiveAndASecondStartWaitsForTheRunningScan)
{
    AddPlayer();
    WriteTestFile(home.Path("Music/a.mp3"), "a");
    SetLists({home.Path("Music") + "/|1"}, {"wav|1"});
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_NO_FILES);

    // A second start while the scan walks its folders starts no second scan. The scan is over
    // once it reports, so its power-check call already sees it ended.
    for (int nFolder = 0; nFolder < 20; ++nFolder) {
        for (int nFile = 0; nFile < 100; ++nFile)
            WriteTestFile(home.Path(QString("Music/%1/%2.mp3").arg(nFolder).arg(nFile)), "x");
    }
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    pPower->SetAnswer(false, true);
    std::atomic<bool> bScanRunningInReport{true};
    pPower->SetOnStart([&] { bScanRunningInReport.store(pCm->ContentsManager().IsScanRunning()); });
    pCm->StartSync();
    pCm->StartSync();
    ASSERT_TRUE(pPower->WaitForRequests(1));
    pCm->ContentsManager().JoinScan();
    EXPECT_EQ(pPower->Requests().size(), 1u);
    EXPECT_FALSE(bScanRunningInReport.load());
    EXPECT_EQ(pCm->ContentsManager().ContentQueue().GetCount(), 2001u);
    EXPECT_EQ(window.Outcomes().size(), 1u) << "the second start reported nothing of its own";

    const SPowerCheckRequest request = pPower->Requests()[0];
    EXPECT_EQ(request.sUuid, kPlayerUuid);
    EXPECT_EQ(request.sBaseUrl, "http://127.0.0.2:60100/api");
    EXPECT_TRUE(request.bAllowWakeUp);
    EXPECT_TRUE(pCm->IsCheckingPower());
    pCm->CancelSync();
    EXPECT_FALSE(pCm->IsCheckingPower());
}

// The main window's handler of a scan's report starts the next run while the scan thread still
// waits in its send, as the command line's retry and the window's idle restart do.
TEST_F(CommonManagerTest, RunStartedFromTheHandlerOfANothingToTransferOutcomeRuns)
{
    AddPlayer();
    WriteTestFile(home.Path("Music/a.mp3"), "a");
    SetLists({home.Path("Music") + "/|1"}, {"wav|1"});
    bool bRestarted = false;
    bool bScanRunningInHandler = true;
    window.SetOnOutcome([&](eErrorCode eCode) {
        if (eCode != EC_NO_FILES || bRestarted)
            return;
        bRestarted = true;
        bScanRunningInHandler = pCm->ContentsManager().IsScanRunning();
        SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
        pCm->StartSync();
    });
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_NO_FILES);
    EXPECT_TRUE(bRestarted);
    EXPECT_FALSE(bScanRunningInHandler) << "a scan that reported 5 is over";
    // The restarted run goes all the way: power check, transfer, history.
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    EXPECT_EQ(pPower->Requests().size(), 1u);
    EXPECT_EQ(OnInternal(GetComputerNameText() + home.Path("Music/a.mp3")), "a");
    EXPECT_EQ(window.Outcomes(), (std::vector<eErrorCode>{EC_NO_FILES, EC_OK}));
}

TEST_F(CommonManagerTest, RunStartedFromTheHandlerOfACancelledOutcomeRuns)
{
    AddPlayer();
    for (int nFolder = 0; nFolder < 30; ++nFolder) {
        for (int nFile = 0; nFile < 100; ++nFile)
            WriteTestFile(home.Path(QString("Music/%1/%2.mp3").arg(nFolder).arg(nFile)), "x");
    }
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    pPower->SetAnswer(true, false); // the restarted run ends at the power check
    int nRestarts = 0;
    window.SetOnOutcome([&](eErrorCode eCode) {
        if (eCode == EC_CANCELLED && nRestarts++ == 0)
            pCm->StartSync();
    });
    pCm->StartSync();
    pCm->CancelSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_CANCELLED);
    EXPECT_EQ(nRestarts, 1);
    // The restart cleared the stop and scanned the whole tree again.
    EXPECT_EQ(window.WaitForOutcome(), EC_POWER_NOT_READY);
    ASSERT_EQ(pPower->Requests().size(), 1u);
    EXPECT_EQ(pCm->ContentsManager().ContentQueue().GetCount(), 3000u);
    EXPECT_EQ(window.Outcomes(), (std::vector<eErrorCode>{EC_CANCELLED, EC_POWER_NOT_READY}));

    // Once more, and then the manager goes away with the last scan thread not yet joined.
    window.SetOnOutcome([&](eErrorCode eCode) {
        if (eCode == EC_CANCELLED)
            pCm->StartSync();
    });
    pCm->StartSync();
    pCm->CancelSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_CANCELLED);
    window.Quit();
    const auto start = std::chrono::steady_clock::now();
    pCm.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(CommonManagerTest, PowerCheckOutcomes)
{
    AddPlayer();
    pCm->OnPowerStateResult(false);
    EXPECT_EQ(window.Outcomes(), std::vector<eErrorCode>{EC_POWER_NOT_READY});
    EXPECT_TRUE(home.ReadLog().contains("StartSync: The device's Power not OK!\r\n"));

    // External destination without an external share: refused after the power check, no thread.
    SetSyncFileSavePosition(SAVE_POSITION_EXTERNAL);
    QueueFile("a.mp3", "a");
    pCm->OnPowerStateResult(true);
    EXPECT_EQ(window.Outcomes().back(), EC_NO_EXTERNAL);
    EXPECT_FALSE(pCm->TransferManager().IsThreadRunning());
    EXPECT_TRUE(home.ReadLog().contains("conmon manager: power cheking OK\r\n"));

    // The device went away while its power was checked.
    pCm->DeviceManager().ClearCurrentDevice();
    pCm->OnPowerStateResult(true);
    EXPECT_EQ(window.Outcomes().back(), EC_NO_DEVICE);

    // A recheck never wakes the device, and needs a selected one.
    pCm->RecheckPower();
    EXPECT_EQ(window.Outcomes().back(), EC_NO_DEVICE);
    ASSERT_TRUE(pCm->SelectDevice(kPlayerUuid));
    pPower->SetAnswer(false, true);
    pCm->RecheckPower();
    ASSERT_TRUE(pPower->WaitForRequests(1));
    EXPECT_FALSE(pPower->Requests()[0].bAllowWakeUp);
    EXPECT_FALSE(pCm->IsCheckingPower());
}

TEST_F(CommonManagerTest, ShareOfAWokenDeviceMustAppearBeforeTheTransfer)
{
    AddPlayer();
    WriteTestFile(home.Path("Music/a.mp3"), "a");
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    pPower->SetAnswer(false, true);
    pCm->StartSync();
    ASSERT_TRUE(pPower->WaitForRequests(1));
    pCm->ContentsManager().JoinScan();
    // The power thread woke the device; its share does not show up.
    pPower->Requests()[0].pListener->OnDeviceWoken();
    EXPECT_TRUE(pCm->IsDeviceWoken());
    CShareFileSystem::UnmapAllShareRoots();
    const std::int64_t nStart = home.Clock().NowMs();
    EXPECT_EQ(Transfer(), EC_SHARE_NOT_READY);
    EXPECT_EQ(home.Clock().NowMs() - nStart, 2000 + 5 * 5000);
    EXPECT_EQ(pCm->ContentsManager().ContentQueue().GetCount(), 1u) << "nothing was copied";
    EXPECT_FALSE(pCm->DeviceManager().CurrentDevice()->bTransferring);

    // The next start clears the woken flag: the share is not waited for.
    pCm->StartSync();
    ASSERT_TRUE(pPower->WaitForRequests(2));
    pCm->ContentsManager().JoinScan();
    EXPECT_FALSE(pCm->IsDeviceWoken());
    CShareFileSystem::MapShareRoot(kInternalRoot, InternalDir());
    EXPECT_EQ(Transfer(), EC_OK);
}

TEST_F(CommonManagerTest, DeviceReportsReachTheMainWindow)
{
    AddPlayer();
    ASSERT_EQ(events.changes.size(), 1u);
    EXPECT_EQ(events.changes[0].eCode, DEVICE_ADDED);
    EXPECT_EQ(events.changes[0].sUuid, kPlayerUuid);
    pCm->DeviceManager().UpdateKnownDevice(kPlayerUuid, "127.0.0.3", "Living Room");
    ASSERT_EQ(events.changes.size(), 2u);
    EXPECT_EQ(events.changes[1].eCode, DEVICE_IP_CHANGED);
    EXPECT_EQ(events.changes[1].sIp, "127.0.0.3");

    pCm->SelectDeviceManual(kPlayerUuid, "127.0.0.3");
    ASSERT_EQ(events.manualSelections.size(), 1u);
    EXPECT_EQ(events.manualSelections[0].second, "127.0.0.3");
    EXPECT_TRUE(home.ReadLog().contains("ddddddddddddddd SelectDeviceManual\r\n"));

    pCm->NotifyManualAddFinished();
    ASSERT_TRUE(pCm->DeviceManager().RemoveOfflineDevice(kPlayerUuid));
    window.ProcessPending();
    EXPECT_EQ(window.ManualAddFinishedCount(), 1);
    EXPECT_EQ(window.RemovedDevices(), std::vector<QString>{kPlayerUuid});
    EXPECT_TRUE(home.ReadLog().contains("CCommonManager::UpdateDeviceRemoved\tuuid = uuid:player-1.\r\n"));
    EXPECT_EQ(pCm->TransferManager().DeviceState(), EC_DEVICE_REMOVED) << "it was the current device";
    EXPECT_TRUE(pCm->TransferManager().IsStopRequested());
    EXPECT_TRUE(pCm->ContentsManager().IsStopRequested());

    pCm->addDeviceManual("127.0.0.9");
    CWindowMessage request;
    ASSERT_TRUE(pCm->DeviceManager().SearchQueue().TryGet(request));
    EXPECT_EQ(request.nMessage, static_cast<unsigned>(WM_MANUAL_ADD_REQUEST));
    ASSERT_TRUE(request.Payload<QString>());
    EXPECT_EQ(*request.Payload<QString>(), "127.0.0.9");
}

TEST_F(CommonManagerTest, WakingForTheShareOnlyWhenTheDeviceIsInNetworkStandby)
{
    EXPECT_FALSE(pCm->SetDevicePowerState()) << "no device selected";
    AddPlayer();
    std::int64_t nStart = home.Clock().NowMs();
    EXPECT_TRUE(pCm->SetDevicePowerState());
    EXPECT_EQ(pPower->m_nWakeRequests.load(), 0);
    EXPECT_EQ(home.Clock().NowMs(), nStart) << "an active device is ready at once";

    pPower->SetState(POWER_STANDBY, STANDBY_OTHER);
    EXPECT_FALSE(pCm->SetDevicePowerState());
    EXPECT_EQ(pPower->m_nWakeRequests.load(), 0);

    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 3);
    pPower->SetState(POWER_STANDBY, STANDBY_NETWORK_READY);
    nStart = home.Clock().NowMs();
    EXPECT_TRUE(pCm->SetDevicePowerState());
    EXPECT_EQ(pPower->m_nWakeRequests.load(), 1);
    EXPECT_EQ(home.Clock().NowMs() - nStart, 3000) << "the share was there at the first look";
    EXPECT_FALSE(pCm->IsWakingForExplore());
    EXPECT_TRUE(home.ReadLog().contains("CommonManager SetDevicePowerState.\r\n"));

    // A wake-up that does not take, with no share: five looks five seconds apart, then false.
    CShareFileSystem::UnmapAllShareRoots();
    pPower->SetState(POWER_STANDBY, STANDBY_NETWORK_READY, false);
    nStart = home.Clock().NowMs();
    EXPECT_FALSE(pCm->SetDevicePowerState());
    EXPECT_EQ(home.Clock().NowMs() - nStart, 3000 + 5 * 5000);
}

TEST_F(CommonManagerTest, DestructionEndsThreadsThatWaitForever)
{
    // A transfer thread waiting for a files-ready event that no run will set.
    ASSERT_TRUE(pCm->TransferManager().StartThread());
    EXPECT_FALSE(pCm->TransferManager().StartThread());
    const auto start = std::chrono::steady_clock::now();
    pCm.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(window.Outcomes().empty());
}

TEST_F(CommonManagerTest, DestructionEndsARunInTheMiddleOfItsRetryPause)
{
    home.Clock().SetAutoAdvance(false);
    AddPlayer();
    std::atomic<int> nOpens{0};
    pFaults->openForRead = [&](const QString&) {
        ++nOpens;
        return ERROR_SHARING_VIOLATION;
    };
    // The power thread reports ready and waits its two seconds on the clock.
    pPower->SetAnswer(true, true);
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    WriteTestFile(home.Path("Music/b.mp3"), "b");
    pCm->StartSync();
    ASSERT_TRUE(pPower->WaitForRequests(1));
    ASSERT_TRUE(home.Clock().WaitForWaiters(1));
    home.Clock().Advance(2000);
    ASSERT_TRUE(home.Clock().AdvanceUntil([&] { return nOpens.load() == 1; }, 100, 10000));
    ASSERT_TRUE(home.Clock().WaitForWaiters(1)); // now in the 5-second pause before attempt 1
    const auto start = std::chrono::steady_clock::now();
    pCm.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(nOpens.load(), 1) << "no further attempt after the stop";
}

// A check that ends "not ready" ends the check as much as a ready one: the flag that holds the
// device search and its offline check is cleared on every way out.
TEST_F(CommonManagerTest, NotReadyVerdictEndsThePowerCheck)
{
    AddPlayer();
    WriteTestFile(home.Path("Music/a.mp3"), "a");
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    pPower->SetAnswer(true, false);
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_POWER_NOT_READY);
    EXPECT_FALSE(pCm->IsCheckingPower());

    // Also when the device went away while its power was checked.
    pPower->SetAnswer(false, true);
    pCm->StartSync();
    ASSERT_TRUE(pPower->WaitForRequests(2));
    pCm->ContentsManager().JoinScan();
    EXPECT_TRUE(pCm->IsCheckingPower());
    pCm->DeviceManager().ClearCurrentDevice();
    pCm->OnPowerStateResult(true);
    EXPECT_EQ(window.Outcomes().back(), EC_NO_DEVICE);
    EXPECT_FALSE(pCm->IsCheckingPower());
}
