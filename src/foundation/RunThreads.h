#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ProcessPriority.h"

// The threads of one kind of run (scans, transfers), one started per run. A run's thread reports
// its outcome and may then wait in that report for the main window, which may start the next run
// from its handler: so a thread is never joined by the start that replaces it, only once it has
// exited (at a later start) or by JoinAll. The lock guards only the list; no join ever happens
// under it, so a thread being joined can still start the next run.
class CRunThreads
{
public:
    CRunThreads() = default;
    // Joins every thread (see JoinAll).
    ~CRunThreads() { JoinAll(); }
    CRunThreads(const CRunThreads&) = delete;
    CRunThreads& operator=(const CRunThreads&) = delete;

    // Starts the body on a new thread. Threads of earlier runs that have exited are joined; the
    // others are kept until they have.
    void Start(std::function<void()> body)
    {
        std::vector<SThread> exited;
        {
            std::lock_guard lock(m_mutex);
            for (auto it = m_threads.begin(); it != m_threads.end();) {
                if (it->pExited->load()) {
                    exited.push_back(std::move(*it));
                    it = m_threads.erase(it);
                } else {
                    ++it;
                }
            }
            auto pExited = std::make_shared<std::atomic<bool>>(false);
            m_threads.push_back({std::thread([body = std::move(body), pExited] {
                                     CProcessPriority::ApplyToNewThread(); // the level set for the work
                                     body();
                                     pExited->store(true); // the last act: a join returns at once
                                 }),
                                 pExited});
        }
        for (SThread& thread : exited)
            thread.thread.join();
    }

    // Waits until every thread started so far has ended, including threads started meanwhile
    // (from a report's handler). Blocks until each run's report has been handled: never call it
    // from one of these threads, nor from a thread their reports wait for.
    void JoinAll()
    {
        for (;;) {
            std::vector<SThread> threads;
            {
                std::lock_guard lock(m_mutex);
                threads.swap(m_threads);
            }
            if (threads.empty())
                return;
            for (SThread& thread : threads)
                thread.thread.join();
        }
    }

private:
    struct SThread
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> pExited;
    };

    std::mutex m_mutex; // guards m_threads
    std::vector<SThread> m_threads;
};
