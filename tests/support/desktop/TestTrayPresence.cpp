#include "support/desktop/TestTrayPresence.h"

void CTestTrayPresence::WhenAvailable(Callback fn, int nTimeoutMs)
{
    m_pending.push_back(std::move(fn));
    m_nLastTimeoutMs = nTimeoutMs;
}

int CTestTrayPresence::Resolve(bool bAvailable)
{
    std::vector<Callback> answered;
    answered.swap(m_pending); // a callback may wait again
    for (const Callback& fn : answered) {
        if (fn)
            fn(bAvailable);
    }
    return static_cast<int>(answered.size());
}
