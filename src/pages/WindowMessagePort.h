#pragma once

#include <functional>
#include <memory>

#include "platform/WindowMessages.h"

class QObject;

// The numbered messages of a Qt window: a post is a queued invocation on the window's thread; a
// send from another thread waits until the window's thread has handled it (a send on the window's
// own thread is a direct call). Close() refuses later messages and releases every sender still
// waiting, so a window can be destroyed while a worker is blocked in a send to it.
class CWindowMessagePort final : public IMessageReceiver
{
public:
    using Handler = std::function<std::intptr_t(CWindowMessage& msg)>;

    CWindowMessagePort(QObject* pWindow, Handler handler);
    ~CWindowMessagePort() override;
    CWindowMessagePort(const CWindowMessagePort&) = delete;
    CWindowMessagePort& operator=(const CWindowMessagePort&) = delete;

    bool PostMessage(CWindowMessage msg) override;
    std::intptr_t SendMessage(CWindowMessage msg) override;
    // Runs fn later on the window's thread, like a posted message; false once closed.
    bool PostCall(std::function<void()> fn);
    void Close();
    // Senders on other threads blocked until their message is handled.
    int WaitingSenders() const;

private:
    struct SState;
    std::shared_ptr<SState> m_pState;
    QObject* const m_pWindow; // the window owns the port
};
