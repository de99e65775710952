#include "conversionrun.h"

#include "filelistmodel.h"
#include "messageerror.h"
#include "messages.h"
#include "profilefile.h"
#include "taudiofile2.h"
#include "wmaprofiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QScopeGuard>

#include <condition_variable>
#include <memory>
#include <thread>

// One pair of component instances and, while it converts a row on its own
// thread, that row and how far it got.
struct ConversionRun::Job {
    Job(TAudioFile2 &reader_, TAudioFile2 &writer_) : reader(reader_), writer(writer_) {}
    TAudioFile2 &reader;
    TAudioFile2 &writer;
    std::unique_ptr<RowConverter> converter;
    std::thread thread;
    int row = -1;
    std::atomic<bool> finished = false;
    std::atomic<int> done = 0;
    std::atomic<int> total = 0;
    RowResult result;
};

namespace {

// A component or any other failure as the user reads it.
template <typename Body> Result<> attempt(Body body)
{
    try {
        body();
    } catch (const MessageError &error) {
        return Failure{error.message()};
    } catch (const std::exception &error) {
        // Out of memory or any other failure ends the row the same way.
        return Failure{QString::fromUtf8(error.what())};
    } catch (...) {
        return Failure{QStringLiteral("An unknown error ended the conversion.")};
    }
    return {};
}

} // namespace

ConversionRun::ConversionRun(FileListModel &list, TAudioFile2 &reader, TAudioFile2 &writer, AppSettings &held)
    : m_list(list), m_held(held)
{
    addJob(reader, writer);
}

ConversionRun::~ConversionRun()
{
    qDeleteAll(m_jobs);
}

void ConversionRun::addJob(TAudioFile2 &reader, TAudioFile2 &writer)
{
    m_jobs << new Job(reader, writer);
}

void ConversionRun::pump() const
{
    if (m_pump)
        m_pump();
    else
        QCoreApplication::processEvents();
}

void ConversionRun::SetUpEncoder()
{
    int profileNumber = m_settings ? storedProfileNumber(*m_settings) : kDefaultWmaPosition + 1;
    if (m_profileOverride > 0)
        profileNumber = m_profileOverride;
    for (Job *job : m_jobs)
        job->writer.SetWmaProfile(profileNumber);
}

RowConverter::Row ConversionRun::rowOf(int row) const
{
    return {m_list.cell(row, FileListModel::Path), m_list.caption(row), m_list.record(row)};
}

void ConversionRun::ConvertAll()
{
    if (m_list.count() == 0) {
        Messages::information(QStringLiteral("Please add file!"));
        return;
    }
    if (m_active)
        return;
    if (m_held.outputFolder.isEmpty()) {
        Messages::information(QStringLiteral("Please choose an output folder!"));
        return;
    }
    m_active = true;
    const Result<> setUp = attempt([this] {
        SetUpEncoder();
        for (Job *job : m_jobs) {
            if (job->writer.IsOpen())
                job->writer.Close();
        }
    });
    if (!setUp) {
        m_active = false;
        notify([](RunObserver &o) { o.runFinished(); });
        Messages::error(setUp.reason());
        return;
    }
    if (!QFileInfo(m_held.outputFolder).isDir())
        QDir().mkpath(m_held.outputFolder);
    if (!m_held.outputFolder.endsWith(QLatin1Char('/')))
        m_held.outputFolder += QLatin1Char('/');
    if (m_jobs.size() > 1)
        convertInJobs(m_held.outputFolder);
    else
        convertOneByOne(m_held.outputFolder);
}

// Sets the row's state, tells the observers and shows the row's message.
void ConversionRun::finishRow(int row, const RowResult &result)
{
    switch (result.kind) {
    case RowResult::Converted:
        m_list.setRowState(row, RowState::Converted);
        break;
    case RowResult::Stopped:
        m_list.setRowState(row, RowState::Stopped);
        break;
    case RowResult::Failed:
        m_list.setRowState(row, RowState::Failed);
        break;
    case RowResult::Skipped:
        break; // the row keeps the state it had
    }
    notify([&](RunObserver &o) { o.rowFinished(row, result); });
    if (result.kind == RowResult::Skipped)
        Messages::information(result.message);
    else if (result.kind != RowResult::Failed && !result.message.isEmpty())
        Messages::error(result.message);
}

void ConversionRun::convertOneByOne(const QString &folder)
{
    Job &job = *m_jobs.first();
    RowConverter converter(job.reader, job.writer, m_held, m_tagWriter);
    converter.setKeepStopped(m_keepStopped);
    int currentRow = -1;
    const Result<> run = attempt([&] {
        const int rows = m_list.count();
        for (int row = 0; row < rows; ++row) {
            pump();
            if (!m_active)
                break;
            currentRow = row;
            notify([row](RunObserver &o) { o.rowStarted(row); });
            RowResult result;
            if (const std::optional<RowResult> skipped =
                    converter.start(rowOf(row), m_rowFolder ? m_rowFolder(row) : folder)) {
                result = *skipped;
            } else {
                m_list.setRowState(row, RowState::Converting);
                const auto keepGoing = [this] {
                    // Twice: events posted while the first pass handles others (a
                    // click that queues more work) are handled before the next read.
                    pump();
                    pump();
                    return m_active.load();
                };
                result = converter.transfer(keepGoing, [&](int done, int total) {
                    notify([&](RunObserver &o) { o.rowProgress(row, done, total); });
                });
            }
            currentRow = -1;
            finishRow(row, result);
        }
    });
    if (!run) {
        // Nothing half done is left behind: both files closed, the partial
        // output removed, the row marked, the window idle again.
        converter.abandon();
        if (currentRow >= 0)
            finishRow(currentRow, {RowResult::Failed, run.reason(), {}});
    }
    m_active = false;
    notify([](RunObserver &o) { o.runFinished(); });
    if (!run)
        Messages::error(run.reason());
}

