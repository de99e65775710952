#pragma once

#include "messageerror.h"

#include <QString>

// A write the platform refused; the message is "Unable to write to <file>".
class SettingsWriteError : public MessageError {
public:
    using MessageError::MessageError;
};

// The settings file in the profile (INI) format: "[Section]" lines
// and "key=value" lines, names matched without regard to case. Nothing is
// cached: every read and every write goes to the file at once. Lines that are
// not ours are kept byte for byte when the file is rewritten (line endings,
// byte-order marks, bytes that are not UTF-8), an entry that already holds
// the value written keeps its spelling, and every write replaces the file
// atomically.
class ProfileFile {
public:
    explicit ProfileFile(QString path);

    // "sonbrel.ini" in the user's configuration folder.
    static QString defaultPath();

    const QString &path() const { return m_path; }

    // At most 2047 characters come back; a longer hand-edited value is cut.
    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Decimal, or hexadecimal after "0x"/"0X"; missing, empty or not a
    // number gives the default.
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;
    // An integer entry: 0 is false, any other number true.
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;

    // Each throws SettingsWriteError when the file cannot be written.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    void WriteBool(const QString &section, const QString &key, bool value);

private:
    QString m_path;
};
