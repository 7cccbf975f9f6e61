#pragma once

#include <memory>

#include "app/ProgramDialog.h"

class ITimerService;
namespace Ui {
class CWaitDlg;
}

// "Retrieving the device" with animated dots while the program waits for the saved player to be
// reported at start-up. It has no buttons; the main window ends it (result 1) when the player is
// reported (WM_USER+10), CloseOpenMessageBox with 7. Enter, Esc and Alt+F4 do nothing.
class CWaitDlg final : public CProgramDialog
{
    Q_OBJECT
public:
    static constexpr unsigned kTimerDots = 500;

    CWaitDlg(ITimerService& timers, QWidget* pParent = nullptr);
    ~CWaitDlg() override;

    // Ends the dialog with 1 (the player was reported).
    void Close();
    QString Text() const;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void SetTexts();
    void OnDots();

    ITimerService& m_timers;
    const std::unique_ptr<Ui::CWaitDlg> m_pUi;
    QString m_sText;
    int m_nDots = 0;
};
