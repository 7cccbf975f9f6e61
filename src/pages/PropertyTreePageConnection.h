#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QString>
#include <QStringList>

#include "device/NetworkWatcher.h"
#include "pages/PropertyTreePage.h"

class CCommonManager;
class CConnectionView;
class IMessagePresenter;
class QLineEdit;
class QPushButton;
struct SDeviceChange;
namespace Ui {
class CPropertyTreePageConnection;
}

// What the Connection page needs of the main window beyond its numbered messages.
struct SConnectionPageServices
{
    CCommonManager* pCommonManager = nullptr;
    IMessagePresenter* pPresenter = nullptr;
    std::function<int()> mode;                // the display mode (m_eDM)
    std::function<QPushButton*()> nextButton; // Next (1021)
    std::function<void()> saveAllSettings;
    // Hands the chosen player's watched folders and file types to the Contents Settings page.
    std::function<void(const QString& sUuid)> loadContentsLists;
};

// The Connection page (109): the players the search knows as cards in the device view, the
// choice of the player transfers go to, and the manual add by IP address with the network
// prefixes of this PC in a drop-down list that follows address changes. The page talks to the
// network only through the common manager and reports to the main window by messages.
//
// The offline dialog and the saved player: when the saved player ("CurrentDevId") is reported
// again, the page selects and commits it as a click would. Then, while the offline dialog is open
// and searching, the page does nothing more: the dialog's own search sees the card and closes
// itself. While the dialog is open but not searching (it waits for Rescan), the page sends it
// Rescan (WM_USER+39), so it finds the card at once and closes. Otherwise the ordinary notices
// go out: the wait dialog closes (WM_USER+10), the offline prompt is done (WM_USER+8), and a
// running panel-show timer is stopped (WM_USER+25), as the player is there.
class CPropertyTreePageConnection : public CPropertyTreePage
{
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 109;
    static constexpr int kOctetLength = 3;

    explicit CPropertyTreePageConnection(QWidget* pParent = nullptr);
    ~CPropertyTreePageConnection() override;

    void SetServices(SConnectionPageServices services) { m_services = std::move(services); }
    // Where the page reads this PC's adapters (tests give a fixed list); set before Create().
    void SetAdapterSource(std::function<std::vector<SLocalAdapter>()> source) { m_adapterSource = std::move(source); }
    // Whether Create() starts the network watcher (tests drive OnNetworkChanged by hand).
    void SetNetworkWatchEnabled(bool bOn) { m_bWatchNetwork = bOn; }

    // A device record was added or changed (forwarded from the common manager).
    void UpdateDeviceInfo(const SDeviceChange& change);
    // A manual add found this device at the typed address.
    void SelectDeviceManual(const QString& sUuid, const QString& sIp);
    // The typed address gave no description (WM_MANUAL_ADD_NO_DESCRIPTION).
    void ReportManualAddNoDescription();
    // A manual add is over (WM_MANUAL_ADD_FINISHED).
    void OnManualAddFinished();
    // The player went offline: its card goes. True when it was the selected card.
    bool DropDevice(const QString& sUuid);
    // The view's current selection text (WM_CONNECTION_PAGE_TEXT); returns the page's answer.
    std::intptr_t OnSelectionText(const QString& sText);
    // The device the view has selected now: its UUID and IP address (empty when none).
    QString SelectedDeviceUuid() const;
    QString SelectedDeviceIp() const;
    // The panel-show timer's flag of the device view.
    void SetTimerFlag(bool bOn) { m_bTimerFlag = bOn; }
    bool TimerFlag() const { return m_bTimerFlag; }
    // Shows the saved player ("CurrentDevId") as the selected card again (after the setup
    // wizard ends).
    void Refresh();
    // The view's scroll bar is locked while the page works (WM_LOCK_WINDOW).
    void SetScrollBarLocked(bool bLocked);
    // The offline dialog is open / its search runs (flags the main window and the dialog set).
    void SetOfflineDialogOpen(bool bOpen) { m_bOfflineDlgOpen = bOpen; }
    void SetRescanning(bool bOn) { m_bRescanning = bOn; }
    // The player with this UUID has a card. Safe from any thread (the offline dialog's search
    // thread asks).
    bool HasCard(const QString& sUuid) const;
    // Scrolls the view to its first row and redraws it (Select Device of the offline dialog).
    void ScrollToTop();

    // Rebuilds the prefix list from the adapters (at initialisation and on every address change).
    void RefreshSubnetList();
    // The network watcher's notice, handed to the page's thread.
    void OnNetworkChanged();
    // Starts the manual add with the typed address (Select, Enter in an octet box).
    void StartManualAdd();
    bool IsManualAddRunning() const { return m_bManualAddRunning; }
    // The user chose a card (mouse, keyboard or assistive technology).
    void OnCardClicked(int nIndex);
    // Opens the IP-address help.
    void ShowDetails();

    CConnectionView* View() const;
    // The address as the four boxes show it, joined with ".".
    QString TypedAddress() const;

protected:
    void InitPage() override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void SetTexts();
    void OnDeviceAdded(const SDeviceChange& change);
    // Selects the card and commits the choice (steps 3 to 7 of a click; the question about
    // unsaved Contents Settings lists only for a click by the user).
    void CommitSelection(int nIndex, bool bByUser);
    void SelectIpInCombo(const QString& sIp);
    void FillIpFields(const QString& sDotted, bool bFromCombo);
    void SetOctetEnabled(int k, bool bEnabled);
    void MergeTypes(const QString& sUuid, const QStringList& types);
    void RememberCard(const QString& sUuid);
    std::intptr_t Send(unsigned nMessage, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    template <class T>
    std::intptr_t SendWith(unsigned nMessage, T value, std::intptr_t lParam = 0);
    void SetBusy(bool bBusy);
    QLineEdit* Octet(int k) const;

    const std::unique_ptr<Ui::CPropertyTreePageConnection> m_pUi;
    SConnectionPageServices m_services;
    std::function<std::vector<SLocalAdapter>()> m_adapterSource;
    CNetworkWatcher m_watcher;
    bool m_bWatchNetwork = true;
    QString m_sSelDeviceUuid; // "CurrentDevId" as read at initialisation and kept by commits
    bool m_bManualAddRunning = false;
    bool m_abOctetEnabled[4] = {true, true, true, true}; // saved when a manual add starts
    bool m_bRefreshPending = false;                      // an address change arrived while a manual add ran
    bool m_bBusy = false;
    bool m_bTimerFlag = false;
    bool m_bOfflineDlgOpen = false;
    bool m_bRescanning = false;
    mutable std::mutex m_cardsMutex;
    QStringList m_cardUuids; // guarded by m_cardsMutex: the UUIDs with a card, for other threads
};
