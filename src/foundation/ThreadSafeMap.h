#pragma once

#include <map>
#include <memory>
#include <mutex>

#include <QString>

#include "platform/WinTypes.h"

// An ordered map from a string key (compared code unit by code unit, case-sensitively) to owned
// elements, shared between threads. One lock guards it; each operation holds it for its whole
// length. Find hands out a borrowed pointer: the caller may use it only while the element cannot
// be removed, which the owner of the map arranges with a lock of its own taken outside this
// one. The destructor closes the map first.
template <class T>
class CThreadSafeMap
{
public:
    CThreadSafeMap() = default;
    CThreadSafeMap(const CThreadSafeMap&) = delete;
    CThreadSafeMap& operator=(const CThreadSafeMap&) = delete;

    virtual ~CThreadSafeMap()
    {
        {
            std::lock_guard lock(m_cs);
            m_bClosed = true;
        }
        Clear();
    }

    // S_OK and the element; E_FAIL and null when the key is absent.
    HRESULT Find(const QString& sKey, T** ppElement) const
    {
        if (!ppElement)
            return E_INVALIDARG;
        *ppElement = nullptr;
        std::lock_guard lock(m_cs);
        const auto it = m_map.find(sKey);
        if (it == m_map.end())
            return E_FAIL;
        *ppElement = it->second.get();
        return S_OK;
    }

    // S_OK and the element is the map's; E_FAIL when closed or the key is taken, and pElement
    // stays the caller's.
    HRESULT Insert(const QString& sKey, std::unique_ptr<T>& pElement)
    {
        std::lock_guard lock(m_cs);
        if (m_bClosed || m_map.count(sKey))
            return E_FAIL;
        m_map.emplace(sKey, std::move(pElement));
        return S_OK;
    }
    HRESULT Insert(const QString& sKey, std::unique_ptr<T>&& pElement) { return Insert(sKey, pElement); }

    // Removes and deletes the element; E_FAIL when absent.
    HRESULT Remove(const QString& sKey)
    {
        std::unique_ptr<T> pElement;
        {
            std::lock_guard lock(m_cs);
            const auto it = m_map.find(sKey);
            if (it == m_map.end())
                return E_FAIL;
            pElement = std::move(it->second);
            m_map.erase(it);
        }
        return S_OK;
    }

    std::size_t GetCount() const
    {
        std::lock_guard lock(m_cs);
        return m_map.size();
    }

    // Calls fn(key, element) for each element in key order, under the lock: fn must not call back
    // into the map.
    template <class Fn>
    void ForEach(Fn fn) const
    {
        std::lock_guard lock(m_cs);
        for (const auto& [sKey, pElement] : m_map)
            fn(sKey, pElement.get());
    }

    // The element at a position in key order (the index walk of the device table); null past the end.
    T* At(std::size_t nIndex, QString* psKey = nullptr) const
    {
        std::lock_guard lock(m_cs);
        if (nIndex >= m_map.size())
            return nullptr;
        auto it = m_map.begin();
        std::advance(it, static_cast<std::ptrdiff_t>(nIndex));
        if (psKey)
            *psKey = it->first;
        return it->second.get();
    }

    void Clear()
    {
        std::map<QString, std::unique_ptr<T>> old;
        {
            std::lock_guard lock(m_cs);
            old.swap(m_map);
        }
    }

    void Barrier() const { std::lock_guard lock(m_cs); }

private:
    bool m_bClosed = false;
    std::map<QString, std::unique_ptr<T>> m_map;
    mutable std::mutex m_cs;
};
