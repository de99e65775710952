#pragma once

#include "boundedqueue.h"
#include "iaudiofile2.h"

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// Decodes ahead of the caller on a worker thread. The source is read in
// chunks of its own size and handed out again in whatever sizes the caller
// asks for; since a source's frames do not depend on how they are asked
// for, the caller gets exactly what reading the source directly would give.
class ReadAhead {
public:
    // Reads the next `frames` frames, fewer at the end, none once all are read.
    using Source = std::function<AudioStatus(int frames, std::vector<float> &samples)>;

    ReadAhead(Source source, int channels);
    ~ReadAhead(); // stops the worker after at most the chunk it is decoding
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // As Source; a failure on the worker is returned here, where it was met.
    AudioStatus read(int frames, std::vector<float> &samples);

private:
    struct Chunk {
        AudioStatus status;
        std::vector<float> samples; // empty: the end
    };

    void run();
    bool nextChunk();

    Source m_source;
    const int m_channels;
    BoundedQueue<Chunk> m_queue;
    std::vector<float> m_current;
    size_t m_position = 0;
    bool m_ended = false;
    AudioStatus m_failure;
    std::atomic<bool> m_lost = false; // the worker ended without a word
    std::thread m_worker;
};
