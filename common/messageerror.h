#pragma once

#include <QString>

#include <stdexcept>

// A failure that carries the text the user is shown; what() holds the same
// text in UTF-8 for callers that only know std::exception.
class MessageError : public std::runtime_error {
public:
    explicit MessageError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
