#pragma once

#include <QString>

// An output's hidden partial file is locked (an advisory lock) for as long as
// a run writes it, so another run can tell a live partial file from one that
// a killed run left behind.
class PartialFileLock {
public:
    PartialFileLock() = default;
    ~PartialFileLock();
    PartialFileLock(const PartialFileLock &) = delete;
    PartialFileLock &operator=(const PartialFileLock &) = delete;

    // Locks the file `path` names; false when the file is gone or was
    // replaced meanwhile (a run that took it for stale removed it), and then
    // the caller creates it again.
    bool acquire(const QString &path);
    void release();

private:
    int m_fd = -1;
};

namespace PartialFile {

// Removes `path` when it is a partial output (an ASF file) that no run
// holds locked; true when it was removed. Anything else, or a file some run
// still writes, is left alone.
bool removeIfStale(const QString &path);

// True for a name the run gives partial files (".NAME.wma.part").
bool isPartialName(const QString &fileName);

} // namespace PartialFile
