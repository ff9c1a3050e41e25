#pragma once

#include "Storage.h"

#include <memory>
#include <mutex>
#include <vector>

struct sqlite3;
class SqliteConnection;

// The embedded engine: one file, "orvela.db", in the data folder, in WAL mode so that readers
// never wait for the collector. Writes go through one connection under a lock; reads take a
// connection from a small pool.
class SqliteStorage : public Storage
{
public:
    explicit SqliteStorage(const QString &dataFolder);  // throws StorageError
    ~SqliteStorage() override;

    static QString fileName(const QString &dataFolder);

    void addAccount(const QByteArray &tokenHash, qint64 createdAt) override;
    QList<AccountRecord> accounts() override;
    void removeAccount(const QByteArray &tokenHash) override;
    bool hasAccount(const QByteArray &tokenHash) override;
    std::optional<StoredState> state(const QByteArray &tokenHash) override;
    std::optional<qint64> replaceState(const QByteArray &tokenHash, const QByteArray &document,
                                       const QList<QString> &siteUuids, qint64 now) override;

    QList<SiteRecord> sites() override;
    std::optional<qint64> ownedSite(const QByteArray &tokenHash, const QString &uuid) override;

    std::optional<QByteArray> salt(qint64 day) override;
    void putSalt(qint64 day, const QByteArray &salt) override;
    void dropSaltsBefore(qint64 day) override;
    OpenVisitors openVisitors(qint64 fromDay, qint64 openSince) override;
    void commit(const EventBatch &batch) override;
    void purge(qint64 rawBefore, qint64 countersBefore, qint64 visitorsBeforeDay) override;

    Figures figures(const FigureQuery &query) override;

private:
    class Reader;
    Reader reader();

    QString m_path;
    std::mutex m_writeLock;
    std::unique_ptr<SqliteConnection> m_writer;
    std::mutex m_poolLock;
    std::vector<std::unique_ptr<SqliteConnection>> m_idleReaders;
};
