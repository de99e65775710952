#pragma once

#include <QStringList>

// The genre field's suggestions: position n names ID3v1 genre number n, with
// the common extensions beyond 79. The field stores text, never the number.
inline constexpr int GenreNameCount = 148;
const QStringList &genreNames();

// An ID3v2 genre as players show it: a genre number, bare ("17") or in
// parentheses ("(17)"), becomes its name, "(RX)" Remix and "(CR)" Cover; a
// text after the references ("(17)Rock music") wins over them; "((" escapes
// a text that starts with "(". Anything else stays as it is.
QString genreFromId3(const QString &text);
