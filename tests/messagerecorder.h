#pragma once

#include "messages.h"

#include <QStringList>

namespace Messages {

// Records messages instead of showing them; installed for its lifetime.
class Recorder : public Sink {
public:
    Recorder() : m_previous(setSink(this)) {}
    ~Recorder() override { setSink(m_previous); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    void information(const QString &text) override
    {
        informations << text;
        all << text;
    }
    void error(const QString &text) override
    {
        errors << text;
        all << text;
    }
    void clear()
    {
        informations.clear();
        errors.clear();
        all.clear();
    }

    QStringList informations;
    QStringList errors;
    QStringList all;

private:
    Sink *m_previous;
};

} // namespace Messages
