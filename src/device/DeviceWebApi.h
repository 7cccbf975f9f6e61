#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QString>
#include <QStringList>

#include "device/DevicePower.h"
#include "platform/Clock.h"

class CDeviceInfo;

// The player's JSON web API under the base URL its description announces: "/system" answers
// getPowerStatus and setPowerStatus, "/avContent" answers getSupportedFileType. Answers are not
// parsed as JSON: the program looks for fixed quoted tokens and brackets in them, so any answer,
// even a broken one, gives a defined result.

// The three request bodies, sent byte for byte.
inline constexpr const char* kPowerQueryBody = R"({"method":"getPowerStatus","params":[],"version":"1.1","id":1})";
inline constexpr const char* kWakeRequestBody =
    R"({"method":"setPowerStatus","params":[{"status":"standby","standbyDetail":"databaseReady"}],"version":"1.1","id":1})";
inline constexpr const char* kFileTypeQueryBody =
    R"({"method":"getSupportedFileType","params":[],"version":"1.0","id":11})";

// Posts the body to the URL and returns the answer as text (locale character set); a failed
// request gives empty content. Logs the content.
void ExecuteRequest(QString& sContent, const QString& sUrl, const std::string& strBody);
// getPowerStatus on base URL + "/system".
void GetPowerStateFromBaseUrl(const QString& sBaseUrl, QString& sContent);
// getSupportedFileType on base URL + "/avContent".
void GetCapabilityFromBaseUrl(const QString& sBaseUrl, QString& sContent);

// The power state an answer describes: "active" wins over "standby"; for a standby the detail
// is "databaseReady", else "networkReady", else other. *peDetail is written only for a standby.
EDevicePowerState ClassifyPowerAnswer(const QString& sContent, EStandbyDetail* peDetail);
// Asks the player and classifies its answer; no answer is POWER_OTHER.
EDevicePowerState GetPowerState(const QString& sBaseUrl, EStandbyDetail* peDetail);
// Asks the player to go to the standby in which its database is usable; the answer is dropped.
void SetPowerStateToDatabase(const QString& sBaseUrl);

// The extensions in a getSupportedFileType answer: the text from its last '[' to its first ']'
// is read as a list of "*.ext" strings; each entry runs from its '*' to the character before the
// next ',' or ']', and loses its first two characters. False (and *pTypes untouched) when the
// answer has no such bracket pair.
bool ParseSupportedFileTypes(const QString& sContent, QStringList* pTypes);
// Fetches the file types (up to three tries while the answer is empty) and updates the list:
// an answer without brackets leaves it as it is; no answer at all empties it.
void UpdateSupportedFileTypes(const QString& sBaseUrl, QStringList* pTypes);
// The same for a device record (its base URL and its extension list).
void UpdateSupportedFileTypes(CDeviceInfo& device);

// One power check, run on the power thread: asks the player's power state; a player in network
// standby is woken when waking is allowed, given "PowerRebootWaitingTimeSecond" seconds (polling
// the transfer's stop flag every second) and asked again. Reports the verdict once through
// request.pListener. A set eShutdown ends the wait at once and skips the second question (the
// program is ending; the verdict is then "not ready").
void PowerCheckProc(const SPowerCheckRequest& request, CEvent& eShutdown);
// The same check without the report: true when the player is ready.
bool CheckPowerReady(const SPowerCheckRequest& request, CEvent& eShutdown);

// The program's IDevicePower: power threads (at most one per device) and the direct queries.
class CDeviceWebApi : public IDevicePower
{
public:
    CDeviceWebApi() = default;
    // Ends the wake-up waits at once and joins every power thread; a thread still inside an HTTP
    // request finishes that request (at most its time limits) first.
    ~CDeviceWebApi() override;
    CDeviceWebApi(const CDeviceWebApi&) = delete;
    CDeviceWebApi& operator=(const CDeviceWebApi&) = delete;

    // A check counts as running until it reports: one asked for meanwhile is served by its
    // report (with a second question, waking allowed, when only the new request allows the
    // wake-up and the player was not ready). A check asked for from the report's handler, or
    // later, is a new one.
    bool StartPowerCheck(const SPowerCheckRequest& request) override;
    EDevicePowerState GetPowerState(const QString& sBaseUrl, EStandbyDetail* peDetail) override;
    void SetPowerStateToDatabase(const QString& sBaseUrl) override;

    // True while a power thread runs for the device.
    bool IsPowerCheckRunning(const QString& sUuid) const;

private:
    // Guarded by m_mutex, apart from the thread object (only StartPowerCheck and the destructor
    // touch it) and the returned flag.
    struct SPowerThread
    {
        std::thread thread;
        // The check has not reported yet; cleared just before the report.
        bool bRunning = false;
        // The running check may wake the player.
        bool bAllowWakeUp = false;
        // A request that allows the wake-up joined a check that does not.
        bool bWakeAsked = false;
        // Set as the thread's last step.
        std::shared_ptr<std::atomic<bool>> pReturned;
    };
    // A thread that reported and was replaced by a newer check of its device.
    struct SEndedThread
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> pReturned;
    };
    void JoinReturnedThreadsLocked();

    mutable std::mutex m_mutex; // guards the members below
    std::map<QString, std::unique_ptr<SPowerThread>> m_threads;
    std::vector<SEndedThread> m_ended;
    bool m_bShuttingDown = false;
    CEvent m_eShutdown{true, false};
};
