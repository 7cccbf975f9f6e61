#include "ShellFixture.h"

namespace {

using CSettingsProtocolTest = CShellTest;

DWORD StoredDword(const char* pszName)
{
    DWORD dw = 0xffffffff;
    ReadSettingDword(pszName, &dw);
    return dw;
}

TEST_F(CSettingsProtocolTest, ApplyIsEnabledExactlyWhileASettingDiffersFromItsSavedValue)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    CPropertyTreePageSyncSettings& sync = wnd.SyncPage();
    CPropertyTreePageContentsSettings& contents = wnd.ContentsPage();
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());

    sync.SetMinutes(9);
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());
    sync.SetMinutes(CPropertyTreePageSyncSettings::kDefaultMinutes); // back to the saved value
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());

    contents.SetExtensionList({"mp3|1", "flac|0"});
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());
    contents.SetExtensionList({});
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());

    // The minutes are corrected to 1..60 before they are compared: 0 is 1, not "unchanged".
    sync.SetMinutes(75);
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());
    EXPECT_EQ(sync.Minutes(), 60);

    // In the wizard the notice is ignored.
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_WIZARD_CONNECTION, 0));
    sync.SetMinutes(CPropertyTreePageSyncSettings::kDefaultMinutes);
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());
}

TEST_F(CSettingsProtocolTest, ApplySavesEveryPageInOrderAndConfirms)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.SyncPage().SetAutoTransfer(false);
    wnd.SyncPage().SetMinutes(12);
    wnd.SyncPage().SetPriority(PROGRESS_LEVEL_LOW);
    wnd.SyncPage().SetDestination(SAVE_POSITION_EXTERNAL);
    wnd.ContentsPage().SetFolderList({"/music/|1"});
    m_presenter.SetNextAnswer(IDOK);
    Click(IDC_APPLY);

    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{182}));
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());
    EXPECT_FALSE(wnd.IsAnySettingChanged());
    EXPECT_EQ(StoredDword(kSettingAutoTransfer), 0u);
    EXPECT_EQ(StoredDword(kSettingAutoTransferTime), 12u);
    EXPECT_EQ(StoredDword(kSettingProgressLevel), DWORD(PROGRESS_LEVEL_LOW));
    EXPECT_EQ(StoredDword(kSettingSyncFileSavePosition), DWORD(SAVE_POSITION_EXTERNAL));
    EXPECT_EQ(StoredDword(kSettingDevicePowerFrequency), 20u);
    EXPECT_TRUE(wnd.isVisible());
}

TEST_F(CSettingsProtocolTest, OkAndTheCloseBoxSaveAndHide)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.SyncPage().SetMinutes(30);
    Click(IDC_OK);
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_FALSE(wnd.IsShowWindowAllowed());
    EXPECT_EQ(StoredDword(kSettingAutoTransferTime), 30u);
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());
    EXPECT_TRUE(m_presenter.Shown().empty()) << "OK saves without a message";

    wnd.OnCommand(ID_SETUP_CONSOLE);
    ASSERT_TRUE(wnd.isVisible());
    wnd.SyncPage().SetMinutes(31);
    wnd.close();
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_EQ(StoredDword(kSettingAutoTransferTime), 31u);
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
}

TEST_F(CSettingsProtocolTest, CancelWithADeviceAsksAndRevertsOnlyOnYes)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    SelectDevice("uuid:1");
    wnd.SyncPage().SetMinutes(44);
    wnd.ContentsPage().SetFolderList({"/a/|1"});
    wnd.ContentsPage().SetExtensionList({"mp3|1"});

    m_presenter.SetNextAnswer(IDNO);
    Click(IDC_CANCEL);
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_EQ(wnd.SyncPage().Minutes(), 44);
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());
    ASSERT_EQ(m_presenter.Shown().size(), 1u);
    EXPECT_EQ(m_presenter.Shown()[0].nTextId, 175u);
    EXPECT_EQ(m_presenter.Shown()[0].eButtons, MSG_BUTTONS_YESNO);
    EXPECT_EQ(m_presenter.Shown()[0].nDefault, IDNO);

    m_presenter.SetNextAnswer(IDYES);
    Click(IDC_CANCEL);
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_EQ(wnd.SyncPage().Minutes(), CPropertyTreePageSyncSettings::kDefaultMinutes);
    EXPECT_TRUE(wnd.ContentsPage().FolderList().isEmpty());
    EXPECT_FALSE(wnd.IsAnySettingChanged());
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());
    EXPECT_FALSE(SettingExists(kSettingAutoTransferTime)) << "Cancel never writes";
    EXPECT_TRUE(wnd.ContentsPage().FolderList().isEmpty());
    EXPECT_FALSE(wnd.ContentsPage().IsSelectAllTicked());
}

TEST_F(CSettingsProtocolTest, CancelWithoutADeviceClosesWithoutAskingAndKeepsTheEdits)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.SyncPage().SetMinutes(44);
    Click(IDC_CANCEL);
    EXPECT_TRUE(m_presenter.Shown().empty());
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_EQ(wnd.SyncPage().Minutes(), 44);
    EXPECT_TRUE(wnd.IsAnySettingChanged());
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());
}

TEST_F(CSettingsProtocolTest, ApplyDuringAModalDialogSavesSilently)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.SyncPage().SetMinutes(8);
    m_presenter.QueueWhileOpen([&] {
        // A worker's message arrives while a box is open and the page applies meanwhile.
        wnd.OnCommand(IDC_APPLY);
        return IDOK;
    });
    SMessageBox box;
    box.nTextId = 152;
    m_presenter.Show(&wnd, box);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{152}));
    EXPECT_EQ(StoredDword(kSettingAutoTransferTime), 8u);
}

} // namespace
