#include "taglibtags.h"

#include "asfformat.h"
#include "tagtext.h"

#include <QFile>

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

enum class Kind { None, Flac, Opus, OggFlac, Vorbis, Mp4, Aiff, WavPack, Asf };

QString toQString(const TagLib::String &text)
{
    return QString::fromStdString(text.to8Bit(true));
}

QByteArray toQByteArray(const TagLib::ByteVector &bytes)
{
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

quint32 synchsafe(const QByteArray &bytes, int offset)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 7) | (quint8(bytes[offset + i]) & 0x7F);
    return value;
}

// The opening bytes of each kind; a FLAC stream may follow an ID3v2 tag.
Kind kindOf(QFile &file)
{
    QByteArray head = file.read(64);
    if (head.size() >= 10 && head.startsWith("ID3")) {
        const qint64 skip = 10 + qint64(synchsafe(head, 6)) + ((quint8(head[5]) & 0x10) ? 10 : 0);
        if (!file.seek(skip))
            return Kind::None;
        head = file.read(64);
        return head.startsWith("fLaC") ? Kind::Flac : Kind::None;
    }
    if (head.startsWith("fLaC"))
        return Kind::Flac;
    if (head.startsWith("OggS") && head.mid(28, 8) == "OpusHead")
        return Kind::Opus;
    if (head.startsWith("OggS") && head.mid(28, 5) == "\x7F"
                                                      "FLAC")
        return Kind::OggFlac;
    if (head.startsWith("OggS") && head.mid(28, 7) == "\x01vorbis")
        return Kind::Vorbis;
    if (head.mid(4, 4) == "ftyp")
        return Kind::Mp4;
    if (head.startsWith("FORM") && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC"))
        return Kind::Aiff;
    if (head.startsWith("wvpk"))
        return Kind::WavPack;
    if (head.size() >= 16 &&
        asf::isGuid(reinterpret_cast<const uint8_t *>(head.constData()), asf::kHeaderObject))
        return Kind::Asf;
    return Kind::None;
}

// Several values of one name: the last one wins, as for the other readers.
QString property(const TagLib::PropertyMap &properties, const char *name)
{
    const auto it = properties.find(name);
    if (it == properties.end() || it->second.isEmpty())
        return {};
    return TrimControl(toQString(it->second.back()));
}

CoverPicture picture(const TagLib::ByteVector &data, const TagLib::String &mimeType, int type)
{
    // A picture beyond the limit is skipped before it is copied.
    if (data.size() > unsigned(MaxCoverBytes))
        return oversizedCover(data.size());
    return carriedPicture(toQByteArray(data), toQString(mimeType), type);
}

CoverPicture chooseFlacPicture(const TagLib::List<TagLib::FLAC::Picture *> &pictures)
{
    if (pictures.isEmpty())
        return {};
    const auto front = std::find_if(pictures.begin(), pictures.end(), [](const TagLib::FLAC::Picture *p) {
        return p->type() == TagLib::FLAC::Picture::FrontCover;
    });
    const TagLib::FLAC::Picture *chosen = front != pictures.end() ? *front : pictures.front();
    return picture(chosen->data(), chosen->mimeType(), chosen->type());
}

CoverPicture id3v2Picture(const TagLib::ID3v2::Tag *tag)
{
    using TagLib::ID3v2::AttachedPictureFrame;
    if (!tag)
        return {};
    const AttachedPictureFrame *chosen = nullptr;
    for (const TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        const auto *apic = dynamic_cast<const AttachedPictureFrame *>(frame);
        if (apic && (!chosen || (apic->type() == AttachedPictureFrame::FrontCover &&
                                 chosen->type() != AttachedPictureFrame::FrontCover)))
            chosen = apic;
    }
    return chosen ? picture(chosen->picture(), chosen->mimeType(), chosen->type()) : CoverPicture{};
}

// MP4 and APE tags keep no picture type: their cover is the front cover.
CoverPicture mp4Picture(const TagLib::MP4::Tag *tag)
{
    if (!tag || !tag->contains("covr"))
        return {};
    const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
    return covers.isEmpty() ? CoverPicture{} : picture(covers.front().data(), {}, 3);
}

CoverPicture asfPicture(const TagLib::ASF::Tag *tag)
{
    if (!tag)
        return {};
    std::optional<TagLib::ASF::Picture> chosen;
    for (const TagLib::ASF::Attribute &value : tag->attribute("WM/Picture")) {
        if (value.type() != TagLib::ASF::Attribute::BytesType)
            continue;
        const TagLib::ASF::Picture candidate = value.toPicture();
        if (candidate.isValid() && (!chosen || (candidate.type() == TagLib::ASF::Picture::FrontCover &&
                                                chosen->type() != TagLib::ASF::Picture::FrontCover)))
            chosen = candidate;
    }
    return chosen ? picture(chosen->picture(), chosen->mimeType(), chosen->type()) : CoverPicture{};
}

// An APE binary item: a file name, a zero byte, then the picture.
CoverPicture apePicture(const TagLib::APE::Tag *tag)
{
    if (!tag)
        return {};
    const TagLib::APE::ItemListMap &items = tag->itemListMap();
    const auto it = items.find("COVER ART (FRONT)");
    if (it == items.end())
        return {};
    const TagLib::ByteVector value = it->second.binaryData();
    const int zero = value.find('\0');
    return zero < 0 ? CoverPicture{} : picture(value.mid(unsigned(zero) + 1), {}, 3);
}

// TagLib reads only the comment of FLAC in Ogg: its pictures are metadata
// blocks of their own, one per packet after the first, until the last block.
CoverPicture oggFlacPicture(TagLib::Ogg::FLAC::File &file)
{
    constexpr unsigned PictureBlock = 6;
    constexpr unsigned MaxBlocks = 128;
    TagLib::List<TagLib::FLAC::Picture *> pictures;
    pictures.setAutoDelete(true);
    for (unsigned i = 1; i < MaxBlocks; ++i) {
        const TagLib::ByteVector packet = file.packet(i);
        if (packet.size() < 4)
            break;
        const unsigned type = static_cast<unsigned char>(packet[0]) & 0x7F;
        if (type == PictureBlock) {
            auto *picture = new TagLib::FLAC::Picture;
            if (picture->parse(packet.mid(4)))
                pictures.append(picture);
            else
                delete picture;
        }
        if (static_cast<unsigned char>(packet[0]) & 0x80) // the last metadata block
            break;
    }
    return chooseFlacPicture(pictures);
}

// Opens the file as `File` and takes its properties and, through `coverOf`,
// its cover. False when TagLib finds the file invalid.
template <typename File, typename CoverOf>
bool readFile(const char *name, TagLib::PropertyMap &properties, CoverPicture &cover, CoverOf coverOf)
{
    File file(name, false);
    if (!file.isValid())
        return false;
    properties = file.properties();
    cover = coverOf(file);
    return true;
}

// Ogg Vorbis and Opus keep their pictures in their comment.
constexpr auto commentPicture = [](auto &file) {
    return file.tag() ? chooseFlacPicture(file.tag()->pictureList()) : CoverPicture{};
};

bool readKind(Kind kind, const QByteArray &path, TagLib::PropertyMap &properties, CoverPicture &cover)
{
    const char *name = path.constData();
    switch (kind) {
    case Kind::Flac:
        return readFile<TagLib::FLAC::File>(name, properties, cover, [](TagLib::FLAC::File &file) {
            const CoverPicture own = chooseFlacPicture(file.pictureList());
            return own.isEmpty() && file.hasXiphComment()
                       ? chooseFlacPicture(file.xiphComment()->pictureList())
                       : own;
        });
    case Kind::Opus:
        return readFile<TagLib::Ogg::Opus::File>(name, properties, cover, commentPicture);
    case Kind::OggFlac:
        return readFile<TagLib::Ogg::FLAC::File>(name, properties, cover, oggFlacPicture);
    case Kind::Vorbis:
        return readFile<TagLib::Ogg::Vorbis::File>(name, properties, cover, commentPicture);
    case Kind::Mp4:
        return readFile<TagLib::MP4::File>(name, properties, cover,
                                           [](TagLib::MP4::File &file) { return mp4Picture(file.tag()); });
    case Kind::Aiff:
        return readFile<TagLib::RIFF::AIFF::File>(
            name, properties, cover, [](TagLib::RIFF::AIFF::File &file) {
                return id3v2Picture(file.hasID3v2Tag() ? file.tag() : nullptr);
            });
    case Kind::WavPack:
        return readFile<TagLib::WavPack::File>(name, properties, cover, [](TagLib::WavPack::File &file) {
            return apePicture(file.hasAPETag() ? file.APETag() : nullptr);
        });
    case Kind::Asf:
        return readFile<TagLib::ASF::File>(name, properties, cover,
                                           [](TagLib::ASF::File &file) { return asfPicture(file.tag()); });
    case Kind::None:
        break;
    }
    return false;
}

} // namespace

