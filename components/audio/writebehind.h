#pragma once

#include "boundedqueue.h"
#include "iaudiofile2.h"

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Encodes behind the caller on a worker thread: each write is queued for the
// sink in order and the caller goes on. A failure of the sink is returned at
// the caller's next write (and every one after it) or at finish().
class WriteBehind {
public:
    using Sink = std::function<AudioStatus(const std::vector<float> &samples)>;

    explicit WriteBehind(Sink sink);
    ~WriteBehind(); // waits for the queue to drain
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;

    AudioStatus write(std::vector<float> samples);
    // Waits until every queued write has reached the sink and the worker has
    // ended, so the sink may be used directly; a pending failure stays pending.
    void drain();
    // drain(), then the failure not reported yet, if any; ready for a new file.
    AudioStatus finish();

private:
    void run();
    AudioStatus reportFailure();

    Sink m_sink;
    BoundedQueue<std::vector<float>> m_queue;
    std::mutex m_mutex; // guards the two below, which the worker sets
    AudioStatus m_failure;
    bool m_reported = false;
    std::thread m_worker;
};
