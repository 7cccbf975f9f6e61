#pragma once

#include <map>
#include <memory>

#include <QDialog>

#include "pages/PropertyTreeInfo.h"
#include "pages/PropertyTreePage.h"

// A settings window: a column of page labels beside an area that shows one page at a time. It
// keeps the registered pages (by template id, in ascending order), creates their controls and
// switches between them. The page objects belong to the derived window; this class only points
// at them.
class CPropertyTreeDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CPropertyTreeDlg(QWidget* pParent = nullptr);
    ~CPropertyTreeDlg() override;

    // Registers pPage under nTemplateId as a new child of pParent with the caption string
    // nCaptionId; returns pParent's new child count, or -1 (nothing registered) when pParent or
    // pPage is null.
    int AddPage(unsigned nCaptionId, CPropertyTreeInfo* pParent, CPropertyTreePage* pPage, unsigned nTemplateId);
    // pInfo when its template id matches (or pInfo is null), else the first match among its
    // children, depth first; null when there is none.
    static CPropertyTreeInfo* FindPageInfo(CPropertyTreeInfo* pInfo, unsigned nTemplateId);
    // Creates the controls of pParent's direct children that have a page, and keeps them hidden.
    void CreatePages(CPropertyTreeInfo* pParent);
    // Shows one page (0: nothing happens; an unregistered id hides every page and keeps the
    // current id), in the page area: its top on the top of the label frame, its right edge two
    // pixels inside the Apply button's right edge.
    void ShowPage(unsigned nTemplateId);
    // OnApplyPage of every created page.
    virtual void ApplyAllPages();

    unsigned CurrentPageId() const { return m_nCurPageId; }
    CPropertyTreeInfo* RootInfo() const { return m_pRootInfo.get(); }
    CPropertyTreePage* Page(unsigned nTemplateId) const;
    const std::map<unsigned, CPropertyTreePage*>& Pages() const { return m_mapPages; }

protected:
    // The derived window's form: the area pages are shown in, the frame around the page labels
    // (its top is the pages' top) and the Apply button (its right edge bounds the pages).
    void SetPageFrame(QWidget* pPageArea, QWidget* pLabelFrame, QWidget* pApplyButton);
    // The default OK and Cancel: every page may apply, then all apply and the dialog ends; Cancel
    // tells every page, then ends. The main window replaces both with its own protocol.
    virtual void OnOK();
    virtual void OnCancel();
    // Forgets the pages' records (the window's end).
    void DestroyPages();

    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

    unsigned m_nCurPageId = 0;
    std::unique_ptr<CPropertyTreeInfo> m_pRootInfo;
    std::map<unsigned, CPropertyTreePage*> m_mapPages;

private:
    void CreatePage(CPropertyTreePage* pPage);
    void PlacePage(CPropertyTreePage* pPage);

    QWidget* m_pPageArea = nullptr;
    QWidget* m_pLabelFrame = nullptr;
    QWidget* m_pApplyButton = nullptr;
};
