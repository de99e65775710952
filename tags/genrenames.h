#pragma once

#include <QStringList>

// The genre field's suggestions: position n names ID3v1 genre number n, with
// the common extensions beyond 79. The field stores text, never the number.
inline constexpr int GenreNameCount = 148;
const QStringList &genreNames();
