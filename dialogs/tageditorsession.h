#pragma once

#include "audiofileinfo.h"

#include <QStringList>

class TaggedRows;

enum class TagField { Title, Artist, Album, Year, Genre, Comment };

// The tag editor's state while it is open, kept apart from the widgets so the
// rules can be driven without a window. Edits go into a working copy of the
// file tag table; only commit() touches the main list.
class TagEditorSession {
public:
    // Opening and Reset: the dialog rows take the main rows' texts, the
    // working copy is a fresh copy of the table, and the first row is shown.
    void open(const QStringList &rowTexts, const FileTagTable &table);
    void open(const TaggedRows &list);
    void close();

    int rowCount() const { return static_cast<int>(m_rowTexts.size()); }
    QString rowText(int row) const { return m_rowTexts.value(row); }
    const QStringList &rowTexts() const { return m_rowTexts; }
    int selectedRow() const { return m_selected; }
    int fallbackRow() const { return m_rowTexts.isEmpty() ? -1 : 0; }

    // Selects and shows `row`; a row out of range (a click on empty space, a
    // selection cleared from the keyboard) selects the fallback row.
    void select(int row);
    // The field values of the selected row; empty when it has no record.
    AudioFileinfo shownValues() const;

    // A change to a field: stored into the selected row at once.
    void store(TagField field, const QString &text);
    // Leaving a field stores once more; leaving the title also renames the
    // selected dialog row.
    void leave(TagField field, const QString &text);
    // "All": every row's record gets the text; row texts stay as they are.
    void applyToAll(TagField field, const QString &text);
    // The track number is edited as digits and stored as a number (empty: 0).
    // It has no "All": a shared track number is never wanted.
    void storeTrack(const QString &text);
    static QString trackText(quint16 track);
    static quint16 trackFromText(const QString &text);

    const FileTagTable &workingCopy() const { return m_working; }
    // Ok: the working copy replaces the table, and rows whose working title
    // is not empty are renamed after it.
    void commit(TaggedRows &list) const;

    static QString &fieldOf(AudioFileinfo &record, TagField field);

private:
    AudioFileinfo *workingRecord(int row);

    QStringList m_rowTexts;
    FileTagTable m_working;
    int m_selected = -1;
};
