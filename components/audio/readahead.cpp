#include "readahead.h"

#include "workerfailure.h"

#include <algorithm>

namespace {
// Frames per decoded chunk, and chunks that may wait: a fraction of a second
// at any rate, so a stop is quick and memory does not grow with the file.
constexpr int kChunkFrames = 4096;
constexpr size_t kDepth = 8;
} // namespace

ReadAhead::ReadAhead(Source source, int channels)
    : m_source(std::move(source)), m_channels(channels), m_queue(kDepth)
{
    m_worker = std::thread(&ReadAhead::run, this);
}

ReadAhead::~ReadAhead()
{
    m_queue.cancel();
    m_worker.join();
}

void ReadAhead::run()
{
    try {
        for (;;) {
            Chunk chunk;
            chunk.status = failureOnWorker([&] { return m_source(kChunkFrames, chunk.samples); }, "decoding");
            const bool last = !chunk.status.ok || chunk.samples.empty();
            if (!m_queue.push(std::move(chunk)))
                return;
            if (last) {
                m_queue.close();
                return;
            }
        }
    } catch (...) {
        // Not even the queue could take a chunk: out of memory.
        m_lost = true;
        m_queue.close();
    }
}

bool ReadAhead::nextChunk()
{
    std::optional<Chunk> chunk = m_queue.pop();
    if (!chunk && m_lost) {
        m_failure = AudioStatus::failure(QStringLiteral("Out of memory while decoding."));
        return false;
    }
    if (!chunk || (chunk->status.ok && chunk->samples.empty())) {
        m_ended = true;
        return false;
    }
    if (!chunk->status.ok) {
        m_failure = chunk->status;
        return false;
    }
    m_current = std::move(chunk->samples);
    m_position = 0;
    return true;
}

AudioStatus ReadAhead::read(int frames, std::vector<float> &samples)
{
    samples.clear();
    if (!m_failure.ok)
        return m_failure;
    const size_t wanted = static_cast<size_t>(std::max(frames, 0)) * static_cast<size_t>(m_channels);
    while (samples.size() < wanted) {
        if (m_position == m_current.size() && (m_ended || !nextChunk())) {
            if (!m_failure.ok) {
                samples.clear();
                return m_failure;
            }
            break;
        }
        const size_t take = std::min(wanted - samples.size(), m_current.size() - m_position);
        const auto from = m_current.begin() + static_cast<std::ptrdiff_t>(m_position);
        samples.insert(samples.end(), from, from + static_cast<std::ptrdiff_t>(take));
        m_position += take;
    }
    return {};
}
