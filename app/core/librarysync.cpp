#include "librarysync.h"

#include "audiodigest.h"
#include "conversionrun.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "messages.h"
#include "platformfiles.h"
#include "rowconverter.h"
#include "rules.h"
#include "syncplan.h"
#include "syncrecord.h"
#include "tagintake.h"
#include "taudiofile2.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

using SyncPlan::Need;
using SyncPlan::Stamp;

// One source that needs more than a look.
struct LibrarySync::Work {
    SyncPlan::Source source;
    Stamp stamp;
    Need need;
    std::optional<SyncRecord::Entry> recorded;
    int row = -1; // in the session's list once added
    bool retag = false;
    QString replaces; // an output of ours that the new one takes over from
};

namespace {

// The messages that adding a source or starting a run shows, kept for the
// report line instead of shown; installed for the sync's lifetime.
class CollectedMessages : public Messages::Sink {
public:
    CollectedMessages() : m_previous(Messages::setSink(this)) {}
    ~CollectedMessages() override { Messages::setSink(m_previous); }
    CollectedMessages(const CollectedMessages &) = delete;
    CollectedMessages &operator=(const CollectedMessages &) = delete;

    void information(const QString &text) override { all << text; }
    void error(const QString &text) override { all << text; }

    QStringList all;

private:
    Messages::Sink *m_previous;
};

} // namespace

class LibrarySync::Session {
public:
    explicit Session(const QString &outputFolder) : record(outputFolder)
    {
        files.setTagIntake(TagIntake);
        files.setPump([] {});
        files.setExplainRefusals(true); // a refused source's line says why
        reader.SetActive(true);
        writer.SetActive(true);
    }
    CollectedMessages messages; // first in, last out: it hears everything the others say
    FileListModel list;
    TAudioFile2 reader;
    TAudioFile2 writer;
    FileList files{list, reader};
    SyncRecord record;
    QSet<QString> recordedOutputs;
};

namespace {

bool pathTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The same samples in the same order as a conversion reads them.
QByteArray audioDigestOf(TAudioFile2 &reader, const QString &path)
{
    AudioDigest digest;
    if (reader.IsOpen())
        reader.Close();
    reader.Open(path, 0, 1);
    const int sampleCount = reader.SampleCount();
    const int channels = reader.Channels();
    int framesDone = 0;
    for (;;) {
        const std::vector<float> samples = reader.ReadSamples(RowConverter::kReadFrames);
        if (samples.empty())
            break;
        framesDone += channels > 0 ? int(samples.size()) / channels : 0;
        digest.add(samples);
        if (framesDone >= sampleCount)
            break;
    }
    reader.Close();
    return digest.result();
}

} // namespace

LibrarySync::LibrarySync(Options options) : m_options(std::move(options))
{
    m_options.outputFolder = QDir::cleanPath(QFileInfo(m_options.outputFolder).absoluteFilePath());
}

void LibrarySync::stop()
{
    m_stopped = true;
    if (m_run)
        m_run->stop();
}

void LibrarySync::pump()
{
    if (m_pump)
        m_pump();
}

