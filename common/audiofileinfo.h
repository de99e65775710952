#pragma once

#include "coverpicture.h"

#include <QString>
#include <QVector>

// The tag values of one file list row, in the file tag table beside the list.
// Every member has an initialiser, so designated initialisers may name any few.
struct AudioFileinfo {
    QString title{};
    QString artist{};
    QString year{};
    QString album{};
    QString comment{};
    QString genre{};
    qint32 duration = 0; // milliseconds
    quint16 track = 0;   // 0: none
    quint16 disc = 0;    // 0: none
    CoverPicture cover{};

    bool operator==(const AudioFileinfo &) const = default;
};

using FileTagTable = QVector<AudioFileinfo>;
