#pragma once

#include <cstdint>

#include "desktop/IInputActivityMonitor.h"

// The user's input for tests of the windows: nothing happens by itself. The test says when the
// idle period has run out (Idle) and when the user touched something (Input); both reach the
// handlers only while armed, as with the real monitor.
class CTestActivityMonitor final : public IInputActivityMonitor
{
public:
    void SetHandlers(IdleHandler onIdle, ActivityHandler onActivity) override;
    void Arm(std::int64_t nIdleMs) override;
    void Disarm() override { m_bArmed = false; }
    bool IsArmed() const override { return m_bArmed; }
    const char* BackendName() const override { return "test"; }

    // The idle period ran out; false when not armed (nothing reported).
    bool Idle();
    // The user made input of this kind; false when not armed.
    bool Input(EInputKind eKind);

    std::int64_t IdleMs() const { return m_nIdleMs; }
    int ArmCount() const { return m_nArmCount; }

private:
    IdleHandler m_onIdle;
    ActivityHandler m_onActivity;
    bool m_bArmed = false;
    std::int64_t m_nIdleMs = 0;
    int m_nArmCount = 0;
};
