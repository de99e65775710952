#include "tageditorsession.h"

#include "taggedrows.h"

void TagEditorSession::open(const QStringList &rowTexts, const FileTagTable &table)
{
    m_rowTexts = rowTexts;
    m_working = table;
    m_selected = -1;
    if (m_rowTexts.isEmpty())
        return;
    m_selected = fallbackRow();
    // The first row's list text, the file name for a file without a title
    // tag, becomes its working title straight away.
    if (AudioFileinfo *record = workingRecord(m_selected))
        record->title = m_rowTexts[m_selected];
}

void TagEditorSession::open(const TaggedRows &list)
{
    QStringList texts;
    texts.reserve(list.count());
    for (int row = 0; row < list.count(); ++row)
        texts.append(list.caption(row));
    open(texts, list.fileTagTable());
}

void TagEditorSession::close()
{
    m_rowTexts.clear();
    m_working.clear();
    m_selected = -1;
}

void TagEditorSession::select(int row)
{
    if (m_rowTexts.isEmpty())
        return;
    m_selected = (row >= 0 && row < rowCount()) ? row : fallbackRow();
}

AudioFileinfo TagEditorSession::shownValues() const
{
    if (m_selected < 0 || m_selected >= m_working.size())
        return {};
    AudioFileinfo shown = m_working[m_selected];
    shown.duration = 0;
    return shown;
}

void TagEditorSession::store(TagField field, const QString &text)
{
    if (AudioFileinfo *record = workingRecord(m_selected))
        fieldOf(*record, field) = text;
}

void TagEditorSession::leave(TagField field, const QString &text)
{
    store(field, text);
    if (field == TagField::Title && m_selected >= 0 && m_selected < rowCount())
        m_rowTexts[m_selected] = text;
}

void TagEditorSession::applyToAll(TagField field, const QString &text)
{
    for (int row = 0; row < rowCount(); ++row) {
        if (AudioFileinfo *record = workingRecord(row))
            fieldOf(*record, field) = text;
    }
}

void TagEditorSession::storeTrack(const QString &text)
{
    if (AudioFileinfo *record = workingRecord(m_selected))
        record->track = trackFromText(text);
}

QString TagEditorSession::trackText(quint16 track)
{
    return track == 0 ? QString() : QString::number(track);
}

quint16 TagEditorSession::trackFromText(const QString &text)
{
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    return ok ? quint16(qMin<uint>(value, 0xFFFF)) : 0;
}

void TagEditorSession::commit(TaggedRows &list) const
{
    if (m_rowTexts.isEmpty())
        return;
    list.setFileTagTable(m_working);
    for (int row = 0; row < m_working.size() && row < list.count(); ++row) {
        if (!m_working[row].title.isEmpty())
            list.setCaption(row, m_working[row].title);
    }
}

QString &TagEditorSession::fieldOf(AudioFileinfo &record, TagField field)
{
    switch (field) {
    case TagField::Title:
        return record.title;
    case TagField::Artist:
        return record.artist;
    case TagField::Album:
        return record.album;
    case TagField::Year:
        return record.year;
    case TagField::Genre:
        return record.genre;
    case TagField::Comment:
        break;
    }
    return record.comment;
}

AudioFileinfo *TagEditorSession::workingRecord(int row)
{
    if (row < 0 || row >= rowCount() || row >= m_working.size())
        return nullptr;
    return &m_working[row];
}
