#pragma once

#include <QLocale>
#include <QString>

#include "tagtext.h"

#include <functional>

// The multiply-divide every scaling of the conversion run uses: a * b / c
// with a 64-bit intermediate, rounded half away from zero; -1 when c is 0
// or the result does not fit in 32 bits.
int MulDiv(int a, int b, int c);

// "hh:mm:ss" from milliseconds; hours may take more than two digits.
QString FormatDuration(qint32 ms);

// File size in megabytes as the Size column shows it: two decimals, at most
// five significant digits, the locale's decimal separator, "MB" appended.
QString FormatSizeMB(qint64 bytes, const QLocale &locale = QLocale());

// Removes the nine characters a file name can't hold: * ? | : " / \ < >
QString CleanTitle(const QString &title);

// `name` with its extension (the text from its last "." on) replaced by
// `extension`, or with `extension` appended when it has none.
QString replaceExtension(const QString &name, const QString &extension);

// The output file name for a row: the caption with the unsafe characters
// and leading dots removed and its extension replaced by ".wma"; a name left
// empty falls back to the source's file name. `numbered` 1..100 gives the
// alternative "<caption up to its first dot>_<n>.wma".
QString outputFileName(const QString &caption, const QString &sourcePath, int numbered = 0);

inline constexpr int kMaxNumberedNames = 100;

// The first free output path in `folder` (which ends in "/"), trying the
// plain name and then the numbered ones; empty when all are taken.
QString chooseOutputPath(const QString &folder, const QString &caption, const QString &sourcePath,
                         const std::function<bool(const QString &)> &exists);

// Where an output is written until it is complete: a hidden name beside the
// final one. While it exists, the final name counts as taken.
QString partialPath(const QString &finalPath);
