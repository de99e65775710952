#pragma once

#include "result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class QSqlQuery;

// What a library sync made, kept in the output folder (".sonbrel/record.db",
// SQLite) so the next sync converts only what changed. A record that cannot
// be read is moved aside and started anew; the outputs themselves are never
// touched by that.
class SyncRecord {
public:
    static constexpr int kSchemaVersion = 1;

    // One source and the output made from it.
    struct Entry {
        QString source; // absolute path
        qint64 sourceSize = 0;
        qint64 sourceModified = 0; // nanoseconds since the epoch
        QByteArray audioDigest;    // empty when unknown (an adopted output)
        QByteArray tagDigest;
        int profile = 0; // profile number 1..47
        QString output;  // relative to the output folder
        qint64 outputSize = 0;
        qint64 outputModified = 0;
    };

    explicit SyncRecord(const QString &outputFolder);
    ~SyncRecord();
    SyncRecord(const SyncRecord &) = delete;
    SyncRecord &operator=(const SyncRecord &) = delete;

    // Opens (creating unless readOnly) the record; on a damaged one, moves
    // it aside and starts empty (readOnly: starts empty without writing).
    // Fails only when no record can be kept at all.
    Result<> open(bool readOnly);
    // Keeps other syncs out of this output folder until destroyed; fails
    // when one is already at work there.
    Result<> lockFolder();
    // Set when open() found the record damaged or of another schema.
    QString problem() const { return m_problem; }

    // Every entry, by source path.
    const QHash<QString, Entry> &entries() const { return m_entries; }
    // Written at once, so a killed sync loses nothing it finished.
    bool put(const Entry &entry);
    // Many at once, in one transaction.
    bool putAll(const QList<Entry> &entries);

    static QString folderName() { return QStringLiteral(".sonbrel"); }
    QString path() const;

private:
    bool load();
    bool create();
    bool tune();

    QString m_folder;
    QString m_connection;
    QString m_problem;
    bool m_readOnly = false;
    bool m_open = false;
    int m_lockFd = -1;
    std::unique_ptr<QSqlQuery> m_insert; // prepared once: one row is written per output
    QHash<QString, Entry> m_entries;
};
