#pragma once

#include <memory>

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>

#include "app/ResourceIds.h"
#include "app/TolvaMusicTransferDlg.h"
#include "desktop/ISingleInstance.h"
#include "device/DeviceInfo.h"
#include "foundation/Environment.h"
#include "foundation/MessageIds.h"
#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "pages/PropertyTreePageConnection.h"
#include "pages/PropertyTreePageContentsSettings.h"
#include "pages/PropertyTreePageSyncSettings.h"
#include "support/TestHome.h"
#include "support/desktop/TestFolderPicker.h"
#include "support/desktop/TestMessagePresenter.h"
#include "support/desktop/TestShellOpener.h"
#include "support/desktop/VirtualTimerService.h"

// The single-instance channel in tests: answers TryBecomePrimary with a scripted result and lets
// the test deliver "ActiveApp" as a second start would.
class CTestSingleInstance final : public ISingleInstance
{
public:
    ESingleInstanceResult TryBecomePrimary() override
    {
        ++m_nTries;
        return m_eResult;
    }
    void SetActivateHandler(ActivateHandler handler) override { m_handler = std::move(handler); }

    void SetResult(ESingleInstanceResult eResult) { m_eResult = eResult; }
    int Tries() const { return m_nTries; }
    // What the primary does when a second start hands over "ActiveApp".
    bool Activate(const QString& sToken = QString())
    {
        if (!m_handler)
            return false;
        m_handler(sToken);
        return true;
    }

private:
    ESingleInstanceResult m_eResult = SINGLE_INSTANCE_PRIMARY;
    ActivateHandler m_handler;
    int m_nTries = 0;
};

// A fresh profile (temporary home, virtual clock), English texts, the message-box double and
// timers in virtual time for each test; the main window is made by the test.
class CShellTest : public testing::Test
{
protected:
    CShellTest() { SetStringLanguage(LANG_ID_ENGLISH_UK); }
    ~CShellTest() override
    {
        m_pWnd.reset();
        // One failure must not leave a modal window behind for the next test.
        while (QWidget* pModal = QApplication::activeModalWidget())
            pModal->close();
    }

    // A window as start-up makes it: constructed, started, shown (unless it must stay hidden).
    CTolvaMusicTransferDlg& StartWindow()
    {
        m_pWnd = std::make_unique<CTolvaMusicTransferDlg>(
            SMainWindowServices{m_presenter, m_timers, m_shell, &m_folders, m_pActivity, m_pTrayPresence});
        m_pWnd->Start();
        m_pWnd->show();
        return *m_pWnd;
    }
    // A console start: setup done, started by hand.
    CTolvaMusicTransferDlg& StartConsole()
    {
        WriteSettingDword(kSettingFirstRun, 0);
        return StartWindow();
    }
    // A player in the device table of the window's common manager.
    void AddDevice(const QString& sUuid, const QString& sIp = "127.0.0.2", const QString& sName = "Living Room")
    {
        SDeviceSnapshot fields;
        fields.sUuid = sUuid;
        fields.sIp = sIp;
        fields.sFriendlyName = sName;
        ASSERT_TRUE(m_pWnd->CommonManager().DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields)));
    }
    // Selects a player as a click on its card does, and switches the console to DM_CONSOLE.
    void SelectDevice(const QString& sUuid)
    {
        AddDevice(sUuid);
        ASSERT_EQ(m_pWnd->SendMessage(CWindowMessage::WithPayload(WM_SELECT_DEVICE_CARD, QString(sUuid))), 0);
        m_pWnd->SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_CONSOLE, 0));
    }
    QPushButton* Button(unsigned nId) { return m_pWnd->Button(nId); }
    // The labels' states in page order (Connection, Contents Settings, Transfer Settings).
    std::vector<int> Labels()
    {
        return {m_pWnd->LabelState(IDC_LABEL_CONNECTION), m_pWnd->LabelState(IDC_LABEL_CONTENTS),
                m_pWnd->LabelState(IDC_LABEL_TRANSFER)};
    }
    void Click(unsigned nId)
    {
        QPushButton* pButton = Button(nId);
        ASSERT_TRUE(pButton);
        ASSERT_TRUE(pButton->isEnabled()) << nId;
        pButton->click();
    }

    CTestHome m_home;
    CTestMessagePresenter m_presenter;
    CVirtualTimerService m_timers{m_home.Clock()};
    CTestShellOpener m_shell;
    CTestFolderPicker m_folders;
    // Set by a test before StartWindow: the input watch and the notification area.
    IInputActivityMonitor* m_pActivity = nullptr;
    ITrayPresence* m_pTrayPresence = nullptr;
    std::unique_ptr<CTolvaMusicTransferDlg> m_pWnd;
};
