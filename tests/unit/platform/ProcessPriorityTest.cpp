#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "platform/ProcessPriority.h"
#include "platform/SystemInfo.h"

namespace {

int NiceOf(pid_t nTid)
{
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(nTid));
}

// A worker thread that waits until the test lets it end, and tells its thread id.
class CWorker
{
public:
    CWorker()
        : m_thread([this] {
              std::unique_lock lock(m_mutex);
              m_nTid = static_cast<pid_t>(::syscall(SYS_gettid));
              m_changed.notify_all();
              m_changed.wait(lock, [this] { return m_bEnd; });
          })
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_nTid != 0; });
    }
    ~CWorker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_bEnd = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    pid_t Tid() const { return m_nTid; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    pid_t m_nTid = 0;
    bool m_bEnd = false;
    std::thread m_thread; // last: starts when the rest is ready
};

// An account that may not go below its start-up value (no RLIMIT_NICE, no CAP_SYS_NICE).
class CUnprivilegedPriority final : public CProcessPriority
{
protected:
    int LowestNiceAllowed() const override { return StartNice(); }
};

} // namespace

// The level reaches every worker thread, not only the thread that sets it, and the user-interface
// thread keeps its value.
TEST(ProcessPriority, TheLevelIsSetOnEveryWorkerThreadAndNotOnTheInterfaceThread)
{
    const pid_t nUi = static_cast<pid_t>(::syscall(SYS_gettid));
    const int nStart = NiceOf(nUi);
    if (nStart > 9)
        GTEST_SKIP() << "this process already runs at nice " << nStart;
    CProcessPriority::Instance(); // made here: this thread is the interface thread
    CWorker worker;
    EXPECT_TRUE(SetProcessPriorityLevel(PRIORITY_LOW));
    EXPECT_EQ(NiceOf(worker.Tid()), nStart + 10);
    EXPECT_EQ(NiceOf(nUi), nStart) << "the interface thread is left alone";
    // A worker started later (from the interface thread, which kept the start-up value) takes
    // the level as it starts.
    int nLater = 0;
    std::thread([&] {
        CProcessPriority::ApplyToNewThread();
        nLater = NiceOf(static_cast<pid_t>(::syscall(SYS_gettid)));
    }).join();
    EXPECT_EQ(nLater, nStart + 10);
    // Back to Mid: where the account may lower the value again, the worker follows.
    EXPECT_TRUE(SetProcessPriorityLevel(PRIORITY_MID));
    if (::geteuid() == 0)
        EXPECT_EQ(NiceOf(worker.Tid()), nStart);
}

TEST(ProcessPriority, HighWithoutTheRightsForItIsMid)
{
    CUnprivilegedPriority priority;
    EXPECT_EQ(priority.Apply(PRIORITY_HIGH), PRIORITY_MID);
    EXPECT_EQ(priority.Apply(7), PRIORITY_MID) << "any other value counts as Mid";
    EXPECT_EQ(priority.Apply(PRIORITY_LOW), PRIORITY_LOW);
    EXPECT_EQ(priority.NiceOf(PRIORITY_HIGH), std::max(priority.StartNice() - 5, -20));
    EXPECT_EQ(priority.NiceOf(PRIORITY_LOW), std::min(priority.StartNice() + 10, 19));
    priority.Apply(PRIORITY_MID);
}
