#include "conversionrun.h"

#include "filelistmodel.h"
#include "messages.h"
#include "platformfiles.h"
#include "profilefile.h"
#include "rules.h"
#include "taudiofile2.h"
#include "wmaprofiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

bool pathTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();  // a dangling link still takes the name
}

// Fade times come from a hand-editable file: a huge one wraps in 32 bits
// instead of overflowing.
int secondsToMs(int seconds)
{
    return static_cast<int>(static_cast<quint32>(static_cast<qint64>(seconds) * 1000));
}

} // namespace

ConversionRun::ConversionRun(FileListModel &list, TAudioFile2 &reader, TAudioFile2 &writer, AppSettings &held)
    : m_list(list), m_reader(reader), m_writer(writer), m_held(held)
{
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
    m_writer.SetWmaProfile(profileNumber);
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

    int currentRow = -1;
    QString createdOutput;  // an output of this run that is not complete yet
    try {
        SetUpEncoder();
        if (m_writer.IsOpen())
            m_writer.Close();

        if (!QFileInfo(m_held.outputFolder).isDir())
            QDir().mkpath(m_held.outputFolder);
        if (!m_held.outputFolder.endsWith(QLatin1Char('/')))
            m_held.outputFolder += QLatin1Char('/');
        const QString folder = m_held.outputFolder;

        const int rows = m_list.count();
        for (int row = 0; row < rows; ++row) {
            pump();
            if (!m_active)
                break;
            currentRow = row;
            notify([row](RunObserver &o) { o.rowStarted(row); });
            const RowResult result = convertRow(row, folder, createdOutput);
            notify([&](RunObserver &o) { o.rowFinished(row, result); });
            currentRow = -1;
        }
    } catch (const AudioFileError &error) {
        abandonRun(currentRow, createdOutput, error.message());
        return;
    } catch (const std::exception &error) {
        // Out of memory or any other failure ends the run the same way.
        abandonRun(currentRow, createdOutput, QString::fromUtf8(error.what()));
        return;
    }
    m_active = false;
    notify([](RunObserver &o) { o.runFinished(); });
}

void ConversionRun::abandonRun(int currentRow, const QString &createdOutput, const QString &message)
{
    // Leave nothing half done behind: both files closed, the partial
    // output removed, the row marked, the window idle again.
    for (TAudioFile2 *instance : {&m_reader, &m_writer}) {
        try {
            if (instance->IsOpen())
                instance->Close();
        } catch (const AudioFileError &) {
        }
    }
    if (!createdOutput.isEmpty())
        QFile::remove(createdOutput);
    if (currentRow >= 0) {
        m_list.setRowState(currentRow, RowState::Failed);
        notify([&](RunObserver &o) { o.rowFinished(currentRow, {RowResult::Failed, message, {}}); });
    }
    m_active = false;
    notify([](RunObserver &o) { o.runFinished(); });
    Messages::error(message);
}

