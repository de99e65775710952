// sonbrel-cli: the main window's file list, tag intake and conversion run
// without a window.
#include "appsettings.h"
#include "conversionrun.h"
#include "coverfit.h"
#include "filelist.h"
#include "filelistmodel.h"
#include "librarysync.h"
#include "messages.h"
#include "platformfiles.h"
#include "profilefile.h"
#include "tagintake.h"
#include "taudiofile2.h"
#include "runreport.h"
#include "syncprogress.h"
#include "wmaprofiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

enum ExitCode { Success = 0, RowsFailed = 1, UsageError = 2 };

// Set by a signal on whichever thread takes it, read by the run's thread:
// a lock-free atomic, which a handler may use.
std::atomic<bool> interrupted = false;
static_assert(std::atomic<bool>::is_always_lock_free);
// The first signal stops the run at its next check; a second one, for a step
// that takes long, ends the program at once (the next run removes what the
// file in progress left).
void onInterrupt(int signal)
{
    if (interrupted.exchange(true)) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

void printLine(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Messages go to standard error, and the last one is kept for the JSON output.
class CliMessages : public Messages::Sink {
public:
    void information(const QString &text) override { show(text); }
    void error(const QString &text) override { show(text); }
    QString last;
    bool quiet = false;

private:
    void show(const QString &text)
    {
        last = text;
        if (!quiet)
            std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    }
};

// One file list with its components, as the main window holds them.
struct Session {
    FileListModel list;
    TAudioFile2 reader;
    TAudioFile2 writer;
    FileList files{list, reader};

    Session()
    {
        files.setTagIntake(TagIntake);
        files.setPump([] {});
        files.setExplainRefusals(true);
        reader.SetActive(true);
        writer.SetActive(true);
    }
};

// What the cover of a row is: its type, bytes and pixels, or why it is left out.
QJsonValue coverJson(const CoverPicture &cover)
{
    if (!cover.note.isEmpty())
        return QJsonObject{{QStringLiteral("note"), cover.note}};
    if (cover.isEmpty())
        return QJsonValue::Null;
    const PictureSize size = pictureSize(cover.data);
    QJsonObject object{{QStringLiteral("mime"), cover.mimeType},
                       {QStringLiteral("bytes"), cover.data.size()}};
    if (size.width > 0) {
        object.insert(QStringLiteral("width"), size.width);
        object.insert(QStringLiteral("height"), size.height);
    } else {
        object.insert(QStringLiteral("note"),
                      QStringLiteral("the picture cannot be decoded and is left out"));
    }
    return object;
}

int runInfo(const QStringList &paths, CliMessages &messages)
{
    messages.quiet = true;
    Session session;
    int exitCode = Success;
    for (const QString &path : paths) {
        messages.last.clear();
        bool accepted = false;
        try {
            accepted = session.files.AddOneFile(path);
        } catch (const std::exception &error) {
            messages.last = QString::fromUtf8(error.what());
        }
        QJsonObject object;
        if (!accepted) {
            object.insert(QStringLiteral("path"), path);
            object.insert(QStringLiteral("error"), messages.last);
            exitCode = RowsFailed;
        } else {
            const int row = session.list.count() - 1;
            const AudioFileinfo &record = session.list.record(row);
            object.insert(QStringLiteral("caption"), session.list.caption(row));
            object.insert(QStringLiteral("frequency"), session.list.cell(row, FileListModel::Frequency));
            object.insert(QStringLiteral("channels"), session.list.cell(row, FileListModel::Channels));
            object.insert(QStringLiteral("time"), session.list.cell(row, FileListModel::Time));
            object.insert(QStringLiteral("size"), session.list.cell(row, FileListModel::Size));
            object.insert(QStringLiteral("status"), session.list.cell(row, FileListModel::Status));
            object.insert(QStringLiteral("path"),
                          PlatformFiles::shownPath(session.list.cell(row, FileListModel::Path)));
            object.insert(QStringLiteral("title"), record.title);
            object.insert(QStringLiteral("artist"), record.artist);
            object.insert(QStringLiteral("year"), record.year);
            object.insert(QStringLiteral("album"), record.album);
            object.insert(QStringLiteral("comment"), record.comment);
            object.insert(QStringLiteral("genre"), record.genre);
            object.insert(QStringLiteral("duration"), record.duration);
            object.insert(QStringLiteral("track"), record.track);
            object.insert(QStringLiteral("disc"), record.disc);
            object.insert(QStringLiteral("cover"), coverJson(record.cover));
        }
        printLine(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    }
    return exitCode;
}

int runProfiles()
{
    TAudioFile2 probe;
    int position = 0;
    printLine(QStringLiteral("position (--format)\tnumber\tprofile\tthis build"));
    for (const WmaProfile &profile : wmaProfiles()) {
        bool available = true;
        try {
            probe.SetWmaProfile(position + 1);
        } catch (const AudioFileError &) {
            available = false;
        }
        printLine(QStringLiteral("%1\t%2\t%3\t%4")
                      .arg(position)
                      .arg(position + 1)
                      .arg(QString::fromUtf8(profile.text),
                           available ? QStringLiteral("available") : QStringLiteral("not available")));
        ++position;
    }
    return Success;
}

// Passes a run over some rows of the list on as events of those rows.
class RowsOf : public RunObserver {
public:
    RowsOf(FileListModel &list, RunObserver &target, QList<int> rows)
        : m_list(list), m_target(target), m_rows(rows)
    {
    }
    void rowStarted(int row) override { m_target.rowStarted(m_rows[row]); }
    void rowProgress(int row, int done, int total) override
    {
        m_target.rowProgress(m_rows[row], done, total);
    }
    void rowFinished(int row, const RowResult &result) override
    {
        static constexpr RowState states[] = {RowState::Converted, RowState::Stopped, RowState::Failed};
        if (result.kind != RowResult::Skipped)
            m_list.setRowState(m_rows[row], states[result.kind]);
        m_target.rowFinished(m_rows[row], result);
    }
    void runFinished() override { m_target.runFinished(); }

private:
    FileListModel &m_list;
    RunObserver &m_target;
    QList<int> m_rows;
};

// The profile number that --format names (its position + 1), or none after
// telling the user the option is wrong; an empty option gives `stored`.
std::optional<int> profileFromOption(const QString &format, int stored)
{
    if (format.isEmpty())
        return stored;
    bool ok = false;
    const int position = format.toInt(&ok);
    if (!ok || position < 0 || position >= kWmaProfileCount) {
        std::fprintf(stderr, "sonbrel-cli: --format takes a position from 0 to %d\n", kWmaProfileCount - 1);
        return std::nullopt;
    }
    return position + 1;
}

int runConvert(const QStringList &inputs, const QString &output, const QString &format, int jobs)
{
    const ProfileFile settings(ProfileFile::defaultPath()); // read, never written
    AppSettings held = readStartupSettings(settings);
    if (!output.isEmpty())
        held.outputFolder = output;

    Session session;
    ConversionRun run(session.list, session.reader, session.writer, held);
    run.setSettings(&settings);
    run.setTagWriter(CarryTags);
    const std::optional<int> chosen = profileFromOption(format, storedProfileNumber(settings));
    if (!chosen)
        return UsageError;
    const int profileNumber = *chosen;
    if (!format.isEmpty())
        run.setProfileOverride(profileNumber);
    if (profileNumber >= 1 && profileNumber <= kWmaProfileCount)
        std::fprintf(stderr, "Profile %d: %s%s\n", profileNumber - 1, wmaProfiles()[profileNumber - 1].text,
                     format.isEmpty() ? " (choose another with --format)" : "");

    int exitCode = Success;
    // One file that cannot be read costs only itself.
    const auto addOne = [&](const QString &path) {
        try {
            if (!session.files.AddOneFile(path))
                exitCode = RowsFailed;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(PlatformFiles::shownPath(path)), error.what());
            exitCode = RowsFailed;
        }
    };
    for (const QString &given : inputs) {
        const Result<QString> located = FileList::locate(given);
        if (!located) {
            Messages::information(located.reason());
            exitCode = RowsFailed;
            continue;
        }
        const QString &input = *located;
        const int before = session.list.count();
        if (QFileInfo(input).isDir()) {
            for (const PlatformFiles::FolderFile &file : FileList::folderEntries(input)) {
                if (!FileList::hasFolderExtension(file.name))
                    continue;
                if (!file.path) {
                    std::fprintf(stderr, "%s: %s\n", qPrintable(file.name), qPrintable(file.path.reason()));
                    exitCode = RowsFailed;
                } else {
                    addOne(*file.path);
                }
            }
            if (session.list.count() == before) {
                // Folders are added as the main window adds them, without their subfolders.
                const bool nested = !QDir(input).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
                std::fprintf(stderr, "%s: no supported files%s\n", qPrintable(input),
                             nested ? " (subfolders are not entered; sync converts a whole tree)" : "");
            }
        } else {
            addOne(input);
        }
    }
    if (session.list.count() == 0)
        return RowsFailed;

    // One instance pair per job; never more jobs than rows.
    std::vector<std::unique_ptr<TAudioFile2>> instances;
    for (int job = 1; job < std::min(jobs, session.list.count()); ++job) {
        for (int pair = 0; pair < 2; ++pair)
            instances.emplace_back(std::make_unique<TAudioFile2>())->SetActive(true);
        run.addJob(*instances[instances.size() - 2], *instances.back());
    }

    RunReport report(session.list, isatty(STDERR_FILENO));
    run.addObserver(report);
    // Scripts run it again: a stopped row leaves no file under a final name.
    run.setKeepStopped(false);
    // Ctrl+C, a terminal that goes away and a polite kill all act as Stop,
    // so the file in progress is closed properly.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, onInterrupt);
    run.setPump([&] {
        if (interrupted)
            run.stop();
    });
    run.ConvertAll();

    // A failed row ends a run; the rows it did not reach go into another one.
    int reached = -1;
    while (!interrupted) {
        QList<int> left;
        for (int row = 0; row < session.list.count(); ++row) {
            if (!report.result(row))
                left << row;
        }
        if (left.isEmpty() || left.first() == reached)
            break; // done, or the run could not start at all
        reached = left.first();
        FileListModel rest;
        for (const int row : std::as_const(left)) {
            const int at = rest.appendRow(session.list.caption(row));
            for (int cell = 0; cell < FileListModel::CellCount; ++cell) {
                if (cell != FileListModel::Status)
                    rest.setCell(at, FileListModel::Cell(cell),
                                 session.list.cell(row, FileListModel::Cell(cell)));
            }
            rest.record(at) = session.list.record(row);
            rest.setRowState(at, session.list.rowState(row));
        }
        ConversionRun again(rest, session.reader, session.writer, held);
        again.setSettings(&settings);
        again.setTagWriter(CarryTags);
        again.setProfileOverride(run.profileOverride());
        again.setKeepStopped(false);
        for (size_t pair = 0; pair + 1 < instances.size() && int(pair / 2) + 1 < left.size(); pair += 2)
            again.addJob(*instances[pair], *instances[pair + 1]);
        RowsOf forward(session.list, report, left);
        again.addObserver(forward);
        again.setPump([&] {
            if (interrupted)
                again.stop();
        });
        again.ConvertAll();
    }

    for (const QString &line : report.rowLines())
        printLine(line);
    return std::max(exitCode, report.exitCode());
}

int runSync(const QStringList &inputs, const QString &output, const QString &format, int jobs, bool dryRun)
{
    const ProfileFile settings(ProfileFile::defaultPath()); // read, never written
    LibrarySync::Options options;
    options.held = readStartupSettings(settings);
    options.outputFolder = output.isEmpty() ? options.held.outputFolder : output;
    const std::optional<int> chosen = profileFromOption(format, storedProfileNumber(settings));
    if (!chosen)
        return UsageError;
    options.profile = *chosen;
    if (options.profile < 1 || options.profile > kWmaProfileCount)
        options.profile = kDefaultWmaPosition + 1; // as the run falls back for a stored one out of range
    options.jobs = jobs;
    options.dryRun = dryRun;
    if (options.outputFolder.isEmpty()) {
        std::fprintf(stderr, "sonbrel-cli: --output needs a folder\n");
        return UsageError;
    }

    LibrarySync sync(options);
    std::unique_ptr<SyncProgress> progress;
    QHash<LibrarySync::Outcome, int> counts;
    sync.setListener([&](const LibrarySync::Report &report) {
        ++counts[report.outcome];
        if (report.outcome == LibrarySync::Outcome::UpToDate && report.note.isEmpty())
            return;
        if (progress)
            progress->runFinished(); // the line is drawn again at the next step
        if (!report.note.isEmpty())
            std::fprintf(stderr, "%s: %s\n", qPrintable(report.source), qPrintable(report.note));
        if (report.outcome != LibrarySync::Outcome::UpToDate)
            printLine(QStringLiteral("%1\t%2\t%3")
                          .arg(LibrarySync::outcomeName(report.outcome, report.planned), report.output,
                               report.source));
    });
    if (isatty(STDERR_FILENO) && !dryRun) {
        progress = std::make_unique<SyncProgress>([&sync] { return sync.conversions(); });
        sync.addObserver(*progress);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, onInterrupt);
    sync.setPump([&] {
        if (interrupted)
            sync.stop();
    });
    const int result = sync.run(inputs);
    if (progress)
        progress->runFinished();
    for (const QString &notice : sync.notices())
        std::fprintf(stderr, "%s\n", qPrintable(notice));
    using O = LibrarySync::Outcome;
    std::fprintf(stderr, "%s%d converted, %d re-tagged, %d up to date, %d failed, %d stopped\n",
                 dryRun ? "dry run: " : "", counts.value(O::Converted), counts.value(O::Retagged),
                 counts.value(O::UpToDate), counts.value(O::Failed), counts.value(O::Stopped));
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sonbrel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONBREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Sonbrel on the command line.\n\n"
            "  info FILE...        what adding each file to the list shows, one JSON object per line\n"
            "  profiles            the 47 WMA profiles and whether this build can produce them\n"
            "  convert FILE|FOLDER...  convert to WMA as the main window does, with the profile\n"
            "                      chosen there last; at first profile %1, %2\n"
            "  sync FOLDER|FILE...     keep a WMA copy of music folders up to date: mirrors the\n"
            "                          folders into the output folder, converts only what is new or\n"
            "                          changed, re-tags outputs whose sources changed only their tags")
            .arg(kDefaultWmaPosition)
            .arg(QLatin1String(wmaProfiles()[kDefaultWmaPosition].text)));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption outputOption(
        QStringLiteral("output"), QStringLiteral("Output folder (convert, sync)."), QStringLiteral("DIR"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"), QStringLiteral("Profile position 0-46 (convert, sync); see profiles."),
        QStringLiteral("POSITION"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        QStringLiteral("Files converted at once (convert, sync); default: one per CPU."),
        QStringLiteral("N"));
    parser.addOption(outputOption);
    parser.addOption(formatOption);
    parser.addOption(jobsOption);
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"), QStringLiteral("Print what sync would convert or re-tag; write nothing."));
    parser.addOption(dryRunOption);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("info, profiles, convert or sync"));
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "sonbrel-cli: %s\n", qPrintable(parser.errorText()));
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Success);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "sonbrel-cli: a command is needed (see --help)\n");
        return UsageError;
    }
    const QString command = arguments.takeFirst();
    CliMessages messages;
    Messages::setSink(&messages);

    int result = UsageError;
    bool jobsOk = true;
    const int jobs = parser.isSet(jobsOption) ? parser.value(jobsOption).toInt(&jobsOk)
                                              : std::max(1, QThread::idealThreadCount());
    if (parser.isSet(outputOption) && parser.value(outputOption).isEmpty()) {
        // An empty folder would quietly mean the music folder.
        std::fprintf(stderr, "sonbrel-cli: --output needs a folder\n");
    } else if (parser.isSet(dryRunOption) && command != QLatin1String("sync")) {
        std::fprintf(stderr, "sonbrel-cli: --dry-run belongs to sync\n");
    } else if (!jobsOk || jobs < 1) {
        std::fprintf(stderr, "sonbrel-cli: --jobs takes a number from 1 up\n");
    } else if (command == QLatin1String("info") && !arguments.isEmpty()) {
        result = runInfo(arguments, messages);
    } else if (command == QLatin1String("profiles") && arguments.isEmpty()) {
        result = runProfiles();
    } else if (command == QLatin1String("convert") && !arguments.isEmpty()) {
        result = runConvert(arguments, parser.value(outputOption), parser.value(formatOption), jobs);
    } else if (command == QLatin1String("sync") && !arguments.isEmpty()) {
        result = runSync(arguments, parser.value(outputOption), parser.value(formatOption), jobs,
                         parser.isSet(dryRunOption));
    } else {
        std::fprintf(stderr, "sonbrel-cli: unknown command or missing files (see --help)\n");
    }
    Messages::setSink(nullptr);
    return result;
}
