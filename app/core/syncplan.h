#pragma once

#include "result.h"
#include "syncrecord.h"

#include <QList>
#include <QString>

struct AudioFileinfo;

// The rules of a library sync that need no audio: which sources there are,
// where their outputs go, and what a source needs from its size and time,
// its output's and the record's.
namespace SyncPlan {

// A file's size and modification time; size -1 when there is no file.
struct Stamp {
    qint64 size = -1;
    qint64 modified = 0; // nanoseconds since the epoch
    bool exists() const { return size >= 0; }
    bool operator==(const Stamp &) const = default;
};
Stamp stampOf(const QString &path);

enum class Need {
    New,          // never converted: convert
    Remake,       // its output is gone: convert again
    Reencode,     // the profile differs: convert, then the old output goes
    Check,        // the source changed: its audio decides between convert and re-tag
    UpToDate,     // nothing to do
    OutputEdited, // someone changed the output since: it is theirs now and left alone
};

// What one source needs. `recorded` may be null.
Need needOf(const SyncRecord::Entry *recorded, const Stamp &source, const Stamp &output, int profile);

// One audio source found under the inputs.
struct Source {
    QString path;   // absolute; opens the file
    QString folder; // where its output goes, relative to the output folder ("" for its top)
};

// The audio files `input` names: a folder walked down (leaving out hidden
// folders, links to folders and `outputFolder`'s own tree), in name order, or
// the file itself, whose output goes to the top. Fails when it names neither.
Result<QList<Source>> sourcesOf(const QString &input, const QString &outputFolder);

// The hidden partial outputs under `folder` that no live run holds, removed.
int removeStalePartials(const QString &folder);

// A digest of the tags a sync carries into an output.
QByteArray tagDigest(const AudioFileinfo &record);

} // namespace SyncPlan
