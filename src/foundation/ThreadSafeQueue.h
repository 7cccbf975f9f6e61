#pragma once

#include <list>
#include <memory>
#include <mutex>

#include "platform/WinTypes.h"

// A first-in, first-out queue of owned elements shared between threads (the scan thread fills
// it, the transfer thread empties it). One lock guards everything and each operation holds it
// for its whole length. The destructor closes the queue first, so a late Push is refused and the
// caller keeps its element.
template <class T>
class CThreadSafeQueue
{
public:
    CThreadSafeQueue() = default;
    CThreadSafeQueue(const CThreadSafeQueue&) = delete;
    CThreadSafeQueue& operator=(const CThreadSafeQueue&) = delete;

    virtual ~CThreadSafeQueue()
    {
        {
            std::lock_guard lock(m_cs);
            m_bClosed = true;
        }
        Clear();
    }

    // S_OK and the element is the queue's; E_FAIL when closed, and pElement stays the caller's.
    HRESULT Push(std::unique_ptr<T>& pElement)
    {
        std::lock_guard lock(m_cs);
        if (m_bClosed)
            return E_FAIL;
        m_list.push_back(std::move(pElement));
        return S_OK;
    }
    HRESULT Push(std::unique_ptr<T>&& pElement) { return Push(pElement); }

    // S_OK with the front element; E_FAIL and a null element when empty; E_INVALIDARG when
    // pElement is null.
    HRESULT Pop(std::unique_ptr<T>* pElement)
    {
        if (!pElement)
            return E_INVALIDARG;
        std::lock_guard lock(m_cs);
        pElement->reset();
        if (m_list.empty())
            return E_FAIL;
        *pElement = std::move(m_list.front());
        m_list.pop_front();
        return S_OK;
    }

    std::size_t GetCount() const
    {
        std::lock_guard lock(m_cs);
        return m_list.size();
    }

    // Deletes every element (null ones are skipped by unique_ptr) and empties the queue.
    void Clear()
    {
        std::lock_guard lock(m_cs);
        m_list.clear();
    }

    // Takes the lock and releases it at once: returns after any operation running on another
    // thread has finished.
    void Barrier() const { std::lock_guard lock(m_cs); }

    bool IsClosed() const
    {
        std::lock_guard lock(m_cs);
        return m_bClosed;
    }

private:
    bool m_bClosed = false;
    std::list<std::unique_ptr<T>> m_list;
    mutable std::mutex m_cs;
};
