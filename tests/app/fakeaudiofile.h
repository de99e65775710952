#pragma once

#include "iaudiofile2.h"

#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

// A scripted audio component: sources are described by path, every call is
// logged, and any call can be made to fail.
struct FakeSource {
    int sampleRate = 44100;
    int channels = 2;
    int durationMs = 1000;
    int sampleCount = 44100;
    bool failRead = false;
    int readable = -1; // frames it gives before it ends; all when negative
};

struct FakeAudioState {
    QHash<QString, FakeSource> sources; // by file name; others fail to open
    QStringList log;
    QList<int> readSizes;
    QString failOn;                                        // a call name, e.g. "WriteSamples"
    int failAfter = 0;                                     // calls of that name that still succeed first
    bool createFiles = true;                               // CreateOutput creates an empty file, exclusively
    std::function<void(const QString &path)> beforeCreate; // another process acting first
    std::recursive_mutex mutex; // jobs call their instances from threads of their own
};

class FakeAudioFile : public IAudioFile2 {
public:
    explicit FakeAudioFile(std::shared_ptr<FakeAudioState> state) : m_state(std::move(state)) {}

    AudioStatus Open(const QString &path, int mode, int flags) override
    {
        if (auto s =
                call(QStringLiteral("Open %1 %2 %3").arg(QFileInfo(path).fileName()).arg(mode).arg(flags));
            !s.ok)
            return s;
        const auto it = m_state->sources.constFind(QFileInfo(path).fileName());
        if (it == m_state->sources.constEnd())
            return AudioStatus::failure(QStringLiteral("cannot open ") + path);
        m_source = *it;
        m_open = true;
        m_position = 0;
        return {};
    }
    AudioStatus Close() override
    {
        m_open = false;
        return call(QStringLiteral("Close"));
    }
    bool IsOpen() const override { return m_open; }
    int SampleCount() const override { return m_open ? m_source.sampleCount : 0; }
    int SampleRate() const override { return m_open ? m_source.sampleRate : 0; }
    int Channels() const override { return m_open ? m_source.channels : 0; }
    int DurationMs() const override { return m_open ? m_source.durationMs : 0; }
    int SourceFormatA() const override { return SampleRate(); }
    int SourceFormatB() const override { return Channels(); }
    AudioStatus ReadSamples(int count, std::vector<float> &samples) override
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->readSizes << count;
        if (auto s = call(QStringLiteral("ReadSamples")); !s.ok)
            return s;
        if (m_source.failRead)
            return AudioStatus::failure(QStringLiteral("cannot decode"));
        const int end = m_source.readable < 0 ? m_source.sampleCount : m_source.readable;
        const int frames = std::max(0, std::min(count, end - m_position));
        m_position += frames;
        samples.assign(static_cast<size_t>(frames) * m_source.channels, 0.5f);
        return {};
    }
    AudioStatus SetWmaProfile(int n) override { return call(QStringLiteral("SetWmaProfile %1").arg(n)); }
    AudioStatus SetSourceFormat(int a, int b) override
    {
        return call(QStringLiteral("SetSourceFormat %1 %2").arg(a).arg(b));
    }
    AudioStatus CreateOutput(const QString &path, int flags) override
    {
        if (auto s = call(QStringLiteral("CreateOutput %1 %2").arg(QFileInfo(path).fileName()).arg(flags));
            !s.ok)
            return s;
        if (m_state->beforeCreate)
            m_state->beforeCreate(path);
        if (m_state->createFiles) {
            QFile file(path);
            if (!file.open(QIODevice::NewOnly))
                return AudioStatus::failure(QStringLiteral("exists: ") + path);
        }
        m_open = true;
        return {};
    }
    AudioStatus WriteSamples(const std::vector<float> &samples) override
    {
        return call(QStringLiteral("WriteSamples %1").arg(samples.size()));
    }
    AudioStatus SetActive(bool active) override
    {
        if (!active)
            m_open = false;
        return call(QStringLiteral("SetActive %1").arg(active ? 1 : 0));
    }

private:
    AudioStatus call(const QString &entry)
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->log << entry;
        if (!m_state->failOn.isEmpty() && entry.startsWith(m_state->failOn)) {
            if (m_state->failAfter-- <= 0)
                return AudioStatus::failure(QStringLiteral("injected failure in ") + entry);
        }
        return {};
    }

    std::shared_ptr<FakeAudioState> m_state;
    FakeSource m_source;
    bool m_open = false;
    int m_position = 0;
};
