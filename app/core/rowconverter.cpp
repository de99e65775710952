#include "rowconverter.h"

#include "messageerror.h"

#include "appsettings.h"
#include "platformfiles.h"
#include "rules.h"
#include "taudiofile2.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool pathTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink(); // a dangling link still takes the name
}

// Fade times come from a hand-editable file: a huge one wraps in 32 bits
// instead of overflowing.
int secondsToMs(int seconds)
{
    return static_cast<int>(static_cast<quint32>(static_cast<qint64>(seconds) * 1000));
}

} // namespace

RowConverter::RowConverter(TAudioFile2 &reader, TAudioFile2 &writer, const AppSettings &held,
                           TagWriter tagWriter)
    : m_reader(reader), m_writer(writer), m_held(held), m_tagWriter(std::move(tagWriter))
{
}

// A name counts as taken while another row or run still writes under its
// partial name, or when it was found taken at creation time.
bool RowConverter::taken(const QString &path) const
{
    // A partial file that a killed run left behind gives the name back.
    const QString partial = partialPath(path);
    return m_refused.contains(path) || pathTaken(path) ||
           (pathTaken(partial) && !PartialFile::removeIfStale(partial));
}

QString RowConverter::allTaken() const
{
    return outputFileName(m_row.caption, m_row.source) +
           QStringLiteral(" and its numbered names already exist.");
}

// Nothing padded stands in for what is missing: the row fails, naming the file.
QString RowConverter::endedEarly(int framesDone, int sampleCount) const
{
    const double rate = std::max(1, m_reader.SampleRate());
    return QStringLiteral("%1 ended early, after %2 of its %3 seconds: it was cut short or is damaged.")
        .arg(m_row.source, QString::number(framesDone / rate, 'f', 1),
             QString::number(sampleCount / rate, 'f', 1));
}

QString RowConverter::nextFreeName()
{
    return chooseOutputPath(m_folder, m_row.caption, m_row.source,
                            [this](const QString &p) { return taken(p); });
}

std::optional<RowResult> RowConverter::start(const Row &row, const QString &folder)
{
    m_row = row;
    m_folder = folder;
    m_refused.clear();
    m_partial.clear();
    if (!QFileInfo::exists(row.source))
        return RowResult{RowResult::Skipped, row.source + QStringLiteral(" has been removed."), {}};
    m_output = nextFreeName();
    if (m_output.isEmpty())
        return RowResult{RowResult::Skipped, allTaken(), {}};

    if (m_reader.IsOpen())
        m_reader.Close();
    m_reader.Open(row.source, 0, 1);
    if (m_writer.IsOpen())
        m_writer.Close();
    const int formatA = m_reader.SourceFormatA();
    const int formatB = m_reader.SourceFormatB();
    // Before the output exists, since the writer needs it to create the file,
    // and again after, for a component that resets its format with each new
    // file. Ours keeps it, so the second call changes nothing.
    m_writer.SetSourceFormat(formatA, formatB);
    for (int recreated = 0;;) {
        const QString partial = partialPath(m_output);
        try {
            m_writer.CreateOutput(partial, 0);
            if (m_lock.acquire(partial))
                break;
            // Another run took the new file for a stale one and removed it:
            // the name is free again.
            m_writer.Close();
            if (++recreated > 3)
                throw MessageError(QStringLiteral("Cannot lock the partial output \"%1\".").arg(partial));
            continue;
        } catch (const AudioFileError &) {
            if (!pathTaken(partial))
                throw;
        }
        // Another run took the name between the choice and the creation.
        m_refused.insert(m_output);
        m_output = nextFreeName();
        if (m_output.isEmpty()) {
            m_reader.Close();
            return RowResult{RowResult::Skipped, allTaken(), {}};
        }
    }
    m_partial = partialPath(m_output);
    m_writer.SetSourceFormat(formatA, formatB);
    return std::nullopt;
}

RowResult RowConverter::transfer(const KeepGoing &keepGoing, const Progress &progress)
{
    const int sampleCount = m_reader.SampleCount();
    const int durationMs = m_reader.DurationMs();
    const int channels = m_reader.Channels();
    const int endWindow = MulDiv(secondsToMs(m_held.fadeOutTime), sampleCount, durationMs);

    bool stopped = false;
    int framesDone = 0;
    m_digest.reset();
    for (;;) {
        if (!keepGoing()) {
            stopped = true;
            break;
        }
        int readSize = kReadFrames;
        if (m_held.fadeIn && framesDone == 0)
            readSize = MulDiv(secondsToMs(m_held.fadeInTime), sampleCount, durationMs);
        if (m_held.fadeOut && sampleCount - framesDone <= endWindow)
            readSize = sampleCount - framesDone;
        if (readSize < 1) // a fade time of 0, negative or wrapped would read nothing
            readSize = kReadFrames;

        std::vector<float> samples = m_reader.ReadSamples(readSize);
        const int upper = upperBound(samples);
        if (upper < 0) {
            progress(0, sampleCount);
            if (framesDone < sampleCount)
                throw MessageError(endedEarly(framesDone, sampleCount));
            break;
        }
        // The array holds upper + 1 samples: dividing the upper bound would
        // count one frame short on every read.
        framesDone += channels > 0 ? (upper + 1) / channels : 0;
        progress(framesDone, sampleCount);
        m_digest.add(samples);
        m_writer.WriteSamples(samples);
        samples = {}; // at most one array held at a time
        // Every counted frame belongs in the output, however few are left.
        if (framesDone >= sampleCount)
            break;
    }

    m_reader.Close();
    m_writer.Close();
    if (stopped && !m_keepStopped) {
        QFile::remove(m_partial);
        m_partial.clear();
        m_lock.release();
        return {RowResult::Stopped, {}, {}};
    }
    // Closed: a complete (or deliberately stopped) file, tagged before it
    // gets its final name.
    const Result<> tagged = m_tagWriter ? m_tagWriter(m_partial, m_row.record) : Result<>();
    const QString output = publish(m_partial);
    if (output.isEmpty())
        throw MessageError(allTaken());
    m_partial.clear();
    m_lock.release();
    RowResult result{stopped ? RowResult::Stopped : RowResult::Converted, {}, output};
    result.audioDigest = m_digest.result();
    if (!tagged) {
        // The audio is sound, so it stays; the user hears what is missing.
        result.message =
            QStringLiteral("The tags could not be written into %1: %2. The converted audio is kept.")
                .arg(output, tagged.reason());
    }
    return result;
}

// Moves on to the next free name while a name turns out taken; empty when
// none is left.
QString RowConverter::publish(const QString &partial)
{
    while (!m_output.isEmpty()) {
        const Result<PlatformFiles::Renamed> renamed =
            PlatformFiles::renameWithoutReplacing(partial, m_output);
        if (!renamed)
            throw MessageError(
                QStringLiteral("Cannot name the output \"%1\": %2.").arg(m_output, renamed.reason()));
        if (*renamed == PlatformFiles::Renamed::Done)
            return m_output;
        m_refused.insert(m_output);
        m_output = nextFreeName();
    }
    return {};
}

void RowConverter::abandon()
{
    for (TAudioFile2 *instance : {&m_reader, &m_writer}) {
        try {
            if (instance->IsOpen())
                instance->Close();
        } catch (const AudioFileError &) {
        }
    }
    if (!m_partial.isEmpty())
        QFile::remove(m_partial);
    m_partial.clear();
    m_lock.release();
}