QString TagLibContentKind(const QString &fileName)
{
    QFile file;
    if (!openRegularFile(fileName, file))
        return {};
    switch (kindOf(file)) {
    case Kind::Flac:
        return QStringLiteral("flac");
    case Kind::Opus:
        return QStringLiteral("opus");
    case Kind::OggFlac:
        return QStringLiteral("oggflac");
    case Kind::Vorbis:
        return QStringLiteral("vorbis");
    case Kind::Mp4:
        return QStringLiteral("mp4");
    case Kind::Aiff:
        return QStringLiteral("aiff");
    case Kind::WavPack:
        return QStringLiteral("wavpack");
    case Kind::Asf: // read by the WMA reader; TagLib only stands in for it
    case Kind::None:
        break;
    }
    return {};
}

bool readTagLibSource(const QString &fileName, AudioFileinfo &tags)
{
    try {
        QFile file;
        if (!openRegularFile(fileName, file))
            return false;
        const Kind kind = kindOf(file);
        file.close();
        TagLib::PropertyMap properties;
        CoverPicture cover;
        if (kind == Kind::None || !readKind(kind, QFile::encodeName(fileName), properties, cover))
            return false;
        tags.title = property(properties, "TITLE");
        tags.artist = property(properties, "ARTIST");
        tags.album = property(properties, "ALBUM");
        tags.year = yearFromDate(property(properties, "DATE"));
        tags.comment = property(properties, "COMMENT");
        tags.genre = property(properties, "GENRE");
        tags.track = leadingNumber(property(properties, "TRACKNUMBER"));
        tags.disc = leadingNumber(property(properties, "DISCNUMBER"));
        tags.cover = sharedCover(cover);
        return true;
    } catch (...) {
        // A tag that cannot be read leaves the record as it was.
        return false;
    }
}

