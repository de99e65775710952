#include "filelist.h"

#include "filelistmodel.h"
#include "messages.h"
#include "platformfiles.h"
#include "rules.h"
#include "sourcekinds.h"
#include "taudiofile2.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString nameProblem(const QString &name, const QString &reason)
{
    return QStringLiteral("%1 cannot be opened: its name is not valid UTF-8 (%2).").arg(name, reason);
}

} // namespace

FileList::FileList(FileListModel &list, TAudioFile2 &reader) : m_list(list), m_reader(reader) {}

void FileList::pump() const
{
    if (m_pump)
        m_pump();
    else
        QCoreApplication::processEvents();
}

Result<QString> FileList::locate(const QString &path)
{
    const Result<QString> found = PlatformFiles::findOnDisk(path);
    if (found)
        return found;
    return Failure{nameProblem(QFileInfo(path).fileName(), found.reason())};
}

bool FileList::AddOneFile(const QString &givenPath)
{
    const Result<QString> located = locate(givenPath);
    if (!located) {
        Messages::information(located.reason());
        return false;
    }
    const QString &path = *located;
    const int row = m_list.appendRow(QFileInfo(path).fileName());
    m_list.UpdateTitleColumnWidth();

    // A pipe or a device would block the tag readers; the audio component
    // refuses it, which is all the user needs to hear.
    const QFileInfo info(path);
    const bool special = info.exists() && !info.isFile() && !info.isDir();
    if (m_tagIntake && !special) {
        try {
            m_tagIntake(path, m_list, row);
        } catch (const std::exception &error) {
            // A row without its cells could never be converted; the add
            // goes on with the next file after the reader's message.
            m_list.removeRowAt(row);
            m_list.UpdateTitleColumnWidth();
            Messages::error(QString::fromUtf8(error.what()));
            return false;
        }
    }

    int duration = 0;
    int sampleRate = 0;
    int channels = 0;
    bool probed = false;
    QString reason;
    try {
        // Opened first, so a file that cannot be read says so.
        if (m_reader.IsOpen())
            m_reader.Close();
        m_reader.Open(path, 0, 1);
        if (!contentMatchesKind(path))
            throw AudioFileError(QStringLiteral("\"%1\" is not the kind of file its name says.").arg(path));
        duration = m_reader.DurationMs();
        sampleRate = m_reader.SampleRate();
        channels = m_reader.Channels();
        probed = duration != 0;
        if (!probed)
            reason = QStringLiteral("\"%1\" holds no sound.").arg(path);
    } catch (const AudioFileError &error) {
        probed = false;
        reason = error.message();
    }
    if (!probed) {
        try {
            m_reader.Close();
            m_reader.SetActive(false);
            m_reader.SetActive(true);
        } catch (const AudioFileError &) {
            // The reader is being reset; a failure here changes nothing for the user.
        }
        QString text = QFileInfo(path).fileName() + QStringLiteral(" this File is not supported.");
        if (m_explainRefusals && !reason.isEmpty())
            text += QLatin1Char(' ') + reason;
        Messages::information(text);
        m_list.removeRowAt(row);
        m_list.UpdateTitleColumnWidth();
        return false;
    }

    m_list.setCell(row, FileListModel::Frequency, QString::number(sampleRate) + QStringLiteral(" Hz"));
    m_list.setCell(row, FileListModel::Channels,
                   channels == 1 ? QStringLiteral(" Mono ") : QStringLiteral(" Stereo "));
    m_list.setCell(row, FileListModel::Time, FormatDuration(duration));
    m_list.record(row).duration = duration;
    m_reader.Close();
    m_list.setCell(row, FileListModel::Size, FormatSizeMB(QFileInfo(path).size()));
    m_list.setRowState(row, RowState::Unconverted);
    m_list.setCell(row, FileListModel::Path, path);
    return true;
}

void FileList::AddPaths(const QStringList &paths)
{
    for (const QString &path : paths) {
        pump();
        AddOneFile(path);
    }
}

bool FileList::hasFolderExtension(const QString &fileName)
{
    return sourceKindOf(fileName) != nullptr;
}

QList<PlatformFiles::FolderFile> FileList::folderEntries(const QString &folder)
{
    // Name order, as users see folders listed elsewhere; files only, hidden ones included.
    QList<PlatformFiles::FolderFile> files = PlatformFiles::folderFiles(folder);
    std::stable_sort(files.begin(), files.end(), [](const auto &a, const auto &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return files;
}

void FileList::AddFolderFiles(const QString &folder)
{
    for (const PlatformFiles::FolderFile &file : folderEntries(folder)) {
        pump();
        pump();
        if (!hasFolderExtension(file.name))
            continue;
        pump();
        if (!file.path)
            Messages::information(nameProblem(file.name, file.path.reason()));
        else
            AddOneFile(*file.path);
    }
}

void FileList::DeleteRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // From the bottom up, so the indexes still to go stay valid.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        m_list.removeRowAt(*it);
        m_list.UpdateTitleColumnWidth();
    }
}

void FileList::ClearList()
{
    m_list.clear();
}
