#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

// A first-in first-out hand-over between one producer and one consumer
// thread. Its capacity is what keeps memory flat: a producer that runs ahead
// waits for room instead of buffering the whole file. A side that has to
// wait sleeps until half the queue is free (or filled), so that the two
// threads do not wake each other for every single item.
template <typename T> class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity)
        : m_capacity(std::max<size_t>(1, capacity)), m_batch(std::max<size_t>(1, capacity / 2))
    {
    }
    BoundedQueue(const BoundedQueue &) = delete;
    BoundedQueue &operator=(const BoundedQueue &) = delete;

    // Waits for room; false once the queue is cancelled (the item is dropped).
    bool push(T item)
    {
        std::unique_lock lock(m_mutex);
        if (m_items.size() >= m_capacity) {
            m_producerWaits = true;
            m_changed.wait(lock, [this] { return m_cancelled || roomForBatch(); });
            m_producerWaits = false;
        }
        if (m_cancelled)
            return false;
        m_items.push_back(std::move(item));
        if (m_consumerWaits && m_items.size() >= m_batch)
            m_changed.notify_all();
        return true;
    }

    // Waits for an item; none once cancelled, or once closed and emptied.
    std::optional<T> pop()
    {
        std::unique_lock lock(m_mutex);
        if (m_items.empty()) {
            m_consumerWaits = true;
            m_changed.wait(lock, [this] { return m_cancelled || m_closed || m_items.size() >= m_batch; });
            m_consumerWaits = false;
        }
        if (m_cancelled || m_items.empty())
            return std::nullopt;
        std::optional<T> item(std::move(m_items.front()));
        m_items.pop_front();
        if (m_producerWaits && roomForBatch())
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
    bool roomForBatch() const { return m_capacity - m_items.size() >= m_batch; }

    const size_t m_capacity;
    const size_t m_batch;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<T> m_items;
    bool m_producerWaits = false;
    bool m_consumerWaits = false;
    bool m_closed = false;
    bool m_cancelled = false;
};
