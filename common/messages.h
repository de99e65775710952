#pragma once

#include <QString>
#include <QStringList>

// Every message box of the program passes through here, so tests can read
// which message was shown without a modal box blocking them.
namespace Messages {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void information(const QString &text) = 0; // information box, OK button
    virtual void error(const QString &text) = 0;       // the standard error box
};

// Installs `sink` (nullptr restores the fallback, which prints to stderr).
void setSink(Sink *sink);
Sink *sink();

void information(const QString &text);
void error(const QString &text);

// Records messages instead of showing them; installed for its lifetime.
class Recorder : public Sink {
public:
    Recorder();
    ~Recorder() override;
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
