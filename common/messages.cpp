#include "messages.h"

#include <cstdio>

namespace Messages {
namespace {

class StderrSink : public Sink {
public:
    void information(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void error(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
};

StderrSink fallbackSink;
Sink *currentSink = nullptr;

} // namespace

void setSink(Sink *s)
{
    currentSink = s;
}
Sink *sink()
{
    return currentSink ? currentSink : &fallbackSink;
}
void information(const QString &text)
{
    sink()->information(text);
}
void error(const QString &text)
{
    sink()->error(text);
}

Recorder::Recorder() : m_previous(currentSink)
{
    setSink(this);
}
Recorder::~Recorder()
{
    setSink(m_previous);
}

} // namespace Messages
