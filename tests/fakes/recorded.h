#pragma once

#include <mutex>
#include <utility>
#include <vector>

// What a fake was asked, in order; safe to read from the test thread while
// a listener thread adds to it.
template<typename T>
class Recorded {
public:
    void add(T item)
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
    }
    std::vector<T> all() const
    {
        std::lock_guard lock(m_mutex);
        return m_items;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<T> m_items;
};
