#pragma once

#include "result.h"

#include "audiodigest.h"
#include "audiofileinfo.h"
#include "partialfile.h"
#include "runobserver.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>

struct AppSettings;
class TAudioFile2;

// Converts one row with one pair of component instances: chooses and
// reserves the output name, reads the source into the output, tags it and
// gives it its final name. It shows nothing and touches no list, so a job
// may run it on a thread of its own.
class RowConverter {
public:
    struct Row {
        QString source;
        QString caption;
        AudioFileinfo record;
    };
    // Fails with what is not in the output: the tags, or a part of them.
    using TagWriter = std::function<Result<>(const QString &outputPath, const AudioFileinfo &record)>;
    using KeepGoing = std::function<bool()>; // asked before every read
    using Progress = std::function<void(int done, int total)>;

    RowConverter(TAudioFile2 &reader, TAudioFile2 &writer, const AppSettings &held, TagWriter tagWriter);

    // Opens the source and creates the output under a partial name, which
    // reserves the final one. A result (Skipped) when the row cannot start;
    // throws on a component failure.
    std::optional<RowResult> start(const Row &row, const QString &folder);
    // Reads and writes until the source ends or keepGoing() says no, then
    // closes both files, tags the output and names it: Converted or Stopped.
    RowResult transfer(const KeepGoing &keepGoing, const Progress &progress);
    // After a failure: both files closed, the partial output removed.
    void abandon();

    // False: a stopped row's output is removed instead of named (the command
    // line, whose scripts simply run again); the window keeps it.
    void setKeepStopped(bool keep) { m_keepStopped = keep; }
    // A digest of the samples the last transfer read, which tags never change.
    QByteArray audioDigest() const { return m_digest.result(); }

    static constexpr int kReadFrames = 2034;

private:
    bool taken(const QString &path) const;
    QString allTaken() const;
    QString endedEarly(int framesDone, int sampleCount) const;
    QString nextFreeName();
    QString publish(const QString &partial);

    TAudioFile2 &m_reader;
    TAudioFile2 &m_writer;
    const AppSettings &m_held;
    TagWriter m_tagWriter;
    Row m_row;
    QString m_folder;
    QString m_output;        // the final name chosen
    QString m_partial;       // an output of this row that is not complete yet
    QSet<QString> m_refused; // found taken at creation time
    PartialFileLock m_lock;  // held on m_partial while it is written
    AudioDigest m_digest;
    bool m_keepStopped = true;
};
