#pragma once

#include <QByteArray>
#include <QString>

// Gives a file its owner write bit for the life of the object when the bit
// is clear, and puts the original mode back on every way out.
class WmaWritableFile {
public:
    explicit WmaWritableFile(const QString &fileName);
    ~WmaWritableFile();
    WmaWritableFile(const WmaWritableFile &) = delete;
    WmaWritableFile &operator=(const WmaWritableFile &) = delete;

private:
    QByteArray m_path;
    unsigned m_originalMode = 0;
    bool m_changed = false;
};
