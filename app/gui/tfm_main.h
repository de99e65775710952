#pragma once

#include "appsettings.h"
#include "commands.h"
#include "conversionrun.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "iaudiofile2.h"
#include "result.h"
#include "skinprogress.h"
#include "taudiofile2.h"

#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class ISkinObject;
class ListFollower;
class ProfileFile;
class QTableView;
class TSkin;
class TSkinLabel;
class Tfm_dir;
class Tfm_id3;
class Tfm_set;

// The main window: drawn by the skin, every command arrives as a click on a
// named skin element and is routed by Skin1Click.
class Tfm_main : public QWidget {
    Q_OBJECT
public:
    // Null components mean the real FFmpeg ones.
    explicit Tfm_main(std::unique_ptr<IAudioFile2> reader = {}, std::unique_ptr<IAudioFile2> writer = {},
                      QWidget *parent = nullptr);
    ~Tfm_main() override;

    void setDialogs(Tfm_dir *dir, Tfm_set *set, Tfm_id3 *id3);

    TSkin *Skin1 = nullptr;
    TSkinLabel *SkinLabel1 = nullptr;
    QTableView *lv = nullptr;

    bool ConversionActive() const { return m_run.ConversionActive(); }
    const QString &outputFolder() const { return m_held.outputFolder; }
    FileListModel &fileList() { return m_model; }
    ConversionRun &conversionRun() { return m_run; }
    SkinProgress &progress() { return m_progress; }

    // Seams for tests: the skin file, the help page, the open-file dialog and
    // the desktop's URL opener (false: no program opened it).
    QString skinPath;
    QString helpPage;
    std::function<QStringList()> chooseFiles;
    std::function<bool(const QUrl &)> openUrl;

    void FormShow();
    void Skin1Click(QObject *sender, ISkinObject *source);
    void dispatch(const QString &elementName);
    void FormCloseQuery();

    void AddFiles();
    void AddFolder();
    void DeleteSelected();
    void ClearList();
    // Files and folders handed in from outside (command line, drag and drop).
    void AddPaths(const QStringList &paths);

signals:
    // Every element name that reaches dispatch, before it is acted on.
    void dispatched(const QString &elementName);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void runCommand(Command command);
    // Hands a local file or folder to the desktop, or says why it cannot.
    void showOnDesktop(const QString &path, const Result<> &showable);
    bool refuseWhileConverting();
    void setUpFileListView();
    void setUpShortcuts();

    std::unique_ptr<TAudioFile2> m_reader;
    std::unique_ptr<TAudioFile2> m_writer;
    FileListModel m_model;
    AppSettings m_held;
    FileList m_files;
    ConversionRun m_run;
    SkinProgress m_progress;
    std::unique_ptr<ListFollower> m_follower; // made with the list view
    std::unique_ptr<ProfileFile> m_settings;
    Tfm_dir *m_dir = nullptr;
    Tfm_set *m_set = nullptr;
    Tfm_id3 *m_id3 = nullptr;
    bool m_shown = false;
};
