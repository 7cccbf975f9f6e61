#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Clock.h"

// Numbered messages between the program's threads and its windows, with the meaning they have
// on Windows: a posted message returns at once and is handled later on the receiver's thread; a
// sent message makes the sender wait until the receiver's thread has handled it (on the
// receiver's own thread a send is a direct call). Payloads are typed and owned by the message.

struct IMessagePayload
{
    virtual ~IMessagePayload() = default;
};

template <class T>
struct CMessagePayload final : IMessagePayload
{
    explicit CMessagePayload(T v) : value(std::move(v)) {}
    T value;
};

struct CWindowMessage
{
    unsigned nMessage = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::unique_ptr<IMessagePayload> pPayload;

    CWindowMessage() = default;
    CWindowMessage(unsigned nMsg, std::uintptr_t w = 0, std::intptr_t l = 0) : nMessage(nMsg), wParam(w), lParam(l) {}

    template <class T>
    static CWindowMessage WithPayload(unsigned nMsg, T value, std::uintptr_t w = 0, std::intptr_t l = 0)
    {
        CWindowMessage msg(nMsg, w, l);
        msg.pPayload = std::make_unique<CMessagePayload<T>>(std::move(value));
        return msg;
    }

    // The payload as T, or nullptr when there is none or it has another type.
    template <class T>
    T* Payload() const
    {
        auto* p = dynamic_cast<CMessagePayload<T>*>(pPayload.get());
        return p ? &p->value : nullptr;
    }
};

class IMessageReceiver
{
public:
    virtual ~IMessageReceiver() = default;
    // Queues the message and returns at once; false when the receiver no longer takes messages.
    virtual bool PostMessage(CWindowMessage msg) = 0;
    // Returns the handler's result once the receiver's thread has handled the message; 0 when
    // the receiver no longer takes messages.
    virtual std::intptr_t SendMessage(CWindowMessage msg) = 0;
};

// A receiver with its own queue, served by the thread that calls Run or ProcessPending (the
// command-line front end and the tests use it as their "main window").
class CQueuedMessageReceiver : public IMessageReceiver
{
public:
    using Handler = std::function<std::intptr_t(CWindowMessage& msg)>;

    explicit CQueuedMessageReceiver(Handler handler);
    ~CQueuedMessageReceiver() override;

    bool PostMessage(CWindowMessage msg) override;
    std::intptr_t SendMessage(CWindowMessage msg) override;

    // Handles messages on the calling thread until Quit(); that thread becomes the receiver's.
    void Run();
    // Handles what is queued now, waiting up to nRealTimeoutMs of real time for a first
    // message; returns the number handled.
    int ProcessPending(std::int64_t nRealTimeoutMs = 0);
    // Ends Run(); later posts and sends are refused, and waiting senders return 0.
    void Quit();

private:
    struct SEntry;
    bool HandleOne(std::unique_lock<std::mutex>& lock);

    Handler m_handler;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::shared_ptr<SEntry>> m_queue;
    bool m_bQuit = false;
    int m_nWaitingSenders = 0; // senders blocked in SendMessage
    std::thread::id m_owner;
};

// The program's main window, as workers find it (the design finds it by its window class). At
// most one is registered; posting to it when none is registered does nothing.
void RegisterMainWindow(IMessageReceiver* pReceiver);
void UnregisterMainWindow(IMessageReceiver* pReceiver);
bool PostToMainWindow(CWindowMessage msg);

// The message queue of a worker thread that has no window (the device search thread): other
// threads post, the owner takes messages off between its other work.
class CThreadMessageQueue
{
public:
    bool Post(CWindowMessage msg); // false once closed
    bool TryGet(CWindowMessage& msg);
    // Set while messages wait; the owner waits on it through the clock.
    CEvent& ArrivalEvent() { return m_arrival; }
    void Close();
    bool IsClosed();

private:
    std::mutex m_mutex;
    std::deque<CWindowMessage> m_queue;
    bool m_bClosed = false;
    CEvent m_arrival{true};
};
