#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QString>

#include "device/DeviceInfo.h"
#include "platform/WindowMessages.h"
#include "sync/CommonManager.h"
#include "sync/ErrorCode.h"

// The core as one `tolva` command drives it: a common manager with its device search running,
// and the command's thread as its main window. Device reports and outcomes arrive as messages
// and are handled whenever the command serves them (Serve*), so the command sees them in order
// on its own thread, as the desktop program's window does.
class CPlayerSession final : private IDeviceEventReceiver
{
public:
    CPlayerSession();
    // Stops taking messages first (a worker waiting in its send returns), then ends every thread.
    ~CPlayerSession() override;
    CPlayerSession(const CPlayerSession&) = delete;
    CPlayerSession& operator=(const CPlayerSession&) = delete;

    // Starts the search: its first pass begins at once.
    bool StartSearch();
    CCommonManager& Manager() { return *m_pManager; }

    // Handles the messages that arrive within nMs (real time; the command's own time limits).
    void Serve(std::int64_t nMs);
    // Serves messages until done() is true (checked after every message and every 100 ms), the
    // time limit passes or stop() is true; returns done().
    bool ServeUntil(const std::function<bool()>& done, std::int64_t nTimeoutMs, const std::function<bool()>& stop = {});

    // Search passes completed since the start.
    int CompletedPasses() const { return m_nPasses.load(); }
    // Every player in the device table now, in key order.
    std::vector<SDeviceSnapshot> Players();
    // A player in the table by UUID, or by IP address when the text is an address.
    std::optional<SDeviceSnapshot> FindPlayer(const QString& sUuidOrIp);

    // Looks for a player at an address (the manual add); the answer is one of the two below.
    void AddByAddress(const QString& sIp);
    bool ManualAddEnded() const { return m_bManualAddEnded.load(); }
    bool ManualAddFoundNothing() const { return m_bManualAddFoundNothing.load(); }
    // What the address did when the manual add found nothing, in words for the user (empty when
    // nothing answered there at all). For sIp, the address asked.
    QString ManualAddProblemText(const QString& sIp) const;

    // Seconds a power check waits for the player it asked to wake up, once per wake request
    // (WM_POWER_WAKE_WAIT); nothing when none is pending.
    std::optional<unsigned> TakeWakeWait();

    // Waits until the player (UUID or IP) is in the table, at most nTimeoutMs. When a pass ended
    // without it, the address sAddress (if any) is asked directly once, so a player that does not
    // answer searches is still found.
    std::optional<SDeviceSnapshot> WaitForPlayer(const QString& sUuidOrIp, const QString& sAddress,
                                                 std::int64_t nTimeoutMs, const std::function<bool()>& stop = {});

    // The outcomes of runs (WM_TRANSFER_FINISHED), oldest first, taken once each.
    std::optional<eErrorCode> TakeOutcome();
    // WM_DEVICE_REMOVED arrived for this UUID.
    bool WasRemoved(const QString& sUuid);

private:
    std::intptr_t Handle(CWindowMessage& msg);
    // IDeviceEventReceiver, on the search thread.
    void UpdateDeviceInfo(const SDeviceChange& change) override { (void)change; }
    void SelectDeviceManual(const QString& sUuid, const QString& sIp) override;

    std::mutex m_mutex; // guards the two members below
    std::vector<eErrorCode> m_outcomes;
    std::vector<QString> m_removed;
    std::atomic<int> m_nPasses{0};
    std::atomic<bool> m_bManualAddEnded{false};
    std::atomic<bool> m_bManualAddFoundNothing{false};
    std::atomic<int> m_nManualAddProblem{MANUAL_ADD_NO_ANSWER};
    std::atomic<long> m_nManualAddHttpStatus{0};
    std::atomic<int> m_nWakeWaitSeconds{-1};

    CQueuedMessageReceiver m_window;
    std::unique_ptr<CCommonManager> m_pManager;
};

class ICliIo;
// After "not found": what the player at the address did when it was asked directly, if it
// answered at all (HTTP error, no XML, no UUID), as one more line on standard error.
void TellManualAddProblem(ICliIo& io, const CPlayerSession& session, const QString& sIp);

// The player's power state in words: "on", "standby (database ready)", "standby (network
// ready)", "standby", "unknown (no answer)", or unknown because the answer could not be read.
QString PowerStateText(const SDeviceSnapshot& player);

// The selection steps of the desktop program for a player: "CurrentDevId"/"CurrentDevIP" are
// written, its reported file types are merged into its type list (known types keep their tick,
// new ones are added ticked), and a player without a folder list gets the user's music folder,
// ticked, when that folder exists. False when a file could not be written.
bool CommitPlayerSelection(const SDeviceSnapshot& player);
// Only the type merge of the above (for a player found again before a transfer).
bool MergePlayerTypes(const SDeviceSnapshot& player);
// True when the player's UUID makes a usable name for its data folder (the system's limit on a
// file name); a player with a longer one cannot keep lists or a history.
bool HasUsableFolderName(const SDeviceSnapshot& player);
