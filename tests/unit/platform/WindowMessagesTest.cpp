#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/VirtualClock.h"
#include "platform/WinTypes.h"
#include "platform/WindowMessages.h"

namespace {

constexpr unsigned kMsgA = WM_USER + 100;
constexpr unsigned kMsgB = WM_USER + 101;

// Counts how many of its kind are alive, to prove who destroys a payload and when.
struct STracked
{
    explicit STracked(std::atomic<int>& alive) : pAlive(&alive) { ++*pAlive; }
    ~STracked() { --*pAlive; }
    STracked(const STracked&) = delete;
    STracked& operator=(const STracked&) = delete;
    std::atomic<int>* pAlive;
};

// Waits (in short real-time steps) until the predicate holds; false after two seconds.
template <class Pred>
bool Eventually(Pred pred)
{
    for (int i = 0; i < 2000; ++i) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

} // namespace

TEST(WindowMessages, PostReturnsAtOnceAndMessagesArriveInOrder)
{
    std::vector<unsigned> handled;
    CQueuedMessageReceiver receiver([&](CWindowMessage& msg) {
        handled.push_back(msg.nMessage);
        return std::intptr_t{0};
    });
    // Nobody serves the receiver yet: posting must not wait for that.
    std::thread poster([&] {
        EXPECT_TRUE(receiver.PostMessage(CWindowMessage(kMsgA, 1, 2)));
        EXPECT_TRUE(receiver.PostMessage(CWindowMessage(kMsgB)));
    });
    poster.join();
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(receiver.ProcessPending(), 2);
    EXPECT_EQ(handled, (std::vector<unsigned>{kMsgA, kMsgB}));
    EXPECT_EQ(receiver.ProcessPending(), 0);
}

TEST(WindowMessages, SendWaitsForTheReceiversThreadAndReturnsTheHandlersResult)
{
    std::atomic<bool> bHandled{false};
    std::thread::id handlerThread;
    CQueuedMessageReceiver receiver([&](CWindowMessage& msg) -> std::intptr_t {
        if (msg.nMessage != kMsgA)
            return 0;
        handlerThread = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the sender must wait this out
        bHandled = true;
        return msg.lParam * 2;
    });
    std::thread ui([&] { receiver.Run(); });
    std::intptr_t nResult = 0;
    bool bHandledWhenReturned = false;
    std::thread worker([&] {
        nResult = receiver.SendMessage(CWindowMessage(kMsgA, 0, 21));
        bHandledWhenReturned = bHandled.load();
    });
    worker.join();
    EXPECT_EQ(nResult, 42);
    EXPECT_TRUE(bHandledWhenReturned);
    EXPECT_EQ(handlerThread, ui.get_id()) << "handled on the receiver's thread, not the sender's";
    receiver.Quit();
    ui.join();
}

TEST(WindowMessages, SendOnTheReceiversOwnThreadIsADirectCall)
{
    CQueuedMessageReceiver* pReceiver = nullptr;
    std::intptr_t nInner = 0;
    CQueuedMessageReceiver receiver([&](CWindowMessage& msg) -> std::intptr_t {
        if (msg.nMessage == kMsgA) {
            nInner = pReceiver->SendMessage(CWindowMessage(kMsgB)); // would deadlock if queued
            return 1;
        }
        return 7;
    });
    pReceiver = &receiver;
    ASSERT_TRUE(receiver.PostMessage(CWindowMessage(kMsgA)));
    EXPECT_EQ(receiver.ProcessPending(), 1);
    EXPECT_EQ(nInner, 7);
    // This thread served the receiver, so it is the receiver's thread from now on.
    EXPECT_EQ(receiver.SendMessage(CWindowMessage(kMsgB)), 7);
}

TEST(WindowMessages, QuitReleasesAWaitingSenderAndRefusesLaterMessages)
{
    std::atomic<int> alive{0};
    CQueuedMessageReceiver receiver([](CWindowMessage&) { return std::intptr_t{5}; });
    std::atomic<bool> bReturned{false};
    std::intptr_t nResult = -1;
    std::thread sender([&] {
        nResult = receiver.SendMessage(CWindowMessage(kMsgA));
        bReturned = true;
    });
    ASSERT_TRUE(
        receiver.PostMessage(CWindowMessage::WithPayload(kMsgB, std::make_unique<STracked>(alive)))); // never handled
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(bReturned.load()) << "nobody served the receiver yet";
    receiver.Quit();
    sender.join();
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(alive.load(), 0) << "the dropped message took its payload with it";
    EXPECT_FALSE(receiver.PostMessage(CWindowMessage::WithPayload(kMsgB, std::make_unique<STracked>(alive))));
    EXPECT_EQ(alive.load(), 0) << "a refused message's payload is destroyed, not leaked";
    EXPECT_EQ(receiver.SendMessage(CWindowMessage(kMsgA)), 0);
}

TEST(WindowMessages, DestroyingAReceiverWaitsForItsBlockedSenders)
{
    auto* pReceiver = new CQueuedMessageReceiver([](CWindowMessage&) { return std::intptr_t{1}; });
    std::atomic<int> nStarted{0};
    std::atomic<int> nReturned{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; ++i) {
        senders.emplace_back([&] {
            ++nStarted;
            EXPECT_EQ(pReceiver->SendMessage(CWindowMessage(kMsgA)), 0);
            ++nReturned;
        });
    }
    ASSERT_TRUE(Eventually([&] { return nStarted.load() == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let them block inside the send
    EXPECT_EQ(nReturned.load(), 0);
    // Returns only after every sender has left the receiver; a sender still inside it would use
    // the freed receiver (the sanitizers catch that).
    delete pReceiver;
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_EQ(nReturned.load(), 3);
}

TEST(WindowMessages, APayloadIsDeliveredOnceAndDestroyedWithItsMessage)
{
    std::atomic<int> alive{0};
    std::vector<std::unique_ptr<STracked>> taken;
    int nWithoutPayload = 0;
    CQueuedMessageReceiver receiver([&](CWindowMessage& msg) {
        if (auto* pp = msg.Payload<std::unique_ptr<STracked>>())
            taken.push_back(std::move(*pp)); // the handler may keep it ...
        else if (msg.Payload<QString>() == nullptr)
            ++nWithoutPayload;
        return std::intptr_t{0};
    });
    ASSERT_TRUE(receiver.PostMessage(CWindowMessage::WithPayload(kMsgA, std::make_unique<STracked>(alive))));
    ASSERT_TRUE(receiver.PostMessage(CWindowMessage::WithPayload(kMsgA, QString("uuid:1"))));
    ASSERT_TRUE(receiver.PostMessage(CWindowMessage(kMsgB)));
    EXPECT_EQ(alive.load(), 1);
    EXPECT_EQ(receiver.ProcessPending(), 3);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_NE(taken[0], nullptr);
    EXPECT_EQ(nWithoutPayload, 1);
    EXPECT_EQ(alive.load(), 1) << "kept by the handler";
    taken.clear();
    EXPECT_EQ(alive.load(), 0);

    // ... or leave it, and it goes with the message.
    CQueuedMessageReceiver ignoring([](CWindowMessage&) { return std::intptr_t{0}; });
    ASSERT_TRUE(ignoring.PostMessage(CWindowMessage::WithPayload(kMsgA, std::make_unique<STracked>(alive))));
    EXPECT_EQ(ignoring.ProcessPending(), 1);
    EXPECT_EQ(alive.load(), 0);

    CWindowMessage typed = CWindowMessage::WithPayload(kMsgA, QString("text"));
    EXPECT_EQ(typed.Payload<std::unique_ptr<STracked>>(), nullptr) << "another type is no payload";
    ASSERT_NE(typed.Payload<QString>(), nullptr);
    EXPECT_EQ(*typed.Payload<QString>(), "text");
}

TEST(WindowMessages, TheMainWindowIsFoundOnlyWhileRegistered)
{
    int nHandled = 0;
    CQueuedMessageReceiver window([&](CWindowMessage&) {
        ++nHandled;
        return std::intptr_t{0};
    });
    CQueuedMessageReceiver other([](CWindowMessage&) { return std::intptr_t{0}; });
    EXPECT_FALSE(PostToMainWindow(CWindowMessage(kMsgA)));
    RegisterMainWindow(&window);
    EXPECT_TRUE(PostToMainWindow(CWindowMessage(kMsgA)));
    UnregisterMainWindow(&other); // not the registered one: no effect
    EXPECT_TRUE(PostToMainWindow(CWindowMessage(kMsgA)));
    UnregisterMainWindow(&window);
    EXPECT_FALSE(PostToMainWindow(CWindowMessage(kMsgA)));
    EXPECT_EQ(window.ProcessPending(), 2);
    EXPECT_EQ(nHandled, 2);
}

TEST(ThreadMessageQueue, TheOwnerWakesForPostsAndSeesTheQueueClose)
{
    CVirtualClock clock;
    CThreadMessageQueue queue;
    std::vector<unsigned> received;
    std::atomic<bool> bClosedSeen{false};
    std::thread owner([&] {
        for (;;) {
            CWindowMessage msg;
            while (queue.TryGet(msg))
                received.push_back(msg.nMessage);
            if (queue.IsClosed())
                break;
            clock.WaitFor(queue.ArrivalEvent(), 60000); // wakes on a post, not by time
        }
        bClosedSeen = true;
    });
    ASSERT_TRUE(clock.WaitForWaiters(1));
    EXPECT_TRUE(queue.Post(CWindowMessage(kMsgA)));
    ASSERT_TRUE(Eventually([&] { return clock.WaiterCount() == 1 && !queue.ArrivalEvent().IsSet(); }));
    EXPECT_TRUE(queue.Post(CWindowMessage(kMsgB)));
    ASSERT_TRUE(Eventually([&] { return clock.WaiterCount() == 1 && !queue.ArrivalEvent().IsSet(); }));
    queue.Close();
    owner.join();
    EXPECT_TRUE(bClosedSeen.load());
    EXPECT_EQ(received, (std::vector<unsigned>{kMsgA, kMsgB}));
    EXPECT_EQ(clock.NowMs(), 0) << "no virtual time passed: every wake-up came from the queue";
    EXPECT_FALSE(queue.Post(CWindowMessage(kMsgA))) << "a closed queue refuses posts";
}
