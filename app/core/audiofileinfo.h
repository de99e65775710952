#pragma once

#include <QString>
#include <QVector>

// The tag values of one file list row, in the file tag table beside the list.
struct AudioFileinfo {
    QString title;
    QString artist;
    QString year;
    QString album;
    QString comment;
    QString genre;
    qint32 duration = 0;  // milliseconds

    bool operator==(const AudioFileinfo &) const = default;
};

using FileTagTable = QVector<AudioFileinfo>;
