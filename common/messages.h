#pragma once

#include <QString>

// Every message box of the program passes through here, so tests can read
// which message was shown without a modal box blocking them.
namespace Messages {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void information(const QString &text) = 0; // information box, OK button
    virtual void error(const QString &text) = 0;       // the standard error box
};

// Installs `sink` (nullptr restores the fallback, which prints to stderr) and
// returns the one it replaces, so that a scoped sink can put it back.
Sink *setSink(Sink *sink);
Sink *sink();

void information(const QString &text);
void error(const QString &text);

} // namespace Messages
