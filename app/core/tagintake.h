#pragma once

#include "audiofileinfo.h"
#include "result.h"
#include "wmatags.h"

#include <QString>

class FileListModel;

// Reads the tags of a newly added file, with the reader its kind names (see
// sourcekinds.h), into the row's record and lets a usable title become the
// row's caption. An unreadable Ogg comment block raises the reader's error.
void TagIntake(const QString &path, FileListModel &list, int row);

// Writes a converted row's title, artist, album, year, genre, track and disc
// numbers and cover into its WMA output; fails with why it could not, or
// with what was left out (a cover too large or undecodable).
Result<> CarryTags(const QString &outputPath, const AudioFileinfo &record);
