#include "genrenames.h"

#include <array>

namespace {

// The field stores the chosen text, so the spellings matter: "Christian
// Gangsta" and "Contemporary C" are deliberately shorter than their usual forms.
// clang-format off
constexpr std::array<const char *, GenreNameCount> Names = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "Alternative Rock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native US", "Cabaret", "New Wave", "Psychedelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebop",
    "Latin", "Revival", "Celtic", "Bluegrass", "Avant-garde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humor", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella", "Euro-House",
    "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "Britpop",
    "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary C", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "SynthPop"
};
// clang-format on
static_assert(Names.back() != nullptr, "the genre table is short of names");

} // namespace

const QStringList &genreNames()
{
    static const QStringList names = [] {
        QStringList list;
        list.reserve(GenreNameCount);
        for (const char *name : Names)
            list.append(QString::fromLatin1(name));
        return list;
    }();
    return names;
}

namespace {

// The name of one reference ("17", "RX", "CR"); empty when it is none.
QString referenceName(QStringView reference)
{
    if (reference == u"RX")
        return QStringLiteral("Remix");
    if (reference == u"CR")
        return QStringLiteral("Cover");
    bool ok = false;
    const int number = reference.size() <= 3 ? reference.toInt(&ok) : -1;
    return ok && number >= 0 && number < GenreNameCount ? genreNames().at(number) : QString();
}

} // namespace

QString genreFromId3(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1String("((")))
        return trimmed.mid(1);
    if (!trimmed.startsWith(QLatin1Char('('))) {
        const QString name = referenceName(trimmed);
        return name.isEmpty() ? text : name;
    }
    // "(17)(18)Rock": references first, then an optional refinement.
    QString first;
    qsizetype pos = 0;
    while (pos < trimmed.size() && trimmed.at(pos) == QLatin1Char('(')) {
        const qsizetype close = trimmed.indexOf(QLatin1Char(')'), pos);
        if (close < 0)
            return text;
        const QString name = referenceName(QStringView(trimmed).sliced(pos + 1, close - pos - 1));
        if (name.isEmpty())
            return text; // not a reference we know: the text is all there is
        if (first.isEmpty())
            first = name;
        pos = close + 1;
    }
    const QString refinement = trimmed.mid(pos).trimmed();
    return refinement.isEmpty() ? first : refinement;
}
