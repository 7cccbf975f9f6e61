#include "platform/WindowMessages.h"

#include <chrono>

struct CQueuedMessageReceiver::SEntry
{
    CWindowMessage msg;
    bool bSent = false;
    bool bDone = false;
    std::intptr_t nResult = 0;
};

CQueuedMessageReceiver::CQueuedMessageReceiver(Handler handler) : m_handler(std::move(handler))
{}

CQueuedMessageReceiver::~CQueuedMessageReceiver()
{
    Quit();
    // Senders that Quit released still return through m_mutex: wait until the last has left.
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return m_nWaitingSenders == 0; });
}

bool CQueuedMessageReceiver::PostMessage(CWindowMessage msg)
{
    std::lock_guard lock(m_mutex);
    if (m_bQuit)
        return false;
    auto pEntry = std::make_shared<SEntry>();
    pEntry->msg = std::move(msg);
    m_queue.push_back(std::move(pEntry));
    m_cv.notify_all();
    return true;
}

std::intptr_t CQueuedMessageReceiver::SendMessage(CWindowMessage msg)
{
    std::unique_lock lock(m_mutex);
    if (m_bQuit)
        return 0;
    if (m_owner == std::this_thread::get_id()) {
        lock.unlock();
        return m_handler(msg);
    }
    auto pEntry = std::make_shared<SEntry>();
    pEntry->msg = std::move(msg);
    pEntry->bSent = true;
    m_queue.push_back(pEntry);
    m_cv.notify_all();
    // The sender must see the message handled before it goes on (the design's synchronous send).
    ++m_nWaitingSenders;
    m_cv.wait(lock, [&] { return pEntry->bDone || m_bQuit; });
    --m_nWaitingSenders;
    const std::intptr_t nResult = pEntry->bDone ? pEntry->nResult : 0;
    m_cv.notify_all(); // the destructor may be waiting for the last sender
    return nResult;
}

bool CQueuedMessageReceiver::HandleOne(std::unique_lock<std::mutex>& lock)
{
    if (m_queue.empty() || m_bQuit)
        return false;
    std::shared_ptr<SEntry> pEntry = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    const std::intptr_t nResult = m_handler(pEntry->msg);
    lock.lock();
    pEntry->nResult = nResult;
    pEntry->bDone = true;
    if (pEntry->bSent)
        m_cv.notify_all();
    return true;
}

void CQueuedMessageReceiver::Run()
{
    std::unique_lock lock(m_mutex);
    m_owner = std::this_thread::get_id();
    while (!m_bQuit) {
        m_cv.wait(lock, [&] { return m_bQuit || !m_queue.empty(); });
        HandleOne(lock);
    }
}

int CQueuedMessageReceiver::ProcessPending(std::int64_t nRealTimeoutMs)
{
    std::unique_lock lock(m_mutex);
    m_owner = std::this_thread::get_id();
    if (nRealTimeoutMs > 0)
        m_cv.wait_for(lock, std::chrono::milliseconds(nRealTimeoutMs), [&] { return m_bQuit || !m_queue.empty(); });
    int nHandled = 0;
    while (HandleOne(lock))
        ++nHandled;
    return nHandled;
}

void CQueuedMessageReceiver::Quit()
{
    std::deque<std::shared_ptr<SEntry>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
        dropped.swap(m_queue);
        m_cv.notify_all();
    }
    // The dropped messages (and their payloads) are destroyed here, outside the lock, so a
    // payload's destructor may use the receiver without deadlocking.
}

namespace {
std::mutex g_mainWindowMutex;
IMessageReceiver* g_pMainWindow = nullptr;
} // namespace

void RegisterMainWindow(IMessageReceiver* pReceiver)
{
    std::lock_guard lock(g_mainWindowMutex);
    g_pMainWindow = pReceiver;
}

void UnregisterMainWindow(IMessageReceiver* pReceiver)
{
    std::lock_guard lock(g_mainWindowMutex);
    if (g_pMainWindow == pReceiver)
        g_pMainWindow = nullptr;
}

bool PostToMainWindow(CWindowMessage msg)
{
    // Held while posting so the window cannot unregister and go away in between; posting never
    // blocks, so this lock is short.
    std::lock_guard lock(g_mainWindowMutex);
    return g_pMainWindow && g_pMainWindow->PostMessage(std::move(msg));
}

bool CThreadMessageQueue::Post(CWindowMessage msg)
{
    std::lock_guard lock(m_mutex);
    if (m_bClosed)
        return false;
    m_queue.push_back(std::move(msg));
    m_arrival.Set();
    return true;
}

bool CThreadMessageQueue::TryGet(CWindowMessage& msg)
{
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) {
        if (!m_bClosed)
            m_arrival.Reset();
        return false;
    }
    msg = std::move(m_queue.front());
    m_queue.pop_front();
    if (m_queue.empty() && !m_bClosed)
        m_arrival.Reset();
    return true;
}

bool CThreadMessageQueue::IsClosed()
{
    std::lock_guard lock(m_mutex);
    return m_bClosed;
}

void CThreadMessageQueue::Close()
{
    std::deque<CWindowMessage> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_bClosed = true;
        dropped.swap(m_queue);
        m_arrival.Set(); // wakes the owner so it can see the queue closed
    }
    // Payloads of the dropped messages are destroyed outside the lock.
}
