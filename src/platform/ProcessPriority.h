#pragma once

#include <atomic>

#include <sys/types.h>

// The priority of the program's work (Transfer Settings: Low, Mid, High). On this platform the
// nice value belongs to each thread, and an account without rights may raise it but not lower it
// again (below RLIMIT_NICE). So the level is set on every worker thread of the process, the
// user-interface thread (the one that made the object) is left alone, and threads started later
// take the level when they start (ApplyToThisThread).
//
// Low = the start-up nice value + 10, Mid = the start-up value, High = start-up - 5 where the
// account may go there, else Mid (with a log line).
enum EPriorityLevel
{
    PRIORITY_LOW = 0,
    PRIORITY_MID = 1,
    PRIORITY_HIGH = 2,
};

class IProcessPriority
{
public:
    virtual ~IProcessPriority() = default;
    // Sets the level on the worker threads; returns the level in force from now on (Mid in
    // place of a High the account may not have). Any other value counts as Mid.
    virtual int Apply(int nLevel) = 0;
};

class CProcessPriority : public IProcessPriority
{
public:
    // Remembers the calling thread as the user-interface thread and its nice value as Mid.
    CProcessPriority();

    int Apply(int nLevel) override;
    // The level in force, for a thread that starts now (a worker calls it first).
    void ApplyToThisThread() const;

    int StartNice() const { return m_nStartNice; }
    // The nice value a level stands for (before the check of what the account may do).
    int NiceOf(int nLevel) const;

    // The one instance of the program (made on first use, by the thread that is to be the
    // user-interface thread).
    static CProcessPriority& Instance();
    // For a worker thread that starts: takes the level of the instance, once there is one.
    static void ApplyToNewThread();

protected:
    // The lowest nice value this account may set: 20 - RLIMIT_NICE, -20 with CAP_SYS_NICE.
    virtual int LowestNiceAllowed() const;

private:
    // Sets the nice value of one thread; false when the account may not.
    static bool SetThreadNice(pid_t nTid, int nNice);

    pid_t m_nUiThread;
    int m_nStartNice;
    std::atomic<int> m_nLevel{PRIORITY_MID};
};
