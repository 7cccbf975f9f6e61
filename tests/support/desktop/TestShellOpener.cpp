#include "support/desktop/TestShellOpener.h"

#include <QTimer>

void CTestShellOpener::Open(const QString& sUrl, Done done)
{
    m_opened.push_back(sUrl);
    const bool bOpened = NextResult();
    if (m_bAutoComplete) {
        QTimer::singleShot(0, [done = std::move(done), bOpened] {
            if (done)
                done(bOpened);
        });
        return;
    }
    m_pending.emplace_back(std::move(done), bOpened);
}

int CTestShellOpener::CompletePending()
{
    int nCount = 0;
    while (!m_pending.empty()) {
        auto [done, bOpened] = std::move(m_pending.front());
        m_pending.pop_front();
        if (done)
            done(bOpened);
        ++nCount;
    }
    return nCount;
}

bool CTestShellOpener::NextResult()
{
    if (m_queued.empty())
        return m_bResult;
    const bool bResult = m_queued.front();
    m_queued.pop_front();
    return bResult;
}
