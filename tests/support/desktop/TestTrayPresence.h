#pragma once

#include <vector>

#include "desktop/ITrayPresence.h"

// The tray host for tests of the windows: callers wait until the test says whether a tray
// exists (Resolve), as they would wait for the desktop's panel at logon.
class CTestTrayPresence final : public ITrayPresence
{
public:
    void WhenAvailable(Callback fn, int nTimeoutMs) override;
    // Answers every waiting caller; returns how many.
    int Resolve(bool bAvailable);
    int PendingCount() const { return static_cast<int>(m_pending.size()); }
    int LastTimeoutMs() const { return m_nLastTimeoutMs; }

private:
    std::vector<Callback> m_pending;
    int m_nLastTimeoutMs = 0;
};
