#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QTimer>

#include "PlayerState.h"

// The player's JSON web API: "/system" with getPowerStatus and setPowerStatus, "/avContent"
// with getSupportedFileType. Bodies are JSON-RPC objects {"method", "params", "version", "id"};
// answers carry "result" (or "error") and the request's id. The power state machine lives
// here: setPowerStatus schedules the requested state, which takes effect after the wake delay.
class CPlayerWebApi
{
public:
    explicit CPlayerWebApi(SPlayerState& state);

    // Answer for a POST body at an endpoint ("/system" or "/avContent").
    QByteArray Handle(const QByteArray& endpoint, const QByteArray& body);

    // Sets the state at once and drops a pending change (the control channel's power commands).
    void SetPowerState(EPowerState e);
    bool ChangePending() const { return m_timer.isActive(); }

private:
    QJsonObject PowerStatus() const;

    SPlayerState& m_state;
    QTimer m_timer;
    EPowerState m_ePending = POWER_STATE_ACTIVE;
};
