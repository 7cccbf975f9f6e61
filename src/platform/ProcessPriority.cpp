#include "platform/ProcessPriority.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QString>

#include "platform/Diagnostics.h"

namespace {
constexpr int kLowStep = 10;
constexpr int kHighStep = 5;
constexpr int kNiceMin = -20;
constexpr int kNiceMax = 19;

pid_t ThisThreadId()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

int NiceOfThread(pid_t nTid)
{
    errno = 0;
    const int n = ::getpriority(PRIO_PROCESS, static_cast<id_t>(nTid));
    return errno == 0 ? n : 0;
}

bool HasSysNice()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))) != 0;
}
} // namespace

CProcessPriority::CProcessPriority() : m_nUiThread(ThisThreadId()), m_nStartNice(NiceOfThread(m_nUiThread))
{}

namespace {
std::atomic<CProcessPriority*> g_pInstance{nullptr};
} // namespace

CProcessPriority& CProcessPriority::Instance()
{
    static CProcessPriority s_priority;
    g_pInstance.store(&s_priority);
    return s_priority;
}

void CProcessPriority::ApplyToNewThread()
{
    if (const CProcessPriority* pInstance = g_pInstance.load())
        pInstance->ApplyToThisThread();
}

int CProcessPriority::NiceOf(int nLevel) const
{
    switch (nLevel) {
    case PRIORITY_LOW: return std::min(m_nStartNice + kLowStep, kNiceMax);
    case PRIORITY_HIGH: return std::max(m_nStartNice - kHighStep, kNiceMin);
    default: return m_nStartNice;
    }
}

int CProcessPriority::LowestNiceAllowed() const
{
    if (HasSysNice())
        return kNiceMin;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0)
        return kNiceMax + 1;
    if (limit.rlim_cur == RLIM_INFINITY)
        return kNiceMin;
    return 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
}

bool CProcessPriority::SetThreadNice(pid_t nTid, int nNice)
{
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(nTid), nNice) == 0;
}

int CProcessPriority::Apply(int nLevel)
{
    if (nLevel != PRIORITY_LOW && nLevel != PRIORITY_HIGH)
        nLevel = PRIORITY_MID;
    const int nLowest = LowestNiceAllowed();
    if (nLevel == PRIORITY_HIGH && NiceOf(PRIORITY_HIGH) < nLowest) {
        ReportDiagnostic(QString("ProcessPriority: High needs nice %1, this account may go down to %2 only "
                                 "(RLIMIT_NICE); Mid is used")
                             .arg(NiceOf(PRIORITY_HIGH))
                             .arg(nLowest));
        nLevel = PRIORITY_MID;
    }
    m_nLevel = nLevel;
    const int nNice = NiceOf(nLevel);
    DIR* pDir = ::opendir("/proc/self/task");
    if (!pDir)
        return nLevel;
    int nKept = 0;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const pid_t nTid = static_cast<pid_t>(std::atoi(pEntry->d_name));
        if (nTid <= 0 || nTid == m_nUiThread)
            continue;
        // A thread that the account may not bring back down keeps its value until it ends; the
        // threads started from now on take the level (ApplyToThisThread).
        if (NiceOfThread(nTid) != nNice && !SetThreadNice(nTid, nNice))
            ++nKept;
    }
    ::closedir(pDir);
    if (nKept > 0)
        ReportDiagnostic(QString("ProcessPriority: %1 running thread(s) keep their priority until they end; "
                                 "threads started from now on run at nice %2")
                             .arg(nKept)
                             .arg(nNice));
    return nLevel;
}

void CProcessPriority::ApplyToThisThread() const
{
    const pid_t nTid = ThisThreadId();
    if (nTid != m_nUiThread && NiceOfThread(nTid) != NiceOf(m_nLevel))
        SetThreadNice(nTid, NiceOf(m_nLevel));
}