QString LibrarySync::outcomeName(Outcome outcome, bool planned)
{
    switch (outcome) {
    case Outcome::Converted:
        return planned ? QStringLiteral("would convert") : QStringLiteral("converted");
    case Outcome::Retagged:
        return planned ? QStringLiteral("would re-tag") : QStringLiteral("re-tagged");
    case Outcome::UpToDate:
        return QStringLiteral("up to date");
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

void LibrarySync::report(Outcome outcome, const QString &source, const QString &output, const QString &note,
                         bool planned)
{
    if (outcome == Outcome::Failed || outcome == Outcome::Stopped)
        m_failed = true;
    if (m_listener)
        m_listener({outcome, PlatformFiles::shownPath(source), output, note, planned});
}

int LibrarySync::run(const QStringList &inputs)
{
    m_failed = false;
    m_stopped = false;
    m_conversions = 0;
    m_notices.clear();
    Session session(m_options.outputFolder);
    Result<> kept = m_options.dryRun ? Result<>() : session.record.lockFolder();
    if (kept)
        kept = session.record.open(m_options.dryRun);
    if (!kept) {
        m_notices
            << QStringLiteral("Cannot keep the record in %1: %2").arg(m_options.outputFolder, kept.reason());
        return 1;
    }
    if (!session.record.problem().isEmpty())
        m_notices << session.record.problem();
    for (const SyncRecord::Entry &entry : session.record.entries())
        session.recordedOutputs.insert(entry.output);
    if (!m_options.dryRun && QFileInfo(m_options.outputFolder).isDir())
        SyncPlan::removeStalePartials(m_options.outputFolder);

    QList<Work> work;
    plan(session, inputs, work);
    if (m_options.dryRun)
        return m_failed ? 1 : 0;
    for (Work &item : work) {
        pump();
        if (item.retag && m_stopped)
            report(Outcome::Stopped, item.source.path, {});
        else if (item.retag)
            retag(session, item);
    }
    convert(session, work);
    return m_failed ? 1 : 0;
}

// Looks at every source; what needs converting or re-tagging ends in `work`.
void LibrarySync::plan(Session &session, const QStringList &inputs, QList<Work> &work)
{
    QList<SyncPlan::Source> sources;
    for (const QString &input : inputs) {
        const Result<QList<SyncPlan::Source>> found = SyncPlan::sourcesOf(input, m_options.outputFolder);
        if (found)
            sources << *found;
        else
            report(Outcome::Failed, input, {}, found.reason());
    }
    const QHash<QString, SyncRecord::Entry> &entries = session.record.entries();
    for (const SyncPlan::Source &source : sources) {
        const Stamp stamp = SyncPlan::stampOf(source.path);
        const auto found = entries.constFind(source.path);
        const SyncRecord::Entry *recorded = found == entries.constEnd() ? nullptr : &*found;
        const QString output = recorded ? outputPath(recorded->output) : QString();
        const Need need = SyncPlan::needOf(recorded, stamp, recorded ? SyncPlan::stampOf(output) : Stamp{},
                                           m_options.profile);
        if (need == Need::UpToDate) {
            report(Outcome::UpToDate, source.path, output);
        } else if (need == Need::OutputEdited) {
            report(Outcome::UpToDate, source.path, output,
                   QStringLiteral("the output was changed since it was made; it is left alone"));
        } else {
            Work item{source, stamp, need, {}, -1, false, {}};
            if (recorded)
                item.recorded = *recorded;
            if (need == Need::Reencode)
                item.replaces = output;
            work << item;
        }
    }

    // What only the file itself can tell: its tags, its audio.
    for (Work &item : work) {
        pump();
        if (m_stopped) {
            report(Outcome::Stopped, item.source.path, {});
            continue;
        }
        if (!add(session, item))
            continue;
        if (item.need == Need::Check)
            check(session, item);
        else if (item.need == Need::New && adopt(session, item))
            item.row = -1;
    }
    // Only the rows to convert stay in the list, in the order of `work`.
    for (int index = int(work.size()) - 1; index >= 0; --index) {
        Work &item = work[index];
        if (item.row >= 0 && item.retag) {
            session.list.removeRowAt(item.row);
            for (Work &later : work) {
                if (later.row > item.row)
                    --later.row;
            }
            item.row = -1;
        }
    }
    for (const Work &item : std::as_const(work)) {
        if (item.row >= 0)
            ++m_conversions;
        if (!m_options.dryRun)
            continue;
        if (item.retag) {
            report(Outcome::Retagged, item.source.path, outputPath(item.recorded->output), {}, true);
        } else if (item.row >= 0) {
            const QString folder = outputFolderOf(item);
            const QString predicted =
                chooseOutputPath(folder, session.list.caption(item.row), item.source.path,
                                 [&](const QString &p) { return pathTaken(p) && p != item.replaces; });
            report(Outcome::Converted, item.source.path, predicted, {}, true);
        }
    }
}

QString LibrarySync::outputPath(const QString &relative) const
{
    return m_options.outputFolder + QLatin1Char('/') + relative;
}

QString LibrarySync::outputFolderOf(const Work &item) const
{
    return item.source.folder.isEmpty() ? m_options.outputFolder + QLatin1Char('/')
                                        : outputPath(item.source.folder) + QLatin1Char('/');
}

// Adds the source to the list (reads its tags and probes its audio); false
// after reporting why it cannot be read.
bool LibrarySync::add(Session &session, Work &item)
{
    session.messages.all.clear();
    QString problem;
    try {
        if (session.files.AddOneFile(item.source.path))
            item.row = session.list.count() - 1;
    } catch (const std::exception &error) {
        problem = QString::fromUtf8(error.what());
    }
    if (item.row >= 0)
        return true;
    if (problem.isEmpty())
        problem = session.messages.all.isEmpty() ? QStringLiteral("cannot be read")
                                                 : session.messages.all.join(QLatin1Char(' '));
    report(Outcome::Failed, item.source.path, {}, problem);
    return false;
}

// A source whose file changed: the same audio needs new tags at most.
void LibrarySync::check(Session &session, Work &item)
{
    const QByteArray tags = SyncPlan::tagDigest(session.list.record(item.row));
    QByteArray audio;
    try {
        audio = audioDigestOf(session.reader, item.source.path);
    } catch (const std::exception &) {
        audio.clear(); // converting tells why
    }
    const SyncRecord::Entry &recorded = *item.recorded;
    if (audio.isEmpty() || recorded.audioDigest.isEmpty() || audio != recorded.audioDigest) {
        item.replaces = outputPath(recorded.output);
        return;
    }
    if (tags != recorded.tagDigest) {
        item.retag = true;
        return;
    }
    // Touched, nothing more: only the record learns the new time.
    SyncRecord::Entry entry = recorded;
    entry.sourceSize = item.stamp.size;
    entry.sourceModified = item.stamp.modified;
    if (!m_options.dryRun)
        session.record.put(entry);
    report(Outcome::UpToDate, item.source.path, outputPath(recorded.output));
    session.list.removeRowAt(item.row);
    item.row = -1;
}

// A source the record does not know may have its output already, made by a
// sync whose record was lost or that was killed before writing it down: a
// WMA file at the name a conversion would take, newer than the source and
// as long, which no other source claims. It is taken over as it is.
bool LibrarySync::adopt(Session &session, Work &item)
{
    const QString folder = outputFolderOf(item);
    const QString caption = session.list.caption(item.row);
    const int duration = session.list.record(item.row).duration;
    for (int numbered = 0; numbered <= kMaxNumberedNames; ++numbered) {
        const QString candidate = folder + outputFileName(caption, item.source.path, numbered);
        const QString relative = QDir(m_options.outputFolder).relativeFilePath(candidate);
        const Stamp stamp = SyncPlan::stampOf(candidate);
        if (!stamp.exists())
            return false;
        if (session.recordedOutputs.contains(relative) || stamp.modified < item.stamp.modified)
            continue;
        int outputDuration = -1;
        try {
            if (session.reader.IsOpen())
                session.reader.Close();
            session.reader.Open(candidate, 0, 1);
            outputDuration = session.reader.DurationMs();
            session.reader.Close();
        } catch (const std::exception &) {
            continue;
        }
        if (std::abs(outputDuration - duration) > 100 + duration / 100)
            continue;
        SyncRecord::Entry entry{item.source.path,
                                item.stamp.size,
                                item.stamp.modified,
                                {},
                                SyncPlan::tagDigest(session.list.record(item.row)),
                                m_options.profile,
                                relative,
                                stamp.size,
                                stamp.modified};
        if (!m_options.dryRun)
            session.record.put(entry);
        session.recordedOutputs.insert(relative);
        report(Outcome::UpToDate, item.source.path, candidate,
               QStringLiteral("an earlier output, taken over"));
        session.list.removeRowAt(item.row);
        return true;
    }
    return false;
}

void LibrarySync::retag(Session &session, Work &item)
{
    SyncRecord::Entry entry = *item.recorded;
    const QString output = outputPath(entry.output);
    // Still as we left it? Otherwise it is someone else's now.
    if (SyncPlan::stampOf(output) != Stamp{entry.outputSize, entry.outputModified}) {
        report(Outcome::UpToDate, item.source.path, output,
               QStringLiteral("the output was changed since it was made; it is left alone"));
        return;
    }
    // The row is gone from the list, so the tags are read once more.
    FileListModel list;
    const int row = list.appendRow(QFileInfo(item.source.path).fileName());
    QString problem;
    try {
        TagIntake(item.source.path, list, row);
        problem = CarryTags(output, list.record(row)).reason();
    } catch (const std::exception &error) {
        problem = QString::fromUtf8(error.what());
    }
    if (!problem.isEmpty()) {
        report(Outcome::Failed, item.source.path, output, problem);
        return;
    }
    const Stamp stamp = SyncPlan::stampOf(output);
    entry.sourceSize = item.stamp.size;
    entry.sourceModified = item.stamp.modified;
    entry.tagDigest = SyncPlan::tagDigest(list.record(row));
    entry.outputSize = stamp.size;
    entry.outputModified = stamp.modified;
    session.record.put(entry);
    report(Outcome::Retagged, item.source.path, output);
}

// Converts the rows left in the list. A failed row ends a conversion run, so
// the rows it did not reach go into another one.
void LibrarySync::convert(Session &session, QList<Work> &work)
{
    QList<Work *> rows; // by row
    for (Work &item : work) {
        if (item.row >= 0)
            rows << &item;
    }
    AppSettings held = m_options.held;
    while (!rows.isEmpty() && !m_stopped) {
        held.outputFolder = m_options.outputFolder;
        ConversionRun run(session.list, session.reader, session.writer, held);
        std::vector<std::unique_ptr<TAudioFile2>> instances;
        for (int job = 1; job < std::min<qsizetype>(m_options.jobs, rows.size()); ++job) {
            for (int pair = 0; pair < 2; ++pair)
                instances.emplace_back(std::make_unique<TAudioFile2>())->SetActive(true);
            run.addJob(*instances[instances.size() - 2], *instances.back());
        }
        run.setTagWriter(CarryTags);
        run.setProfileOverride(m_options.profile);
        run.setKeepStopped(false);
        run.setPump([this] { pump(); });
        run.setRowFolder([&](int row) {
            const QString folder = outputFolderOf(*rows[row]);
            QDir().mkpath(folder);
            return folder;
        });
        RunRecord results;
        run.addObserver(results);
        for (RunObserver *observer : std::as_const(m_observers))
            run.addObserver(*observer);
        m_run = &run;
        run.ConvertAll();
        m_run = nullptr;

        QList<int> finished;
        for (int row = 0; row < rows.size(); ++row) {
            if (const RowResult *result = results.result(row)) {
                finish(session, *rows[row], row, *result);
                finished << row;
            }
        }
        if (finished.isEmpty()) {
            // The run could not start at all (a profile this build lacks).
            const QString why = session.messages.all.isEmpty() ? QStringLiteral("not converted")
                                                               : session.messages.all.last();
            for (Work *item : std::as_const(rows))
                report(Outcome::Failed, item->source.path, {}, why);
            return;
        }
        for (auto it = finished.crbegin(); it != finished.crend(); ++it) {
            session.list.removeRowAt(*it);
            rows.removeAt(*it);
        }
    }
    for (Work *item : std::as_const(rows))
        report(Outcome::Stopped, item->source.path, {});
}

void LibrarySync::finish(Session &session, Work &item, int row, const RowResult &result)
{
    if (result.kind == RowResult::Stopped) {
        report(Outcome::Stopped, item.source.path, {});
        return;
    }
    if (result.kind != RowResult::Converted) {
        report(Outcome::Failed, item.source.path, {}, result.message);
        return;
    }
    QString output = result.output;
    if (!item.replaces.isEmpty() && item.recorded &&
        SyncPlan::stampOf(item.replaces) == Stamp{item.recorded->outputSize, item.recorded->outputModified} &&
        QFile::remove(item.replaces)) {
        // The new output takes the old one's name when that is its own.
        const QFileInfo old(item.replaces);
        if (old.absolutePath() == QFileInfo(output).absolutePath() &&
            old.fileName() == outputFileName(session.list.caption(row), item.source.path) &&
            PlatformFiles::renameWithoutReplacing(output, item.replaces)
                    .value_or(PlatformFiles::Renamed::NameTaken) == PlatformFiles::Renamed::Done)
            output = item.replaces;
    }
    const Stamp stamp = SyncPlan::stampOf(output);
    const QString relative = QDir(m_options.outputFolder).relativeFilePath(output);
    session.record.put({item.source.path, item.stamp.size, item.stamp.modified, result.audioDigest,
                        SyncPlan::tagDigest(session.list.record(row)), m_options.profile, relative,
                        stamp.size, stamp.modified});
    session.recordedOutputs.insert(relative);
    if (!result.message.isEmpty())
        m_failed = true;
    report(Outcome::Converted, item.source.path, output, result.message);
}
