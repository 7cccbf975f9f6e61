#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <QString>

#include "foundation/MessageIds.h"
#include "platform/WindowMessages.h"
#include "sync/ErrorCode.h"

// The main window of the sync tests: a message receiver served by the test's thread. It records
// the outcome of each run (WM_TRANSFER_FINISHED) and the device messages. Construct it on the
// test thread: that thread becomes the window's, so a send from it is a direct call.
class CTestMainWindow
{
public:
    CTestMainWindow() : m_receiver([this](CWindowMessage& msg) { return Handle(msg); })
    {
        m_receiver.ProcessPending(0);
    }

    IMessageReceiver& Receiver() { return m_receiver; }

    // Serves messages until a new outcome arrived, at most nRealTimeoutMs of real time.
    std::optional<eErrorCode> WaitForOutcome(int nRealTimeoutMs = 30000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nRealTimeoutMs);
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_nTaken < m_outcomes.size())
                    return m_outcomes[m_nTaken++];
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            m_receiver.ProcessPending(20);
        }
    }
    // Serves what is queued now (posted device messages).
    void ProcessPending() { m_receiver.ProcessPending(0); }

    std::vector<eErrorCode> Outcomes()
    {
        std::lock_guard lock(m_mutex);
        return m_outcomes;
    }
    std::vector<QString> RemovedDevices()
    {
        std::lock_guard lock(m_mutex);
        return m_removed;
    }
    int ManualAddFinishedCount()
    {
        std::lock_guard lock(m_mutex);
        return m_nManualAddFinished;
    }
    // Runs inside the outcome's handler, while the reporting worker waits.
    void SetOnOutcome(std::function<void(eErrorCode)> fn) { m_onOutcome = std::move(fn); }
    // Stops taking messages; a worker waiting in its send returns.
    void Quit() { m_receiver.Quit(); }

private:
    std::intptr_t Handle(CWindowMessage& msg)
    {
        if (msg.nMessage == WM_TRANSFER_FINISHED) {
            {
                std::lock_guard lock(m_mutex);
                m_outcomes.push_back(static_cast<eErrorCode>(msg.lParam));
            }
            // Outside the lock: the handler may start the next run, which may report at once.
            if (m_onOutcome)
                m_onOutcome(static_cast<eErrorCode>(msg.lParam));
            return 0;
        }
        std::lock_guard lock(m_mutex);
        switch (msg.nMessage) {
        case WM_DEVICE_REMOVED:
            if (const QString* psUuid = msg.Payload<QString>())
                m_removed.push_back(*psUuid);
            break;
        case WM_MANUAL_ADD_FINISHED: ++m_nManualAddFinished; break;
        default: break;
        }
        return 0;
    }

    std::mutex m_mutex;
    std::vector<eErrorCode> m_outcomes;
    std::size_t m_nTaken = 0;
    std::vector<QString> m_removed;
    int m_nManualAddFinished = 0;
    std::function<void(eErrorCode)> m_onOutcome;
    CQueuedMessageReceiver m_receiver; // last: destroyed (and quit) first
};
