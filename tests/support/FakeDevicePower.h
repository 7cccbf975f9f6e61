#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "device/DevicePower.h"

// A player's power for tests: records every power-check request and, when told to answer,
// reports a fixed verdict from a thread of its own, as the real power thread does. With
// answering off the test drives OnPowerStateResult itself. The direct queries answer with a
// fixed state; a wake request makes the player database-ready.
class CFakeDevicePower final : public IDevicePower
{
public:
    explicit CFakeDevicePower(bool bAnswer = true, bool bReady = true) : m_bAnswer(bAnswer), m_bReady(bReady) {}
    ~CFakeDevicePower() override
    {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(m_mutex);
            threads.swap(m_threads);
        }
        for (std::thread& thread : threads)
            thread.join();
    }

    bool StartPowerCheck(const SPowerCheckRequest& request) override
    {
        if (m_onStart)
            m_onStart();
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        m_cv.notify_all();
        if (m_bAnswer.load()) {
            const bool bReady = m_bReady.load();
            m_threads.emplace_back([request, bReady] { request.pListener->OnPowerStateResult(bReady); });
        }
        return true;
    }

    EDevicePowerState GetPowerState(const QString&, EStandbyDetail* peDetail) override
    {
        ++m_nStateQueries;
        std::lock_guard lock(m_mutex);
        if (m_eState == POWER_STANDBY && peDetail)
            *peDetail = m_eDetail;
        return m_eState;
    }

    void SetPowerStateToDatabase(const QString&) override
    {
        ++m_nWakeRequests;
        std::lock_guard lock(m_mutex);
        if (m_eState == POWER_STANDBY && m_bWakeWorks)
            m_eDetail = STANDBY_DATABASE_READY;
    }

    void SetState(EDevicePowerState eState, EStandbyDetail eDetail, bool bWakeWorks = true)
    {
        std::lock_guard lock(m_mutex);
        m_eState = eState;
        m_eDetail = eDetail;
        m_bWakeWorks = bWakeWorks;
    }
    // Runs at the start of every StartPowerCheck, on the caller's thread (the scan thread).
    void SetOnStart(std::function<void()> fn) { m_onStart = std::move(fn); }
    void SetAnswer(bool bAnswer, bool bReady)
    {
        m_bAnswer.store(bAnswer);
        m_bReady.store(bReady);
    }

    // Waits (real time) until at least nCount requests arrived.
    bool WaitForRequests(std::size_t nCount, int nRealTimeoutMs = 10000)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nRealTimeoutMs),
                             [&] { return m_requests.size() >= nCount; });
    }
    std::vector<SPowerCheckRequest> Requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    std::atomic<int> m_nStateQueries{0};
    std::atomic<int> m_nWakeRequests{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<SPowerCheckRequest> m_requests;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_bAnswer;
    std::atomic<bool> m_bReady;
    EDevicePowerState m_eState = POWER_ACTIVE;
    EStandbyDetail m_eDetail = STANDBY_OTHER;
    bool m_bWakeWorks = true;
    std::function<void()> m_onStart;
};
