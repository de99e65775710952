#pragma once

#include <QString>
#include <stdexcept>

// A skin call that failed: the file is missing or broken, or a form is absent.
class SkinError : public std::runtime_error {
public:
    explicit SkinError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};
