#pragma once

#include "audiofileinfo.h"
#include "taggedrows.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

// Where a row stands; the Status cell shows it as text.
enum class RowState { None, Unconverted, Converting, Converted, Stopped, Failed };

// The file list's rows and the file tag table, kept aligned: record i belongs
// to row i. The list view `lv` shows this model; tests drive it directly.
class FileListModel : public QAbstractTableModel, public TaggedRows {
    Q_OBJECT
public:
    // A row's six cells after its caption, in this order; the path is never shown.
    enum Cell { Frequency = 0, Channels, Time, Size, Status, Path, CellCount };

    explicit FileListModel(QObject *parent = nullptr);

    int count() const override { return static_cast<int>(m_rows.size()); }

    // Appends a row with this caption and an empty record; returns its index.
    int appendRow(const QString &caption);
    void removeRowAt(int row);
    void clear();

    QString caption(int row) const override;
    void setCaption(int row, const QString &caption) override;
    QString cell(int row, Cell cell) const;
    // Any cell but Status, which follows the row's state.
    void setCell(int row, Cell cell, const QString &text);

    RowState rowState(int row) const;
    void setRowState(int row, RowState state);
    // The one place the Status texts are spelled.
    static QString rowStateText(RowState state);

    AudioFileinfo &record(int row);
    const AudioFileinfo &record(int row) const;
    const FileTagTable &fileTagTable() const override { return m_records; }
    // Replaces the whole table; it must hold one record per row.
    void setFileTagTable(const FileTagTable &table) override;

    // "File Title" is 120 wide up to 10 rows and 105 above.
    int titleColumnWidth() const { return m_titleWidth; }
    void UpdateTitleColumnWidth();

    static QStringList columnCaptions();
    static QList<int> columnWidths(); // the title column's width at 10 rows or fewer

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    void titleColumnWidthChanged(int width);

private:
    struct Row {
        QString caption;
        QString cells[CellCount];
        RowState state = RowState::None;
    };
    QVector<Row> m_rows;
    FileTagTable m_records;
    int m_titleWidth = 120;
};
