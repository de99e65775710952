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

Sink *setSink(Sink *s)
{
    Sink *const previous = currentSink;
    currentSink = s;
    return previous;
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

} // namespace Messages