RowResult ConversionRun::convertRow(int row, const QString &folder, QString &createdOutput)
{
    const QString source = m_list.cell(row, FileListModel::Path);
    if (!QFileInfo::exists(source)) {
        const QString message = source + QStringLiteral(" has been removed.");
        Messages::information(message);
        return {RowResult::Skipped, message, {}};
    }

    // A name counts as taken while another row or run still writes under
    // its partial name, or when it was found taken at creation time.
    const QString caption = m_list.caption(row);
    QSet<QString> refused;
    const auto taken = [&refused](const QString &path) {
        return refused.contains(path) || pathTaken(path) || pathTaken(partialPath(path));
    };
    const auto allTaken = [&] {
        return outputFileName(caption, source) + QStringLiteral(" and its numbered names already exist.");
    };
    QString output = chooseOutputPath(folder, caption, source, taken);
    if (output.isEmpty()) {
        Messages::information(allTaken());
        return {RowResult::Skipped, allTaken(), {}};
    }

    const RowState stateBefore = m_list.rowState(row);
    m_list.setRowState(row, RowState::Converting);
    if (m_reader.IsOpen())
        m_reader.Close();
    m_reader.Open(source, 0, 1);

    const int sampleCount = m_reader.SampleCount();
    const int durationMs = m_reader.DurationMs();
    const int channels = m_reader.Channels();
    const int endWindow = MulDiv(secondsToMs(m_held.fadeOutTime), sampleCount, durationMs);

    if (m_writer.IsOpen())
        m_writer.Close();
    const int formatA = m_reader.SourceFormatA();
    const int formatB = m_reader.SourceFormatB();
    // Before the output exists, since the writer needs it to create the file,
    // and again after, for a component that resets its format with each new
    // file. Ours keeps it, so the second call changes nothing.
    m_writer.SetSourceFormat(formatA, formatB);
    for (;;) {
        const QString partial = partialPath(output);
        try {
            m_writer.CreateOutput(partial, 0);
            break;
        } catch (const AudioFileError &) {
            if (!pathTaken(partial))
                throw;
        }
        // Another run took the name between the choice and the creation.
        refused.insert(output);
        output = chooseOutputPath(folder, caption, source, taken);
        if (output.isEmpty()) {
            m_reader.Close();
            m_list.setRowState(row, stateBefore);
            Messages::information(allTaken());
            return {RowResult::Skipped, allTaken(), {}};
        }
    }
    createdOutput = partialPath(output);
    m_writer.SetSourceFormat(formatA, formatB);

    bool stopped = false;
    int framesDone = 0;
    for (;;) {
        // Twice: events posted while the first pass handles others (a click
        // that queues more work) are handled by the second before the next read.
        pump();
        pump();
        if (!m_active) {
            stopped = true;
            break;
        }
        int readSize = kReadFrames;
        if (m_held.fadeIn && framesDone == 0)
            readSize = MulDiv(secondsToMs(m_held.fadeInTime), sampleCount, durationMs);
        if (m_held.fadeOut && sampleCount - framesDone <= endWindow)
            readSize = sampleCount - framesDone;
        if (readSize < 1)  // a fade time of 0, negative or wrapped would read nothing
            readSize = kReadFrames;

        std::vector<float> samples = m_reader.ReadSamples(readSize);
        const int upper = upperBound(samples);
        if (upper < 0) {
            notify([&](RunObserver &o) { o.rowProgress(row, 0, sampleCount); });
            break;
        }
        // The array holds upper + 1 samples: dividing the upper bound would
        // count one frame short on every read.
        framesDone += channels > 0 ? (upper + 1) / channels : 0;
        notify([&](RunObserver &o) { o.rowProgress(row, framesDone, sampleCount); });
        m_writer.WriteSamples(samples);
        samples = {};  // at most one array held at a time
        // Every counted frame belongs in the output, however few are left.
        if (framesDone >= sampleCount)
            break;
    }

    m_reader.Close();
    m_writer.Close();
    // Closed: a complete (or deliberately stopped) file, tagged before it
    // gets its final name.
    const QString tagProblem = m_tagWriter ? m_tagWriter(createdOutput, m_list.record(row)) : QString();
    output = publish(createdOutput, output, [&](const QString &path) {
        refused.insert(path);
        return chooseOutputPath(folder, caption, source, taken);
    });
    if (output.isEmpty())
        throw std::runtime_error(allTaken().toStdString());
    createdOutput.clear();
    RowResult result{stopped ? RowResult::Stopped : RowResult::Converted, {}, output};
    if (!tagProblem.isEmpty()) {
        // The audio is sound, so it stays; the user hears what is missing.
        result.message = QStringLiteral("The tags could not be written into %1: %2. The converted audio is kept.")
                             .arg(output, tagProblem);
        Messages::error(result.message);
    }
    m_list.setRowState(row, stopped ? RowState::Stopped : RowState::Converted);
    return result;
}

QString ConversionRun::publish(const QString &partial, QString output,
                               const std::function<QString(const QString &)> &nextAfterTaken)
{
    while (!output.isEmpty()) {
        QString reason;
        switch (PlatformFiles::renameWithoutReplacing(partial, output, &reason)) {
        case PlatformFiles::RenameResult::Done:
            return output;
        case PlatformFiles::RenameResult::NameTaken:
            output = nextAfterTaken(output);
            break;
        case PlatformFiles::RenameResult::Failed:
            throw std::runtime_error(
                QStringLiteral("Cannot name the output \"%1\": %2.").arg(output, reason).toStdString());
        }
    }
    return {};
}