void ConversionRun::convertInJobs(const QString &folder)
{
    std::mutex mutex;
    std::condition_variable changed;
    // However this ends, no job's thread outlives the mutex and condition it uses.
    const auto joinAll = qScopeGuard([this] {
        m_active = false; // a running row stops at its next read
        for (Job *job : m_jobs) {
            if (job->thread.joinable())
                job->thread.join();
        }
    });
    const TagWriter tagWriter = [this](const QString &path, const AudioFileinfo &record) {
        const std::lock_guard lock(m_tagMutex);
        return m_tagWriter ? m_tagWriter(path, record) : Result<>();
    };
    for (Job *job : m_jobs) {
        job->converter = std::make_unique<RowConverter>(job->reader, job->writer, m_held, tagWriter);
        job->converter->setKeepStopped(m_keepStopped);
    }

    const int rows = m_list.count();
    int next = 0;                 // the next row to start
    int reported = 0;             // rows before this one have been reported
    QMap<int, RowResult> results; // finished, waiting for the rows before them
    QString failure;
    const auto report = [&](bool all) {
        while (reported < rows && (results.contains(reported) || (all && reported >= next))) {
            if (results.contains(reported))
                finishRow(reported, results.take(reported));
            ++reported;
        }
    };
    const auto collect = [&](Job *job) {
        if (job->thread.joinable())
            job->thread.join();
        if (job->result.kind == RowResult::Failed && failure.isEmpty())
            failure = job->result.message;
        results.insert(job->row, job->result);
        job->row = -1;
    };

    const Result<> run = attempt([&] {
        for (;;) {
            if (const Result<> pumped = attempt([this] { pump(); }); !pumped) {
                // The jobs still running finish their rows; nothing new starts.
                if (failure.isEmpty())
                    failure = pumped.reason();
            }
            for (Job *job : m_jobs) {
                if (job->row >= 0 && job->finished)
                    collect(job);
            }
            report(false);
            bool busy = false;
            for (Job *job : m_jobs) {
                if (job->row >= 0) {
                    busy = true;
                    notify([&](RunObserver &o) { o.rowProgress(job->row, job->done, job->total); });
                    continue;
                }
                // Names are chosen and reserved here, on this thread, in row order.
                while (m_active && failure.isEmpty() && next < rows && job->row < 0) {
                    const int row = next++;
                    notify([row](RunObserver &o) { o.rowStarted(row); });
                    std::optional<RowResult> skipped;
                    Result<> started = attempt([&] {
                        skipped = job->converter->start(rowOf(row), m_rowFolder ? m_rowFolder(row) : folder);
                    });
                    if (started && !skipped) {
                        job->finished = false;
                        job->done = job->total = 0;
                        started = attempt([&] {
                            job->thread = std::thread(&ConversionRun::runJob, this, job, std::ref(mutex),
                                                      std::ref(changed));
                        });
                    }
                    if (!started) {
                        job->converter->abandon();
                        failure = started.reason();
                        results.insert(row, {RowResult::Failed, started.reason(), {}});
                    } else if (skipped) {
                        results.insert(row, *skipped);
                    } else {
                        job->row = row;
                        busy = true;
                        m_list.setRowState(row, RowState::Converting);
                    }
                }
            }
            report(false);
            if (!busy)
                break;
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    });
    if (!run) {
        // This thread failed between the jobs' steps: the rows still running
        // stop, and the run ends with the failure as a job's would end it.
        m_active = false;
        if (failure.isEmpty())
            failure = run.reason();
        for (Job *job : m_jobs) {
            if (job->row >= 0)
                collect(job);
        }
    }
    report(true);
    m_active = false;
    notify([](RunObserver &o) { o.runFinished(); });
    if (!failure.isEmpty())
        Messages::error(failure);
}

// A job's thread: transfers its row, then tells the run's thread.
void ConversionRun::runJob(Job *job, std::mutex &mutex, std::condition_variable &changed)
{
    const Result<> transferred = attempt([&] {
        job->result = job->converter->transfer([this] { return m_active.load(); },
                                               [job](int done, int total) {
                                                   job->done = done;
                                                   job->total = total;
                                               });
    });
    if (!transferred) {
        job->converter->abandon();
        job->result = {RowResult::Failed, transferred.reason(), {}};
    }
    const std::lock_guard lock(mutex);
    job->finished = true;
    changed.notify_all();
}
