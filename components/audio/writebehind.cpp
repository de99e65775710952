#include "writebehind.h"

#include "workerfailure.h"

namespace {
// Writes that may wait: enough to ride over an uneven encoder, few enough
// that a stop, which finishes the file, is quick.
constexpr size_t kDepth = 8;
} // namespace

WriteBehind::WriteBehind(Sink sink) : m_sink(std::move(sink)), m_queue(kDepth) {}

WriteBehind::~WriteBehind()
{
    drain();
}

void WriteBehind::run()
{
    while (std::optional<std::vector<float>> samples = m_queue.pop()) {
        AudioStatus status = failureOnWorker([&] { return m_sink(*samples); }, "encoding");
        if (!status.ok) {
            {
                const std::lock_guard lock(m_mutex);
                m_failure = std::move(status);
            }
            // Nothing after a lost chunk may reach the file.
            m_queue.cancel();
            return;
        }
    }
}

AudioStatus WriteBehind::reportFailure()
{
    const std::lock_guard lock(m_mutex);
    m_reported = m_reported || !m_failure.ok;
    return m_failure;
}

AudioStatus WriteBehind::write(std::vector<float> samples)
{
    if (AudioStatus failure = reportFailure(); !failure.ok)
        return failure;
    if (samples.empty())
        return {};
    if (!m_worker.joinable())
        m_worker = std::thread(&WriteBehind::run, this);
    if (!m_queue.push(std::move(samples)))
        return reportFailure(); // the worker failed meanwhile
    return {};
}

void WriteBehind::drain()
{
    if (!m_worker.joinable())
        return;
    m_queue.close();
    m_worker.join();
    m_queue.reopen();
}

AudioStatus WriteBehind::finish()
{
    drain();
    const std::lock_guard lock(m_mutex);
    AudioStatus unreported = m_reported ? AudioStatus{} : m_failure;
    m_failure = {};
    m_reported = false;
    return unreported;
}
