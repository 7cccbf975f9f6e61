#pragma once

#include <memory>

#include "app/ProgramDialog.h"

namespace Ui {
class CWizardEndDlg;
}

// The end of the setup wizard: quit and start transferring (result 1), or quit without (2).
// "Start transferring" is offered only while the main window allows it (a player is chosen,
// WM_USER+22); a change reaches an open dialog at once. Esc and Alt+F4 do nothing.
class CWizardEndDlg final : public CProgramDialog
{
    Q_OBJECT
public:
    static constexpr int kResultStart = 1;
    static constexpr int kResultQuit = 2;

    explicit CWizardEndDlg(QWidget* pParent = nullptr);
    ~CWizardEndDlg() override;

    void SetStartAllowed(bool bAllowed);
    bool IsStartAllowed() const { return m_bStartAllowed; }
    bool IsOpen() const { return m_bOpen; }

    // Ends the dialog (as QDialog::done), clearing its state first.
    void done(int nResult) override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void SetTexts();

    const std::unique_ptr<Ui::CWizardEndDlg> m_pUi;
    bool m_bStartAllowed = false;
    bool m_bOpen = false;
};
