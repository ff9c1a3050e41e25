#pragma once

#include "Storage.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class PgConnection;

// The engine for several servers: one PostgreSQL database that every server reads and writes,
// and the only truth they share. Nothing of the counting is kept between batches: each batch
// locks the visitors and visits it names (see count()). Ids come from sequences. The schema
// carries its version; the first server to start creates or migrates it under an advisory lock,
// and a server that meets a newer version refuses to start.
class PgStorage : public Storage
{
public:
    // `connection`: a postgresql:// URL or libpq's key=value form. Throws StorageError.
    explicit PgStorage(const QString &connection, int maximumConnections = 16);

    // The advisory lock a server holds while it tidies, so that the others leave it alone.
    static constexpr qint64 housekeepingLock = 0x4f7276656c610002;
    ~PgStorage() override;

    // Where the database is, for messages (no password).
    QString description() const { return m_description; }

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
    class Lease;
    Lease connection();
    PgConnection &writer();

    QString m_connection;
    QString m_description;
    int m_maximum = 16;
    std::mutex m_poolLock;
    std::condition_variable m_returned;
    std::vector<std::unique_ptr<PgConnection>> m_idle;
    int m_open = 0;
    // The collector's: batches and housekeeping, one at a time.
    std::mutex m_writeLock;
    std::unique_ptr<PgConnection> m_writer;
};
