#pragma once

#include "appsettings.h"
#include "audiofileinfo.h"
#include "rowconverter.h"
#include "runobserver.h"

#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class FileListModel;
class ProfileFile;
class TAudioFile2;

// Converts every row of the file list into a WMA file, top row first, on the
// calling thread: pending window messages are processed between steps so
// Stop and the other commands keep working while it runs. It keeps the rows'
// states in the list and tells its observers how the run goes.
//
// Given more instance pairs (addJob), several rows convert at once, each on
// a thread of its own; names are still chosen and reserved in row order and
// rows reported in row order, so the outputs are those of a one-by-one run.
class ConversionRun {
public:
    using Pump = std::function<void()>;
    using TagWriter = RowConverter::TagWriter;

    ConversionRun(FileListModel &list, TAudioFile2 &reader, TAudioFile2 &writer, AppSettings &held);
    ~ConversionRun();

    void setSettings(const ProfileFile *settings) { m_settings = settings; }
    void setPump(Pump pump) { m_pump = std::move(pump); }
    void setTagWriter(TagWriter writer) { m_tagWriter = std::move(writer); }
    // Not owned; must outlive the run's use.
    void addObserver(RunObserver &observer) { m_observers << &observer; }
    // One more job; not owned.
    void addJob(TAudioFile2 &reader, TAudioFile2 &writer);

    // A profile number that wins over the stored one (the command line's --format).
    void setProfileOverride(int profileNumber) { m_profileOverride = profileNumber; }
    int profileOverride() const { return m_profileOverride; }
    // See RowConverter::setKeepStopped.
    void setKeepStopped(bool keep) { m_keepStopped = keep; }
    // A folder of its own for each row (ending in "/", existing), asked in
    // row order on the calling thread; otherwise every row goes to the output folder.
    void setRowFolder(std::function<QString(int row)> folderOf) { m_rowFolder = std::move(folderOf); }

    bool ConversionActive() const { return m_active; }
    // "stop" and closing the window: the run ends at its next check.
    void stop() { m_active = false; }

    void ConvertAll();
    void SetUpEncoder();

private:
    struct Job;

    void convertOneByOne(const QString &folder);
    void convertInJobs(const QString &folder);
    void runJob(Job *job, std::mutex &mutex, std::condition_variable &changed);
    RowConverter::Row rowOf(int row) const;
    void finishRow(int row, const RowResult &result);
    void pump() const;
    template <typename Event> void notify(Event event) const
    {
        for (RunObserver *observer : m_observers)
            event(*observer);
    }

    FileListModel &m_list;
    AppSettings &m_held;
    QList<Job *> m_jobs; // the first is the window's own pair
    const ProfileFile *m_settings = nullptr;
    Pump m_pump;
    TagWriter m_tagWriter;
    std::mutex m_tagMutex; // the tag library is not known to take two writers at once
    QList<RunObserver *> m_observers;
    std::atomic<bool> m_active = false;
    int m_profileOverride = 0;
    bool m_keepStopped = true;
    std::function<QString(int)> m_rowFolder;
};
