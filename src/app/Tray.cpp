#include "app/Tray.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/ResourceIds.h"
#include "desktop/Pictures.h"
#include "foundation/StringTable.h"

CTray::CTray(std::function<void(unsigned)> onCommand, std::function<void(int)> onMouse, QObject* pParent)
    : QObject(pParent), m_onCommand(std::move(onCommand)), m_onMouse(std::move(onMouse)),
      m_pMenu(std::make_unique<QMenu>())
{
    m_pMenu->setObjectName("trayMenu");
    m_pMenu->setAccessibleName("Tray menu (108)");
    m_sManual = LoadStringText(130);
    m_sStop = LoadStringText(176);
    const auto add = [this](unsigned nId, const QString& sText) {
        QAction* pAction = m_pMenu->addAction(sText);
        pAction->setObjectName(QString("trayAction%1").arg(nId));
        connect(pAction, &QAction::triggered, this, [this, nId] {
            if (m_onCommand)
                m_onCommand(nId);
        });
        m_actions[nId] = pAction;
    };
    add(ID_MANUAL_TRANSFER, m_sManual);
    add(ID_SETUP_CONSOLE, LoadStringText(131));
    add(ID_EXPLORE, LoadStringText(132));
    m_pMenu->addSeparator();
    add(ID_HELP, LoadStringText(133) + QStringLiteral("(&H)\tAlt+H"));
    add(ID_ABOUT, LoadStringText(134) + QStringLiteral("(&A)\tAlt+A"));
    m_pMenu->addSeparator();
    add(ID_EXIT, LoadStringText(135) + QStringLiteral("(&E)\tAlt+E"));
    // The icons render once: the notification area gets the same pictures on every change.
    for (unsigned nId = IDI_TRAY_AUTO_OFF; nId <= IDI_TRAY_AUTO_ON; ++nId)
        m_icons[nId] = LoadIcon(nId);
}

CTray::~CTray()
{
    if (m_pIcon)
        m_pIcon->hide();
    delete m_pIcon;
}

void CTray::Attach()
{
    if (m_pIcon)
        return;
    m_pIcon = new QSystemTrayIcon();
    m_pIcon->setToolTip(LoadStringText(101));
    m_pIcon->setContextMenu(m_pMenu.get());
    connect(m_pIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason eReason) {
        if (!m_onMouse)
            return;
        // A StatusNotifier host has no double click and shows the menu itself; on Wayland the
        // pointer position is unknown, so a click there opens the settings window.
        const bool bWayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
        switch (eReason) {
        case QSystemTrayIcon::Trigger: m_onMouse(bWayland ? TRAY_MOUSE_LEFT_DOUBLE : TRAY_MOUSE_LEFT_DOWN); break;
        case QSystemTrayIcon::DoubleClick: m_onMouse(TRAY_MOUSE_LEFT_DOUBLE); break;
        default: break;
        }
    });
    if (m_nIconId != 0) {
        m_pIcon->setIcon(m_icons[m_nIconId]);
        m_pIcon->show();
    }
}

void CTray::SetIcon(unsigned nIconId)
{
    if (nIconId != 0 && m_icons.find(nIconId) == m_icons.end())
        return;
    m_nIconId = nIconId;
    emit IconChanged(nIconId);
    if (!m_pIcon)
        return;
    if (nIconId == 0) {
        m_pIcon->hide();
        return;
    }
    m_pIcon->setIcon(m_icons[nIconId]);
    if (!m_pIcon->isVisible())
        m_pIcon->show();
}

void CTray::Refresh(bool bTransferring, bool bManualGreyed, bool bModalGreyed)
{
    QAction* pFirst = m_actions[ID_MANUAL_TRANSFER];
    const QString& sText = bTransferring ? m_sStop : m_sManual;
    if (pFirst->text() != sText)
        pFirst->setText(sText);
    pFirst->setEnabled(!bManualGreyed);
    m_actions[ID_ABOUT]->setEnabled(!bModalGreyed);
    m_actions[ID_EXIT]->setEnabled(!bModalGreyed);
}

void CTray::PopupMenu()
{
    if (m_pIcon && !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        m_pMenu->popup(QCursor::pos());
}

QAction* CTray::Action(unsigned nCommandId) const
{
    const auto it = m_actions.find(nCommandId);
    return it == m_actions.end() ? nullptr : it->second;
}

QString CTray::ToolTip() const
{
    return m_pIcon ? m_pIcon->toolTip() : LoadStringText(101);
}