bool takeDiscAndCover(const QString &fileName, AudioFileinfo &tags)
{
    AudioFileinfo found;
    if (!readTagLibSource(fileName, found))
        return false;
    tags.disc = found.disc;
    tags.cover = found.cover;
    return true;
}

CoverPicture xiphCommentCover(const QList<XiphPictureField> &fields)
{
    TagLib::List<TagLib::FLAC::Picture *> pictures;
    pictures.setAutoDelete(true);
    for (const XiphPictureField &field : fields) {
        // As TagLib decodes: whole groups of four, any stray character spoils the value.
        const auto decoded =
            QByteArray::fromBase64Encoding(field.base64, QByteArray::AbortOnBase64DecodingErrors);
        const QByteArray bytes = decoded && field.base64.size() % 4 == 0 ? *decoded : QByteArray();
        if (bytes.isEmpty())
            continue;
        const TagLib::ByteVector data(bytes.constData(), unsigned(bytes.size()));
        auto picture = std::make_unique<TagLib::FLAC::Picture>();
        if (field.legacy) {
            // The old field holds the image itself, of no stated type.
            picture->setData(data);
            picture->setMimeType("image/");
            picture->setType(TagLib::FLAC::Picture::Other);
        } else if (!picture->parse(data)) {
            continue;
        }
        pictures.append(picture.release());
    }
    return sharedCover(chooseFlacPicture(pictures));
}
