#include "pages/PropertyTreePageConnection.h"

#include "ui_PropertyTreePageConnection.h"

#include "device/DeviceManager.h"

CPropertyTreePageConnection::CPropertyTreePageConnection(QWidget* pParent)
    : CPropertyTreePage(kTemplateId, pParent), m_pUi(std::make_unique<Ui::CPropertyTreePageConnection>())
{
    m_pUi->setupUi(this);
    setObjectName("pageConnection");
    setAccessibleName("Connection (109)");
}

CPropertyTreePageConnection::~CPropertyTreePageConnection() = default;

// The device view, manual add and network watcher of this page are not built yet: until they
// are, the page shows no devices and answers as a page with nothing selected.
void CPropertyTreePageConnection::UpdateDeviceInfo(const SDeviceChange&)
{}
void CPropertyTreePageConnection::SelectDeviceManual(const QString&, const QString&)
{}
void CPropertyTreePageConnection::ReportManualAddNoDescription()
{}
void CPropertyTreePageConnection::OnManualAddFinished()
{}
std::intptr_t CPropertyTreePageConnection::OnSelectionText(const QString&)
{
    return 0;
}
QString CPropertyTreePageConnection::SelectedDeviceUuid() const
{
    return QString();
}
QString CPropertyTreePageConnection::SelectedDeviceIp() const
{
    return QString();
}
void CPropertyTreePageConnection::SetTimerFlag(bool)
{}
void CPropertyTreePageConnection::Refresh()
{}
void CPropertyTreePageConnection::SetScrollBarLocked(bool)
{}
