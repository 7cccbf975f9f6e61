#pragma once

#include <memory>

#include "pages/PropertyTreePage.h"

struct SDeviceChange;
namespace Ui {
class CPropertyTreePageConnection;
}

// The Connection page (109): the players found on the network and the choice of one. Its
// contents (device view, manual add, network watcher) come with the Connection page itself; the
// operations below are what the main window calls on it.
class CPropertyTreePageConnection : public CPropertyTreePage
{
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 109;

    explicit CPropertyTreePageConnection(QWidget* pParent = nullptr);
    ~CPropertyTreePageConnection() override;

    // A device record was added or changed (forwarded from the common manager).
    void UpdateDeviceInfo(const SDeviceChange& change);
    // A manual add found this device at the typed address.
    void SelectDeviceManual(const QString& sUuid, const QString& sIp);
    // The typed address gave no description (WM_MANUAL_ADD_NO_DESCRIPTION).
    void ReportManualAddNoDescription();
    // A manual add is over (WM_MANUAL_ADD_FINISHED).
    void OnManualAddFinished();
    // The view's current selection text (WM_CONNECTION_PAGE_TEXT); returns the page's answer.
    std::intptr_t OnSelectionText(const QString& sText);
    // The device the view has selected now: its UUID and IP address (empty when none).
    QString SelectedDeviceUuid() const;
    QString SelectedDeviceIp() const;
    // The panel-show timer's flag of the device view.
    void SetTimerFlag(bool bOn);
    // Re-reads the device list into the view (after the setup wizard ends).
    void Refresh();
    // The view's scroll bar is locked while the page works (WM_LOCK_WINDOW).
    void SetScrollBarLocked(bool bLocked);

private:
    const std::unique_ptr<Ui::CPropertyTreePageConnection> m_pUi;
};
