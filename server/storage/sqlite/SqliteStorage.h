#pragma once

#include "Storage.h"

#include <limits>
#include <memory>
#include <mutex>
#include <vector>

struct sqlite3;
class SqliteConnection;

// The embedded engine: one file, "orvela.db", in the data folder, in WAL mode so that readers
// never wait for the collector. Writes go through one connection under a lock; reads take a
// connection from a small pool. One server per file: the collector's visitors live in memory. The schema carries its
// version; opening the file brings an older one up to date, and refuses a newer one.
class SqliteStorage : public Storage
{
public:
    explicit SqliteStorage(const QString &dataFolder);  // throws StorageError
    ~SqliteStorage() override;

    static QString fileName(const QString &dataFolder);

    QString instanceId() override;

    void addAccount(const QByteArray &tokenHash, qint64 createdAt) override;
    QList<AccountRecord> accounts() override;
    bool replaceToken(const QByteArray &oldHash, const QByteArray &newHash) override;
    void removeAccount(const QByteArray &tokenHash) override;
    bool hasAccount(const QByteArray &tokenHash) override;
    std::optional<StoredState> state(const QByteArray &tokenHash) override;
    std::optional<qint64> replaceState(const QByteArray &tokenHash, const QByteArray &document,
                                       const QList<ListedSite> &sites, qint64 now) override;

    QList<SiteRecord> listedSites() override;
    std::optional<qint64> ownedSite(const QByteArray &tokenHash, const QString &uuid) override;

    void count(const BatchKeys &keys, const CountBatch &count) override;
    void commit(const EventBatch &batch) override;
    TidyRound tidy(const Retention &retention, qint64 budget) override;

    Figures figures(const FigureQuery &query) override;

private:
    class Reader;
    Reader reader();
    void loadWorkingSet(qint64 fromDay, qint64 openSince);

    QString m_path;
    std::mutex m_writeLock;
    std::unique_ptr<SqliteConnection> m_writer;
    std::mutex m_poolLock;
    std::vector<std::unique_ptr<SqliteConnection>> m_idleReaders;

    // Only one server writes the file, so the visitors and open visits stay in memory between
    // batches, read from the file once.
    std::mutex m_countLock;
    WorkingSet m_working;
    bool m_loaded = false;
    qint64 m_lastVisitId = 0;
    qint64 m_visitorsFrom = std::numeric_limits<qint64>::max();  // days held from here on
    qint64 m_visitsFrom = std::numeric_limits<qint64>::max();    // visits last seen from here on
};
