#pragma once

#include <functional>
#include <map>
#include <memory>

#include <QIcon>
#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The program's icon in the notification area: whether automatic transfer is on (210 off, 219
// on), the animation while a transfer runs (211 to 218), and the menu from which the user
// reaches everything. The menu is built once and its texts and enabled states follow every
// change of state (Refresh); nothing is decided when the menu opens, because a StatusNotifier
// host draws the menu itself and may not ask first.
//
// The icon exists only once the desktop has a notification area (Attach); before that the tray
// keeps the state, so attaching shows the current icon and menu at once.
class CTray final : public QObject
{
    Q_OBJECT
public:
    // onCommand: a menu command (32782, 32773, 32777, 32776, 32778, 32772); onMouse: a click on
    // the icon as the window's mouse message (513 left down, 515 double click, 517 right up).
    CTray(std::function<void(unsigned)> onCommand, std::function<void(int)> onMouse, QObject* pParent = nullptr);
    ~CTray() override;

    void Attach();
    bool IsAttached() const { return m_pIcon != nullptr; }
    // 0 removes the icon from the notification area.
    void SetIcon(unsigned nIconId);
    unsigned IconId() const { return m_nIconId; }
    // The first item's text (Manual Transfer / Stop Transferring) and the greyed items.
    void Refresh(bool bTransferring, bool bManualGreyed, bool bModalGreyed);
    // Opens the menu at the pointer (a left click on X11, where the host does not do it).
    void PopupMenu();

    QMenu* Menu() const { return m_pMenu.get(); }
    QAction* Action(unsigned nCommandId) const;
    QString ToolTip() const;

signals:
    // Every change of the icon (0: removed), for whoever follows the animation.
    void IconChanged(unsigned nIconId);

private:
    std::function<void(unsigned)> m_onCommand;
    std::function<void(int)> m_onMouse;
    std::unique_ptr<QMenu> m_pMenu;
    std::map<unsigned, QAction*> m_actions;
    std::map<unsigned, QIcon> m_icons; // the ten icons, loaded once
    QSystemTrayIcon* m_pIcon = nullptr;
    unsigned m_nIconId = 0;
    QString m_sManual, m_sStop;
};
