#include "syncrecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString nextConnectionName()
{
    static std::atomic<int> count = 0;
    return QStringLiteral("sonbrel-record-%1").arg(++count);
}

} // namespace

SyncRecord::SyncRecord(const QString &outputFolder)
    : m_folder(outputFolder), m_connection(nextConnectionName())
{
}

SyncRecord::~SyncRecord()
{
    m_insert.reset(); // before its connection goes
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

Result<> SyncRecord::lockFolder()
{
    const QString folder = m_folder + QLatin1Char('/') + folderName();
    if (!QDir().mkpath(folder))
        return Failure{QStringLiteral("cannot create %1").arg(folder)};
    const QByteArray name = QFile::encodeName(folder + QStringLiteral("/lock"));
    m_lockFd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0)
        return Failure{QString::fromLocal8Bit(std::strerror(errno))};
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        return Failure{QStringLiteral("another sync is writing into it")};
    }
    return {};
}

QString SyncRecord::path() const
{
    return m_folder + QLatin1Char('/') + folderName() + QStringLiteral("/record.db");
}

Result<> SyncRecord::open(bool readOnly)
{
    m_readOnly = readOnly;
    m_entries.clear();
    m_problem.clear();
    const bool exists = QFileInfo::exists(path());
    if (readOnly && !exists)
        return {};
    if (!readOnly && !QDir().mkpath(QFileInfo(path()).path()))
        return Failure{QStringLiteral("cannot create %1").arg(QFileInfo(path()).path())};
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid())
        return Failure{QStringLiteral("the SQLite driver of Qt is missing (libqt6sql6-sqlite)")};
    db.setDatabaseName(path());
    if (readOnly)
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (db.open() && tune() && (exists || create()) && load()) {
        m_open = !readOnly;
        return {};
    }
    m_problem =
        QStringLiteral("The record %1 could not be read (%2); it is made again.")
            .arg(path(), db.lastError().text().isEmpty() ? QStringLiteral("damaged") : db.lastError().text());
    db.close();
    m_entries.clear();
    if (readOnly)
        return {};
    // Kept for whoever wants to look at it; never in the way of the new one.
    const QString aside =
        path() + QStringLiteral(".damaged-") + QString::number(QDateTime::currentSecsSinceEpoch());
    QFile::remove(aside);
    if (!QFile::rename(path(), aside) && !QFile::remove(path()))
        return Failure{QStringLiteral("cannot move the damaged record %1 aside").arg(path())};
    QFile::remove(path() + QStringLiteral("-journal"));
    if (db.open() && tune() && create() && load()) {
        m_open = true;
        return {};
    }
    return Failure{db.lastError().text()};
}

// Each finished output is written down at once, so writes must not wait for
// the disk: the operating system still gets every one before a killed sync
// is gone, and a record lost to a power cut is made again.
bool SyncRecord::tune()
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    return m_readOnly || (query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) &&
                          query.exec(QStringLiteral("PRAGMA synchronous = OFF")));
}

bool SyncRecord::create()
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    return query.exec(
               QStringLiteral("CREATE TABLE IF NOT EXISTS outputs ("
                              "source TEXT PRIMARY KEY NOT NULL, source_size INTEGER NOT NULL, "
                              "source_modified INTEGER NOT NULL, audio_digest BLOB, tag_digest BLOB, "
                              "profile INTEGER NOT NULL, output TEXT NOT NULL, output_size INTEGER NOT NULL, "
                              "output_modified INTEGER NOT NULL)")) &&
           query.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
}

bool SyncRecord::load()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    // A file that is not SQLite fails here; one that is damaged fails the check.
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next() ||
        query.value(0).toInt() != kSchemaVersion)
        return false;
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next() ||
        query.value(0).toString() != QLatin1String("ok"))
        return false;
    query.setForwardOnly(true);
    if (!query.exec(
            QStringLiteral("SELECT source, source_size, source_modified, audio_digest, tag_digest, profile, "
                           "output, output_size, output_modified FROM outputs")))
        return false;
    while (query.next()) {
        Entry entry{query.value(0).toString(),    query.value(1).toLongLong(),  query.value(2).toLongLong(),
                    query.value(3).toByteArray(), query.value(4).toByteArray(), query.value(5).toInt(),
                    query.value(6).toString(),    query.value(7).toLongLong(),  query.value(8).toLongLong()};
        m_entries.insert(entry.source, entry);
    }
    return true;
}

bool SyncRecord::put(const Entry &entry)
{
    m_entries.insert(entry.source, entry);
    if (!m_open)
        return !m_readOnly;
    if (!m_insert) {
        m_insert = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection, false));
        m_insert->prepare(
            QStringLiteral("INSERT OR REPLACE INTO outputs VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    }
    QSqlQuery &query = *m_insert;
    int index = 0;
    for (const QVariant &value :
         {QVariant(entry.source), QVariant(entry.sourceSize), QVariant(entry.sourceModified),
          QVariant(entry.audioDigest), QVariant(entry.tagDigest), QVariant(entry.profile),
          QVariant(entry.output), QVariant(entry.outputSize), QVariant(entry.outputModified)})
        query.bindValue(index++, value);
    return query.exec();
}

bool SyncRecord::putAll(const QList<Entry> &entries)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (m_open && !db.transaction())
        return false;
    bool written = true;
    for (const Entry &entry : entries)
        written = put(entry) && written;
    return m_open ? db.commit() && written : written;
}
