#include "pages/PropertyTreeDlg.h"

#include <QEvent>

#include "foundation/StringTable.h"

CPropertyTreeDlg::CPropertyTreeDlg(QWidget* pParent)
    : QDialog(pParent), m_pRootInfo(std::make_unique<CPropertyTreeInfo>())
{}

CPropertyTreeDlg::~CPropertyTreeDlg() = default;

int CPropertyTreeDlg::AddPage(unsigned nCaptionId, CPropertyTreeInfo* pParent, CPropertyTreePage* pPage,
                              unsigned nTemplateId)
{
    if (!pParent || !pPage)
        return -1;
    pParent->m_arrChildren.push_back(std::make_unique<CPropertyTreeInfo>(nTemplateId, LoadStringText(nCaptionId)));
    m_mapPages[nTemplateId] = pPage;
    return static_cast<int>(pParent->m_arrChildren.size());
}

CPropertyTreeInfo* CPropertyTreeDlg::FindPageInfo(CPropertyTreeInfo* pInfo, unsigned nTemplateId)
{
    if (!pInfo || pInfo->m_nTemplateId == nTemplateId)
        return pInfo;
    for (const auto& pChild : pInfo->m_arrChildren) {
        if (CPropertyTreeInfo* pFound = FindPageInfo(pChild.get(), nTemplateId))
            return pFound;
    }
    return nullptr;
}

CPropertyTreePage* CPropertyTreeDlg::Page(unsigned nTemplateId) const
{
    const auto it = m_mapPages.find(nTemplateId);
    return it == m_mapPages.end() ? nullptr : it->second;
}

void CPropertyTreeDlg::SetPageFrame(QWidget* pPageArea, QWidget* pLabelFrame, QWidget* pApplyButton)
{
    m_pPageArea = pPageArea;
    m_pLabelFrame = pLabelFrame;
    m_pApplyButton = pApplyButton;
    if (m_pPageArea)
        m_pPageArea->installEventFilter(this);
}

void CPropertyTreeDlg::CreatePage(CPropertyTreePage* pPage)
{
    if (pPage->IsCreated())
        return;
    if (m_pPageArea) {
        pPage->setParent(m_pPageArea);
        // The area is as large as the largest page, so switching pages never resizes the window.
        m_pPageArea->setMinimumSize(
            m_pPageArea->minimumSize().expandedTo(pPage->sizeHint()).expandedTo(pPage->minimumSize()));
    }
    pPage->Create();
    pPage->hide();
}

void CPropertyTreeDlg::CreatePages(CPropertyTreeInfo* pParent)
{
    if (!pParent)
        return;
    for (const auto& pChild : pParent->m_arrChildren) {
        if (pChild->m_nTemplateId == 0)
            continue;
        if (CPropertyTreePage* pPage = Page(pChild->m_nTemplateId))
            CreatePage(pPage);
    }
}

void CPropertyTreeDlg::ShowPage(unsigned nTemplateId)
{
    if (nTemplateId == 0)
        return;
    for (const auto& [nId, pPage] : m_mapPages) {
        if (pPage->IsCreated())
            pPage->hide();
    }
    CPropertyTreePage* pPage = Page(nTemplateId);
    if (!pPage)
        return;
    CreatePage(pPage);
    PlacePage(pPage);
    // The page's controls are children of this window, so Tab runs from the window's controls
    // through the page on show and back; hidden pages are skipped.
    pPage->show();
    pPage->raise();
    m_nCurPageId = nTemplateId;
}

void CPropertyTreeDlg::PlacePage(CPropertyTreePage* pPage)
{
    if (!m_pPageArea)
        return;
    // The page fills the area's height from the top of the label frame down, and ends two pixels
    // inside the Apply button's right edge; the form's layout keeps the area where that fits.
    QRect area = m_pPageArea->rect();
    if (m_pLabelFrame && m_pApplyButton) {
        const int nTop = m_pPageArea->mapFrom(this, m_pLabelFrame->mapTo(this, QPoint(0, 0))).y();
        const QPoint applyRight = m_pApplyButton->mapTo(this, QPoint(m_pApplyButton->width(), 0));
        const int nRight = m_pPageArea->mapFrom(this, applyRight).x() - 2;
        area.setTop(std::max(0, nTop));
        area.setRight(std::min(area.right(), nRight - 1));
    }
    pPage->setGeometry(area);
}

void CPropertyTreeDlg::ApplyAllPages()
{
    for (const auto& [nId, pPage] : m_mapPages) {
        if (pPage->IsCreated())
            pPage->OnApplyPage();
    }
}

void CPropertyTreeDlg::OnOK()
{
    for (const auto& [nId, pPage] : m_mapPages) {
        if (pPage->IsCreated() && !pPage->CanApplyPage())
            return;
    }
    ApplyAllPages();
    QDialog::accept();
}

void CPropertyTreeDlg::OnCancel()
{
    for (const auto& [nId, pPage] : m_mapPages) {
        if (pPage->IsCreated())
            pPage->OnCancelPage();
    }
    QDialog::reject();
}

void CPropertyTreeDlg::DestroyPages()
{
    if (m_pRootInfo)
        m_pRootInfo->DeleteChildren();
}

bool CPropertyTreeDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched == m_pPageArea && pEvent->type() == QEvent::Resize) {
        if (CPropertyTreePage* pPage = Page(m_nCurPageId))
            PlacePage(pPage);
    }
    return QDialog::eventFilter(pWatched, pEvent);
}
