#pragma once

#include <QList>
#include <QString>

// Which tag module reads a source kind. An ".ogg" file is read by what it
// holds: Vorbis by the Ogg module, Opus and FLAC by TagLib.
enum class TagReader { None, Id3, Ogg, Wma, TagLib };

struct SourceKind {
    QString extension;  // lower case, with its dot
    QString filterName; // its entry in the open-file dialog; empty: reached by folder adding only
    TagReader reader;
    // What TagLibContentKind must find (one of several, space-separated), so
    // a file only named so is refused; empty: anything.
    QString content{};
};

// Every kind of source Sonbrel accepts, in the open-file dialog's order. The
// tag intake, the open-file filter, folder adding and dropped folders all
// take it from here, so a new kind is one row.
const QList<SourceKind> &sourceKinds();
// The kind of a path by its extension in any letter case; null when none.
const SourceKind *sourceKindOf(const QString &path);
// False for a file of a TagLib kind whose content is another kind (an MP3
// named ".opus"): the audio component would take it, the user would not expect it.
bool contentMatchesKind(const QString &path);
// "All Supported Files (*.mp3 ...);;MP3 Files(*.mp3);;...;;All File(*.*)"
QString openFileFilter();
