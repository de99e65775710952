#pragma once

#include "appsettings.h"
#include "audiofileinfo.h"
#include "progressdisplay.h"
#include "wmatags.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

class FileListModel;
class ProfileFile;
class TAudioFile2;

// Converts every row of the file list into a WMA file, top row first, on the
// calling thread: pending window messages are processed between steps so
// Stop and the other commands keep working while it runs.
class ConversionRun {
public:
    using Pump = std::function<void()>;
    // Writes the row's tags into the output; returns why it could not, or
    // an empty text.
    using TagWriter = std::function<QString(const QString &outputPath, const AudioFileinfo &record)>;

    ConversionRun(FileListModel &list, TAudioFile2 &reader, TAudioFile2 &writer, AppSettings &held);

    void setSettings(const ProfileFile *settings) { m_settings = settings; }
    void setProgressDisplay(const ProgressDisplay &display) { m_progress = display; }
    ProgressDisplay &progressDisplay() { return m_progress; }
    void setPump(Pump pump) { m_pump = std::move(pump); }
    void setTagWriter(TagWriter writer) { m_tagWriter = std::move(writer); }

    // A profile number that wins over the stored one (the command line's --format).
    void setProfileOverride(int profileNumber) { m_profileOverride = profileNumber; }
    // The output a row was written to in the last run, or empty.
    QString outputPathOf(int row) const { return m_outputs.value(row); }
    // Whether the row's output was kept without its tags in the last run.
    bool tagsFailed(int row) const { return m_untagged.contains(row); }

    bool ConversionActive() const { return m_active; }
    // "stop" and closing the window: the run ends at its next check.
    void Stop() { m_active = false; }

    void ConvertAll();
    void ShowProgress(int value);
    void SetUpEncoder();

    static constexpr int kReadFrames = 2034;
    static constexpr int kDefaultProfileNumber = 23;

private:
    enum class RowResult { Finished, Stopped, Skipped };
    RowResult convertRow(int row, const QString &folder, QString &createdOutput);
    // Gives the finished partial file its final name, moving on to the next
    // free name while a name turns out taken; empty when none is left.
    static QString publish(const QString &partial, QString output,
                           const std::function<QString(const QString &)> &nextAfterTaken);
    void pump() const;
    void endRun();
    void abandonRun(int currentRow, const QString &createdOutput, const QString &message);

    FileListModel &m_list;
    TAudioFile2 &m_reader;
    TAudioFile2 &m_writer;
    AppSettings &m_held;
    const ProfileFile *m_settings = nullptr;
    ProgressDisplay m_progress;
    Pump m_pump;
    TagWriter m_tagWriter;
    bool m_active = false;
    int m_profileOverride = 0;
    QHash<int, QString> m_outputs;
    QSet<int> m_untagged;
};
