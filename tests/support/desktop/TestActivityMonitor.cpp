#include "support/desktop/TestActivityMonitor.h"

void CTestActivityMonitor::SetHandlers(IdleHandler onIdle, ActivityHandler onActivity)
{
    m_onIdle = std::move(onIdle);
    m_onActivity = std::move(onActivity);
}

void CTestActivityMonitor::Arm(std::int64_t nIdleMs)
{
    m_bArmed = true;
    m_nIdleMs = nIdleMs;
    ++m_nArmCount;
}

bool CTestActivityMonitor::Idle()
{
    if (!m_bArmed)
        return false;
    if (m_onIdle)
        m_onIdle();
    return true;
}

bool CTestActivityMonitor::Input(EInputKind eKind)
{
    if (!m_bArmed)
        return false;
    if (m_onActivity)
        m_onActivity(eKind);
    return true;
}
