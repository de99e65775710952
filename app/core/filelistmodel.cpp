#include "filelistmodel.h"

FileListModel::FileListModel(QObject *parent) : QAbstractTableModel(parent) {}

namespace {
// A view lays out the whole text of a cell to elide it: a title of megabytes
// would stall every repaint of the list, so the cell shows its start only.
constexpr qsizetype kShownCaptionCharacters = 1000;

QString shownCaption(const QString &caption)
{
    if (caption.size() <= kShownCaptionCharacters)
        return caption;
    qsizetype cut = kShownCaptionCharacters;
    if (caption.at(cut - 1).isHighSurrogate())
        --cut;
    return caption.left(cut) + QChar(0x2026);
}
} // namespace

int FileListModel::appendRow(const QString &caption)
{
    const int row = count();
    beginInsertRows({}, row, row);
    m_rows.append(Row{caption, {}});
    m_records.append(AudioFileinfo{});
    endInsertRows();
    return row;
}

void FileListModel::removeRowAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    m_records.removeAt(row);
    endRemoveRows();
}

void FileListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_records.clear();
    endResetModel();
}

QString FileListModel::caption(int row) const
{
    return m_rows.value(row).caption;
}

void FileListModel::setCaption(int row, const QString &caption)
{
    if (row < 0 || row >= count())
        return;
    m_rows[row].caption = caption;
    emit dataChanged(index(row, 0), index(row, 0));
}

QString FileListModel::cell(int row, Cell cell) const
{
    if (row < 0 || row >= count() || cell < 0 || cell >= CellCount)
        return {};
    return cell == Status ? rowStateText(m_rows[row].state) : m_rows[row].cells[cell];
}

void FileListModel::setCell(int row, Cell cell, const QString &text)
{
    Q_ASSERT(cell != Status);
    if (row < 0 || row >= count() || cell < 0 || cell >= CellCount || cell == Status)
        return;
    m_rows[row].cells[cell] = text;
    if (cell != Path)
        emit dataChanged(index(row, cell + 1), index(row, cell + 1));
}

RowState FileListModel::rowState(int row) const
{
    return row >= 0 && row < count() ? m_rows[row].state : RowState::None;
}

void FileListModel::setRowState(int row, RowState state)
{
    if (row < 0 || row >= count())
        return;
    m_rows[row].state = state;
    emit dataChanged(index(row, Status + 1), index(row, Status + 1));
}

QString FileListModel::rowStateText(RowState state)
{
    switch (state) {
    case RowState::None:
        break;
    case RowState::Unconverted:
        return QStringLiteral("Unconvert");
    case RowState::Converting:
        return QStringLiteral("Converting");
    case RowState::Converted:
        return QStringLiteral("finish");
    case RowState::Stopped:
        return QStringLiteral("Stopped");
    case RowState::Failed:
        return QStringLiteral("Failed");
    }
    return {};
}

AudioFileinfo &FileListModel::record(int row)
{
    return m_records[row];
}
const AudioFileinfo &FileListModel::record(int row) const
{
    return m_records[row];
}

void FileListModel::setFileTagTable(const FileTagTable &table)
{
    if (table.size() == m_records.size())
        m_records = table;
}

void FileListModel::UpdateTitleColumnWidth()
{
    const int width = count() > 10 ? 105 : 120;
    if (width != m_titleWidth) {
        m_titleWidth = width;
        emit titleColumnWidthChanged(width);
    }
}

QStringList FileListModel::columnCaptions()
{
    return {QStringLiteral("File Title"), QStringLiteral("Frequency"), QStringLiteral("Channels"),
            QStringLiteral("Time"),       QStringLiteral("Size"),      QStringLiteral("Status")};
}

QList<int> FileListModel::columnWidths()
{
    return {120, 70, 60, 60, 60, 70};
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columnCaptions().size());
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const Row &row = m_rows[index.row()];
        if (index.column() == 0)
            return role == Qt::ToolTipRole ? row.cells[Path] : shownCaption(row.caption);
        return cell(index.row(), static_cast<Cell>(index.column() - 1));
    }
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return columnCaptions().value(section);
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
