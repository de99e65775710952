#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

// A first-in first-out hand-over between one producer and one consumer
// thread. Its capacity is what keeps memory flat: a producer that runs ahead
// waits for room instead of buffering the whole file.
template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : m_capacity(capacity) {}
    BoundedQueue(const BoundedQueue &) = delete;
    BoundedQueue &operator=(const BoundedQueue &) = delete;

    // Waits for room; false once the queue is cancelled (the item is dropped).
    bool push(T item)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_cancelled || m_items.size() < m_capacity; });
        if (m_cancelled)
            return false;
        m_items.push_back(std::move(item));
        m_changed.notify_all();
        return true;
    }

    // Waits for an item; none once cancelled, or once closed and emptied.
    std::optional<T> pop()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_cancelled || m_closed || !m_items.empty(); });
        if (m_cancelled || m_items.empty())
            return std::nullopt;
        std::optional<T> item(std::move(m_items.front()));
        m_items.pop_front();
        m_changed.notify_all();
        return item;
    }

    // No more items will come: the consumer takes what is there, then stops.
    void close()
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

    // Both sides stop at once; what is queued is dropped.
    void cancel()
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_items.clear();
        m_changed.notify_all();
    }

    // Ready for the next producer and consumer, once both have stopped.
    void reopen()
    {
        const std::lock_guard lock(m_mutex);
        m_items.clear();
        m_closed = m_cancelled = false;
    }

private:
    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<T> m_items;
    bool m_closed = false;
    bool m_cancelled = false;
};
