#pragma once

#include <memory>
#include <vector>

#include <QString>

// The registration record of one settings page: its template id (the page's number, 109, 110 or
// 111; 0 for the root), its caption and its child records. The settings window keeps one root
// whose children are its pages; the tree may be deeper, the look-ups accept that.
class CPropertyTreeInfo
{
public:
    CPropertyTreeInfo(unsigned nTemplateId = 0, QString sCaption = QString())
        : m_nTemplateId(nTemplateId), m_strCaption(std::move(sCaption))
    {}
    virtual ~CPropertyTreeInfo() { DeleteChildren(); }
    CPropertyTreeInfo(const CPropertyTreeInfo&) = delete;
    CPropertyTreeInfo& operator=(const CPropertyTreeInfo&) = delete;

    // Deletes the children depth first, then empties the list.
    void DeleteChildren()
    {
        for (auto& pChild : m_arrChildren)
            pChild->DeleteChildren();
        m_arrChildren.clear();
    }

    std::vector<std::unique_ptr<CPropertyTreeInfo>> m_arrChildren;
    bool m_bSelected = false;
    unsigned m_nTemplateId = 0;
    QString m_strCaption;
};
