#pragma once

#include <QString>

// The player's power state as its web API reports it.
enum EDevicePowerState : unsigned
{
    POWER_ACTIVE = 0,  // on
    POWER_STANDBY = 1, // in standby; the standby detail says which
    POWER_OTHER = 2,   // no answer, an error answer, or another state
};

enum EStandbyDetail : unsigned
{
    STANDBY_DATABASE_READY = 0, // the database is usable: counts as ready
    STANDBY_NETWORK_READY = 1,  // only the network is up: the player can be woken
    STANDBY_OTHER = 2,
};

// Ready for a transfer or for opening the share: on, or in the standby whose database is usable.
constexpr bool IsPowerReady(EDevicePowerState eState, EStandbyDetail eDetail)
{
    return eState == POWER_ACTIVE || (eState == POWER_STANDBY && eDetail == STANDBY_DATABASE_READY);
}

// What a power check reports to and asks of the one that started it (the common manager).
class IPowerCheckListener
{
public:
    virtual ~IPowerCheckListener() = default;
    // The verdict, on the power thread: true when the player is ready (see IsPowerReady).
    virtual void OnPowerStateResult(bool bPowerOk) = 0;
    // The power thread woke the player from network standby during this run, so the transfer
    // waits for the player's share first.
    virtual void OnDeviceWoken() = 0;
    // The transfer's stop flag: the wait after a wake request ends early once it is set.
    virtual bool IsTransferStopRequested() const = 0;
    // The player was asked to wake up; the check now waits up to nSeconds for it (so that a
    // user is told what the program waits for).
    virtual void OnWakeWaitStarted(unsigned nSeconds) { (void)nSeconds; }
};

// One power check: copies of what the power thread needs, so that it never holds a device
// record, which the offline check may erase meanwhile.
struct SPowerCheckRequest
{
    QString sUuid;
    QString sBaseUrl;
    bool bAllowWakeUp = false;
    IPowerCheckListener* pListener = nullptr;
};

// The player's power through its web API: the power thread of a transfer, and the direct
// queries the share opening uses. The common manager owns one; tests give it a double.
class IDevicePower
{
public:
    // Ends and joins every power thread still running.
    virtual ~IDevicePower() = default;
    // Starts the power thread for the device unless one already runs for that UDN (at most one
    // per device); false when none was started. The thread reports exactly once through
    // request.pListener->OnPowerStateResult and then ends.
    virtual bool StartPowerCheck(const SPowerCheckRequest& request) = 0;
    // getPowerStatus; *peDetail is written only for POWER_STANDBY. Blocks for the request.
    virtual EDevicePowerState GetPowerState(const QString& sBaseUrl, EStandbyDetail* peDetail) = 0;
    // setPowerStatus to standby with the database ready; the answer is not examined.
    virtual void SetPowerStateToDatabase(const QString& sBaseUrl) = 0;
};
