#pragma once

#include "platformfiles.h"
#include "result.h"

#include <QString>
#include <QStringList>

#include <functional>

class FileListModel;
class TAudioFile2;

// Adding and removing files: the file list's operations without any window.
// The open-file and folder dialogs belong to the main window, which hands the
// chosen paths in here.
class FileList {
public:
    using TagIntake = std::function<void(const QString &path, FileListModel &list, int row)>;
    using Pump = std::function<void()>;

    FileList(FileListModel &list, TAudioFile2 &reader);

    // Runs where a new row's tags are read; may throw to end the whole add.
    void setTagIntake(TagIntake intake) { m_tagIntake = std::move(intake); }
    // Processes pending window messages between files.
    void setPump(Pump pump) { m_pump = std::move(pump); }
    // A refused file's message also gives the reason (the command line; the
    // window keeps its fixed text).
    void setExplainRefusals(bool explain) { m_explainRefusals = explain; }

    // Adds one file; false when the audio component rejected it (its row is
    // gone again and the message has been shown).
    bool AddOneFile(const QString &givenPath);
    // A path that opens what `path` names, also when the name on disk is not
    // valid UTF-8; fails with a message naming the file and the reason.
    static Result<QString> locate(const QString &path);
    // The files the open-file dialog returned, in its order.
    void AddPaths(const QStringList &paths);
    // Every file of `folder` (not its subfolders) with a supported extension.
    void AddFolderFiles(const QString &folder);

    // Removes the given rows (any order, duplicates allowed).
    void DeleteRows(QList<int> rows);
    void ClearList();

    static bool hasFolderExtension(const QString &fileName);
    // The folder's files that AddFolderFiles would consider, in the order it takes them.
    static QList<PlatformFiles::FolderFile> folderEntries(const QString &folder);

private:
    void pump() const;

    FileListModel &m_list;
    TAudioFile2 &m_reader;
    TagIntake m_tagIntake;
    Pump m_pump;
    bool m_explainRefusals = false;
};
