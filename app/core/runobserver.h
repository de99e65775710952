#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <QtGlobal>

// How one row of a run ended.
struct RowResult {
    enum Kind { Converted, Stopped, Failed, Skipped };
    Kind kind = Converted;
    // Failed and Skipped: why. Converted: what is missing although the audio
    // is sound (the tags could not be written); empty when nothing is.
    QString message;
    QString output;              // the file written (Converted, Stopped)
    QByteArray audioDigest = {}; // Converted: of the samples read, see RowConverter

    bool clean() const { return kind == Converted && message.isEmpty(); }
};

// Whoever shows a run: the window's progress bar, the terminal. Events come
// in this order for every row the run visits: rowStarted, rowProgress any
// number of times, rowFinished; runFinished once at the end. With several
// jobs the rows overlap, but rows still start and finish in row order.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void rowStarted(int row) { Q_UNUSED(row); }
    // `done` of `total` frames; total may be 0 for a source that reports no length.
    virtual void rowProgress(int row, int done, int total)
    {
        Q_UNUSED(row);
        Q_UNUSED(done);
        Q_UNUSED(total);
    }
    virtual void rowFinished(int row, const RowResult &result)
    {
        Q_UNUSED(row);
        Q_UNUSED(result);
    }
    virtual void runFinished() {}
};

// Keeps every row's result of the last run.
class RunRecord : public RunObserver {
public:
    void rowFinished(int row, const RowResult &result) override { m_results.insert(row, result); }
    // Nothing for a row the run did not reach.
    const RowResult *result(int row) const
    {
        const auto it = m_results.constFind(row);
        return it == m_results.constEnd() ? nullptr : &*it;
    }
    void clear() { m_results.clear(); }

private:
    QHash<int, RowResult> m_results;
};
