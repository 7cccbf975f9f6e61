#include "pages/PropertyTreePageContentsSettings.h"

#include "ui_PropertyTreePageContentsSettings.h"

CPropertyTreePageContentsSettings::CPropertyTreePageContentsSettings(QWidget* pParent)
    : CPropertyTreePage(kTemplateId, pParent), m_pUi(std::make_unique<Ui::CPropertyTreePageContentsSettings>())
{
    m_pUi->setupUi(this);
    setObjectName("pageContentsSettings");
    setAccessibleName("Contents Settings (110)");
}

CPropertyTreePageContentsSettings::~CPropertyTreePageContentsSettings() = default;

void CPropertyTreePageContentsSettings::RevertFolderList()
{
    m_folders.Revert();
}

void CPropertyTreePageContentsSettings::RevertExtensionList()
{
    m_extensions.Revert();
}

void CPropertyTreePageContentsSettings::SetFolderList(const QStringList& folders)
{
    m_folders.current = folders;
    NotifyChanged();
}

void CPropertyTreePageContentsSettings::SetExtensionList(const QStringList& extensions)
{
    m_extensions.current = extensions;
    NotifyChanged();
}

void CPropertyTreePageContentsSettings::RefreshSelectAll()
{
    bool bAll = !m_extensions.current.isEmpty();
    for (const QString& sEntry : m_extensions.current)
        bAll = bAll && sEntry.endsWith("|1");
    m_bSelectAll = bAll;
}

// Reading the player's stored lists (its list files) comes with the page's list controls; until
// then the page keeps what it has.
void CPropertyTreePageContentsSettings::ReloadSavedLists(const QString&)
{}
void CPropertyTreePageContentsSettings::Refresh()
{}
