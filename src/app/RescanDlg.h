#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "app/ProgramDialog.h"
#include "platform/Clock.h"

class ITimerService;
namespace Ui {
class CRescanDlg;
}

// What the offline dialog needs of the main window and the Connection view.
class IOfflineDialogHost
{
public:
    virtual ~IOfflineDialogHost() = default;
    // The player of "CurrentDevId" has a card in the Connection view. Called on the dialog's
    // search thread, so it must be safe from any thread.
    virtual bool IsCurrentDeviceListed() const = 0;
    // The search starts (true) or stops: the main window's and the view's rescanning flags.
    virtual void SetRescanning(bool bOn) = 0;
    // The dialog opened: clear the main window's found-again flag.
    virtual void OnOfflineDialogStarted() = 0;
    // The player came back while the dialog searched: the offline prompt is done, the mode
    // returns to the console (or Next gets the focus in the wizard), the settings-changed notice,
    // the dialog's flags cleared, found-again set.
    virtual void OnDeviceFoundAgain() = 0;
    // The search gave up (time-out or the view's notice, WM_USER+38): the view's given-up flag.
    virtual void OnSearchGivenUp() = 0;
    // Select Device: bListed tells whether the player of "CurrentDevId" has a card now.
    virtual void OnSelectDevice(bool bListed) = 0;
};

// The device-offline dialog: the chosen player does not answer. Rescan (or, when the main window
// asks for it, an immediate start) searches for it: a thread looks at the Connection view's
// players every kPollMs until the player is back, then the dialog closes itself (result 2). An
// immediate search gives up after a minute (timer 900, result 2); a search started by Rescan
// runs until the player is back or the user presses Select Device (result 1).
// CloseOpenMessageBox ends it with 7. Esc and Alt+F4 do nothing.
class CRescanDlg final : public CProgramDialog
{
    Q_OBJECT
public:
    static constexpr unsigned kTimerDots = 300;
    static constexpr unsigned kTimerTimeout = 900;
    static constexpr int kTimeoutMs = 60000;
    // Pause between two looks at the device list (the players arrive from the search thread
    // through the UI thread, so looking more often gains nothing).
    static constexpr int kPollMs = 250;
    static constexpr int kResultSelectDevice = 1;
    static constexpr int kResultClosedItself = 2;

    CRescanDlg(IOfflineDialogHost& host, ITimerService& timers, QWidget* pParent = nullptr);
    ~CRescanDlg() override;

    // Set by the main window before it runs the dialog for a player that went away: search at
    // once, with the one-minute time-out.
    void SetSearchAtOnce(bool bOn) { m_bSearchAtOnce = bOn; }
    bool IsSearching() const { return m_bSearching.load(); }
    // The Rescan command (button 1036, WM_USER+39).
    void Rescan();
    // WM_USER+38: a running search ends as on time-out.
    void OnNotice();
    QString MessageText() const;
    QString SearchText() const;

    // Ends the dialog (as QDialog::done), clearing its state first.
    void done(int nResult) override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void SetTexts();
    void StartSearching(bool bWithTimeout);
    // Stops the search thread and waits for it (it only looks and pauses, so this is quick).
    void StopSearchThread();
    void SearchProc();
    void OnFound();
    void OnTimeout();
    void OnSelectDevice();
    void OnDots();
    void StopDots();

    IOfflineDialogHost& m_host;
    ITimerService& m_timers;
    const std::unique_ptr<Ui::CRescanDlg> m_pUi;
    QString m_sMessage;
    QString m_sSearching;
    bool m_bSearchAtOnce = false;
    std::atomic<bool> m_bSearching{false};
    int m_nDots = 0;
    std::thread m_searchThread;
    CEvent m_stopSearch{true};
};
