#include "sourcekinds.h"

#include "taglibtags.h"

#include <QFileInfo>
#include <QStringList>

const QList<SourceKind> &sourceKinds()
{
    static const QList<SourceKind> kinds = {
        {QStringLiteral(".mp3"), QStringLiteral("MP3 Files"), TagReader::Id3},
        {QStringLiteral(".wav"), QStringLiteral("WAV Files"), TagReader::None},
        {QStringLiteral(".wma"), QStringLiteral("WMA Files"), TagReader::Wma},
        {QStringLiteral(".ogg"), QStringLiteral("OGG Files"), TagReader::Ogg,
         QStringLiteral("vorbis opus oggflac")},
        {QStringLiteral(".flac"), QStringLiteral("FLAC Files"), TagReader::TagLib, QStringLiteral("flac")},
        {QStringLiteral(".opus"), QStringLiteral("Opus Files"), TagReader::TagLib, QStringLiteral("opus")},
        {QStringLiteral(".m4a"), QStringLiteral("M4A Files"), TagReader::TagLib, QStringLiteral("mp4")},
        {QStringLiteral(".aif"), QStringLiteral("AIFF Files"), TagReader::TagLib, QStringLiteral("aiff")},
        {QStringLiteral(".aiff"), QStringLiteral("AIFF Files"), TagReader::TagLib, QStringLiteral("aiff")},
        {QStringLiteral(".wv"), QStringLiteral("WavPack Files"), TagReader::TagLib,
         QStringLiteral("wavpack")},
        {QStringLiteral(".vox"), QString(), TagReader::None},
    };
    return kinds;
}

const SourceKind *sourceKindOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return nullptr;
    const QString extension = name.mid(dot).toLower();
    for (const SourceKind &kind : sourceKinds()) {
        if (kind.extension == extension)
            return &kind;
    }
    return nullptr;
}

bool contentMatchesKind(const QString &path)
{
    const SourceKind *kind = sourceKindOf(path);
    if (!kind || kind->content.isEmpty())
        return true;
    const QString found = TagLibContentKind(path);
    return !found.isEmpty() && kind->content.split(QLatin1Char(' ')).contains(found);
}

QString openFileFilter()
{
    QStringList all;
    QStringList entries; // one per filter name, its extensions together
    QStringList names;
    for (const SourceKind &kind : sourceKinds()) {
        if (kind.filterName.isEmpty())
            continue;
        const QString pattern = QLatin1Char('*') + kind.extension;
        all << pattern;
        const qsizetype at = names.indexOf(kind.filterName);
        if (at < 0) {
            names << kind.filterName;
            entries << pattern;
        } else {
            entries[at] += QLatin1Char(' ') + pattern;
        }
    }
    QStringList filter{QStringLiteral("All Supported Files (%1)").arg(all.join(QLatin1Char(' ')))};
    for (qsizetype i = 0; i < names.size(); ++i)
        filter << QStringLiteral("%1(%2)").arg(names[i], entries[i]);
    filter << QStringLiteral("All File(*.*)");
    return filter.join(QStringLiteral(";;"));
}
