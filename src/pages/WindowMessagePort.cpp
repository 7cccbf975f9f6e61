#include "pages/WindowMessagePort.h"

#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QObject>
#include <QThread>

// Shared with every queued invocation, so one that runs after the port is gone does nothing.
struct CWindowMessagePort::SState
{
    std::mutex mutex;
    std::condition_variable cv;
    bool bClosed = false;
    int nWaitingSenders = 0;
    Handler handler;
};

namespace {
struct SSentEntry
{
    CWindowMessage msg;
    bool bDone = false;
    std::intptr_t nResult = 0;
};
} // namespace

CWindowMessagePort::CWindowMessagePort(QObject* pWindow, Handler handler)
    : m_pState(std::make_shared<SState>()), m_pWindow(pWindow)
{
    m_pState->handler = std::move(handler);
}

CWindowMessagePort::~CWindowMessagePort()
{
    Close();
}

void CWindowMessagePort::Close()
{
    std::lock_guard lock(m_pState->mutex);
    m_pState->bClosed = true;
    m_pState->cv.notify_all();
}

bool CWindowMessagePort::PostMessage(CWindowMessage msg)
{
    auto pMsg = std::make_shared<CWindowMessage>(std::move(msg));
    return PostCall([pState = m_pState, pMsg] { pState->handler(*pMsg); });
}

bool CWindowMessagePort::PostCall(std::function<void()> fn)
{
    std::shared_ptr<SState> pState = m_pState;
    // Queued under the lock, so no invocation is queued once Close() has returned (the window
    // may be destroyed right after).
    std::lock_guard lock(pState->mutex);
    if (pState->bClosed)
        return false;
    return QMetaObject::invokeMethod(
        m_pWindow,
        [pState, fn = std::move(fn)] {
            {
                std::lock_guard lock(pState->mutex);
                if (pState->bClosed)
                    return;
            }
            fn();
        },
        Qt::QueuedConnection);
}

std::intptr_t CWindowMessagePort::SendMessage(CWindowMessage msg)
{
    std::shared_ptr<SState> pState = m_pState;
    std::unique_lock lock(pState->mutex);
    if (pState->bClosed)
        return 0;
    if (QThread::currentThread() == m_pWindow->thread()) {
        lock.unlock();
        return pState->handler(msg);
    }
    auto pEntry = std::make_shared<SSentEntry>();
    pEntry->msg = std::move(msg);
    const bool bQueued = QMetaObject::invokeMethod(
        m_pWindow,
        [pState, pEntry] {
            {
                std::lock_guard lock(pState->mutex);
                if (pState->bClosed)
                    return;
            }
            const std::intptr_t nResult = pState->handler(pEntry->msg);
            std::lock_guard lock(pState->mutex);
            pEntry->nResult = nResult;
            pEntry->bDone = true;
            pState->cv.notify_all();
        },
        Qt::QueuedConnection);
    if (!bQueued)
        return 0;
    // The sender must not go on before the window has handled the message (a run's outcome
    // resets the window's transfer state before anything else may start).
    ++pState->nWaitingSenders;
    pState->cv.wait(lock, [&] { return pEntry->bDone || pState->bClosed; });
    --pState->nWaitingSenders;
    return pEntry->bDone ? pEntry->nResult : 0;
}

int CWindowMessagePort::WaitingSenders() const
{
    std::lock_guard lock(m_pState->mutex);
    return m_pState->nWaitingSenders;
}
