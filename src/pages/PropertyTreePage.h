#pragma once

#include <QWidget>

class IMessageReceiver;

// Base of every settings page. A page object exists from the settings window's construction; its
// controls are set up ("created") when the window first needs it, and it stays alive, keeping its
// edits, while the window is hidden. Each setting a page edits is held twice, the value on screen
// and the last committed one; the page reports every edit to the main window with the
// settings-changed notice so the window can enable Apply.
class CPropertyTreePage : public QWidget
{
    Q_OBJECT
public:
    explicit CPropertyTreePage(unsigned nTemplateId, QWidget* pParent = nullptr);

    unsigned TemplateId() const { return m_nTemplateId; }
    // The page's controls exist (its first showing or the window's start-up made them).
    bool IsCreated() const { return m_bCreated; }
    // Sets up the page's controls and texts once; later calls do nothing.
    void Create();

    // The window that gets the page's notices (WM_SETTINGS_CHANGED); set by the settings window.
    void SetMainWindow(IMessageReceiver* pMainWnd) { m_pMainWnd = pMainWnd; }
    IMessageReceiver* MainWindow() const { return m_pMainWnd; }

    // Hooks of the settings window's default OK: apply the page, may the page be applied.
    virtual void OnApplyPage() {}
    virtual bool CanApplyPage() { return true; }
    // Cancel inside a page never ends anything.
    virtual void OnCancelPage() {}

protected:
    // Fills the page's texts from the string table and loads its settings (once, from Create).
    virtual void InitPage() {}
    // Sends the settings-changed notice to the main window (after every edit of a setting).
    void NotifyChanged();

private:
    const unsigned m_nTemplateId;
    bool m_bCreated = false;
    IMessageReceiver* m_pMainWnd = nullptr;
};
