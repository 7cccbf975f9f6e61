#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "foundation/ThreadSafeMap.h"
#include "foundation/ThreadSafeQueue.h"

namespace {
struct SItem
{
    explicit SItem(int n, std::atomic<int>* pDeleted = nullptr) : nValue(n), pDeletedCount(pDeleted) {}
    virtual ~SItem()
    {
        if (pDeletedCount)
            ++*pDeletedCount;
    }
    int nValue;
    std::atomic<int>* pDeletedCount;
};
} // namespace

TEST(ThreadSafeQueue, PopOnEmptyFailsAndLeavesQueueUsable)
{
    CThreadSafeQueue<SItem> queue;
    std::unique_ptr<SItem> pOut = std::make_unique<SItem>(99);
    EXPECT_EQ(queue.Pop(&pOut), E_FAIL);
    EXPECT_EQ(pOut, nullptr);
    EXPECT_EQ(queue.Pop(nullptr), E_INVALIDARG);
    EXPECT_EQ(queue.Push(std::make_unique<SItem>(1)), S_OK);
    EXPECT_EQ(queue.Push(std::make_unique<SItem>(2)), S_OK);
    EXPECT_EQ(queue.GetCount(), 2u);
    ASSERT_EQ(queue.Pop(&pOut), S_OK);
    EXPECT_EQ(pOut->nValue, 1) << "first in, first out";
}

TEST(ThreadSafeQueue, ClearSkipsNullElementsAndDeletesTheRest)
{
    std::atomic<int> nDeleted{0};
    CThreadSafeQueue<SItem> queue;
    queue.Push(std::make_unique<SItem>(1, &nDeleted));
    queue.Push(std::unique_ptr<SItem>());
    queue.Push(std::make_unique<SItem>(2, &nDeleted));
    queue.Clear();
    EXPECT_EQ(nDeleted.load(), 2);
    EXPECT_EQ(queue.GetCount(), 0u);
}

TEST(ThreadSafeQueue, DestructorDeletesElements)
{
    std::atomic<int> nDeleted{0};
    {
        CThreadSafeQueue<SItem> queue;
        queue.Push(std::make_unique<SItem>(1, &nDeleted));
        queue.Push(std::make_unique<SItem>(2, &nDeleted));
    }
    EXPECT_EQ(nDeleted.load(), 2);
}

TEST(ThreadSafeQueue, ConcurrentPushAndPopLoseAndDuplicateNothing)
{
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 5000;
    CThreadSafeQueue<SItem> queue;
    std::atomic<bool> bProducing{true};
    std::vector<int> popped;
    std::thread consumer([&] {
        std::unique_ptr<SItem> p;
        for (;;) {
            if (queue.Pop(&p) == S_OK)
                popped.push_back(p->nValue);
            else if (!bProducing.load() && queue.GetCount() == 0)
                break;
        }
    });
    std::vector<std::thread> producers;
    for (int t = 0; t < kProducers; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerProducer; ++i)
                ASSERT_EQ(queue.Push(std::make_unique<SItem>(t * kPerProducer + i)), S_OK);
        });
    }
    for (std::thread& producer : producers)
        producer.join();
    bProducing = false;
    consumer.join();
    ASSERT_EQ(popped.size(), static_cast<size_t>(kProducers * kPerProducer));
    EXPECT_EQ(std::set<int>(popped.begin(), popped.end()).size(), popped.size());
}

TEST(ThreadSafeMap, FindInsertRemove)
{
    std::atomic<int> nDeleted{0};
    CThreadSafeMap<SItem> map;
    SItem* pFound = reinterpret_cast<SItem*>(0x1);
    EXPECT_EQ(map.Find("uuid:a", &pFound), E_FAIL);
    EXPECT_EQ(pFound, nullptr);
    EXPECT_EQ(map.Insert("uuid:a", std::make_unique<SItem>(1, &nDeleted)), S_OK);
    std::unique_ptr<SItem> pSecond = std::make_unique<SItem>(2, &nDeleted);
    EXPECT_EQ(map.Insert("uuid:a", pSecond), E_FAIL);
    EXPECT_NE(pSecond, nullptr) << "a refused element stays the caller's";
    EXPECT_EQ(map.Find("UUID:A", &pFound), E_FAIL) << "keys are case-sensitive";
    ASSERT_EQ(map.Find("uuid:a", &pFound), S_OK);
    EXPECT_EQ(pFound->nValue, 1);
    EXPECT_EQ(map.Remove("uuid:a"), S_OK);
    EXPECT_EQ(nDeleted.load(), 1);
    EXPECT_EQ(map.Remove("uuid:a"), E_FAIL);
}

TEST(ThreadSafeMap, ConcurrentInsertAndRemoveKeepCountsRight)
{
    CThreadSafeMap<SItem> map;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const QString sKey = QString("k%1-%2").arg(t).arg(i);
                ASSERT_EQ(map.Insert(sKey, std::make_unique<SItem>(i)), S_OK);
                if (i % 2) {
                    ASSERT_EQ(map.Remove(sKey), S_OK);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(map.GetCount(), 4u * 1000u);
    QString sKey;
    ASSERT_NE(map.At(0, &sKey), nullptr);
    EXPECT_EQ(sKey, "k0-0");
    EXPECT_EQ(map.At(4000), nullptr);
}
