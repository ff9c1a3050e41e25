#include "SqliteStorage.h"

#include "Clock.h"
#include "SqliteConnection.h"
#include "SqliteTransaction.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <iterator>
#include <limits>
#include <sqlite3.h>
#include <unordered_map>
#include <utility>

namespace {

constexpr int schemaVersion = 2;

// Site ids are never given twice (AUTOINCREMENT): rows of an ended site may still point at its
// id until housekeeping has deleted them.
const char *const schema = R"sql(
CREATE TABLE schema_version(version INTEGER NOT NULL);
CREATE TABLE instance(id TEXT NOT NULL);
CREATE TABLE accounts(
  id INTEGER PRIMARY KEY AUTOINCREMENT, token_hash BLOB NOT NULL UNIQUE, created_at INTEGER NOT NULL,
  state TEXT, updated_at INTEGER);
CREATE TABLE sites(
  id INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL UNIQUE, owner INTEGER NOT NULL,
  listed INTEGER NOT NULL, domain TEXT NOT NULL, tracked INTEGER NOT NULL DEFAULT 0);
CREATE INDEX sites_by_owner ON sites(owner);
CREATE TABLE ended_sites(id INTEGER PRIMARY KEY);
CREATE TABLE visitors(
  site INTEGER, day INTEGER, hash BLOB, last_seen INTEGER NOT NULL, visit INTEGER NOT NULL,
  country TEXT NOT NULL, PRIMARY KEY(site, day, hash)) WITHOUT ROWID;
CREATE INDEX visitors_by_day ON visitors(day);
CREATE TABLE visits(
  id INTEGER PRIMARY KEY, site INTEGER NOT NULL, public_id TEXT NOT NULL, first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL, referrer TEXT NOT NULL, country TEXT NOT NULL, next_seq INTEGER NOT NULL);
CREATE INDEX visits_by_site ON visits(site, last_seen);
CREATE INDEX visits_by_last_seen ON visits(last_seen);
CREATE TABLE events(
  visit INTEGER, seq INTEGER, at INTEGER NOT NULL, kind INTEGER NOT NULL, value TEXT,
  PRIMARY KEY(visit, seq)) WITHOUT ROWID;
CREATE TABLE slots(
  site INTEGER, slot INTEGER, page_views INTEGER NOT NULL, last_visitors INTEGER NOT NULL,
  PRIMARY KEY(site, slot)) WITHOUT ROWID;
CREATE INDEX slots_by_slot ON slots(slot);
CREATE TABLE slot_countries(
  site INTEGER, slot INTEGER, country TEXT, last_visitors INTEGER NOT NULL,
  PRIMARY KEY(site, slot, country)) WITHOUT ROWID;
CREATE INDEX slot_countries_by_slot ON slot_countries(slot);
CREATE TABLE hours(
  site INTEGER, alignment INTEGER, start INTEGER, visitors INTEGER NOT NULL,
  PRIMARY KEY(site, alignment, start)) WITHOUT ROWID;
CREATE INDEX hours_by_start ON hours(start);
CREATE TABLE days(
  site INTEGER, day INTEGER, visitors INTEGER NOT NULL, page_views INTEGER NOT NULL,
  PRIMARY KEY(site, day)) WITHOUT ROWID;
)sql";

// Version 1 had no version table, kept the day's salt beside the visitor hashes, named
// accounts by their token's hash, and let a site with history pass to whoever listed it next.
const char *const migrationTo2 = R"sql(
DROP TABLE salts;
DROP INDEX sites_by_owner;
ALTER TABLE accounts RENAME TO accounts_v1;
ALTER TABLE sites RENAME TO sites_v1;
CREATE TABLE schema_version(version INTEGER NOT NULL);
CREATE TABLE instance(id TEXT NOT NULL);
CREATE TABLE accounts(
  id INTEGER PRIMARY KEY AUTOINCREMENT, token_hash BLOB NOT NULL UNIQUE, created_at INTEGER NOT NULL,
  state TEXT, updated_at INTEGER);
CREATE TABLE sites(
  id INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL UNIQUE, owner INTEGER NOT NULL,
  listed INTEGER NOT NULL, domain TEXT NOT NULL, tracked INTEGER NOT NULL DEFAULT 0);
CREATE INDEX sites_by_owner ON sites(owner);
CREATE TABLE ended_sites(id INTEGER PRIMARY KEY);
CREATE INDEX visitors_by_day ON visitors(day);
CREATE INDEX visits_by_last_seen ON visits(last_seen);
CREATE INDEX slots_by_slot ON slots(slot);
CREATE INDEX slot_countries_by_slot ON slot_countries(slot);
CREATE INDEX hours_by_start ON hours(start);
INSERT INTO accounts(token_hash, created_at, state, updated_at)
  SELECT token_hash, created_at, state, updated_at FROM accounts_v1 ORDER BY created_at, token_hash;
INSERT INTO sites(id, uuid, owner, listed, domain, tracked)
  SELECT s.id, s.uuid, a.id, 1,
         coalesce((SELECT json_extract(w.value, '$.domain')
                   FROM json_each(CASE WHEN json_valid(a.state) THEN a.state ELSE '{}' END, '$.websites') AS w
                   WHERE json_extract(w.value, '$.id') = s.uuid LIMIT 1), ''),
         s.tracked
  FROM sites_v1 AS s JOIN accounts AS a ON a.token_hash = s.owner;
-- Whose history a site that nobody listed holds cannot be told: it goes.
INSERT INTO ended_sites(id) SELECT id FROM sites_v1 WHERE tracked <> 0 AND owner IS NULL;
DELETE FROM sqlite_sequence WHERE name = 'sites';
INSERT INTO sqlite_sequence(name, seq) SELECT 'sites', coalesce(max(id), 0) FROM sites_v1;
DROP TABLE sites_v1;
DROP TABLE accounts_v1;
)sql";

// Entry i takes the schema from version i + 1 to i + 2.
const char *const migrations[] = {migrationTo2};
static_assert(std::size(migrations) == schemaVersion - 1);

bool hasTable(SqliteConnection &db, const char *name)
{
    return db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?").bindText(1, name).step();
}

// 0 for a new database.
int storedVersion(SqliteConnection &db)
{
    if (hasTable(db, "schema_version")) {
        auto query = db.prepare("SELECT version FROM schema_version");
        if (!query.step())
            throw StorageError("the database has no schema version");
        return int(query.integer(0));
    }
    return hasTable(db, "accounts") ? 1 : 0;
}

QString newInstanceId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

// Deletes rows chosen by `sql`, whose ?1 is `key` and ?2 the most it may delete, within
// `remaining`; true when none is left.
bool deleteWithin(SqliteConnection &db, const char *sql, qint64 key, qint64 &remaining)
{
    if (remaining <= 0)
        return false;
    db.prepare(sql).bind(1, key).bind(2, remaining).run();
    const qint64 deleted = db.changes();
    remaining -= deleted;
    return remaining > 0;
}

// Deletes the visits `firstSql` picks one at a time (?1 is `key`), each with its events.
bool deleteVisitsWithin(SqliteConnection &db, const char *firstSql, qint64 key, qint64 &remaining)
{
    while (remaining > 0) {
        auto first = db.prepare(firstSql).bind(1, key);
        if (!first.step())
            return true;
        const qint64 visit = first.integer(0);
        if (!deleteWithin(db,
                          "DELETE FROM events WHERE visit = ?1 AND seq IN "
                          "(SELECT seq FROM events WHERE visit = ?1 ORDER BY seq LIMIT ?2)",
                          visit, remaining))
            return false;
        db.prepare("DELETE FROM visits WHERE id = ?").bind(1, visit).run();
        --remaining;
    }
    return false;
}

// Everything an ended site left behind.
bool deleteSiteWithin(SqliteConnection &db, qint64 site, qint64 &remaining)
{
    return deleteVisitsWithin(db, "SELECT id FROM visits WHERE site = ?1 LIMIT 1", site, remaining) &&
        deleteWithin(db,
                     "DELETE FROM visitors WHERE (site, day, hash) IN "
                     "(SELECT site, day, hash FROM visitors WHERE site = ?1 LIMIT ?2)",
                     site, remaining) &&
        deleteWithin(db,
                     "DELETE FROM slots WHERE (site, slot) IN (SELECT site, slot FROM slots WHERE site = ?1 LIMIT ?2)",
                     site, remaining) &&
        deleteWithin(db,
                     "DELETE FROM slot_countries WHERE (site, slot, country) IN "
                     "(SELECT site, slot, country FROM slot_countries WHERE site = ?1 LIMIT ?2)",
                     site, remaining) &&
        deleteWithin(db,
                     "DELETE FROM hours WHERE (site, alignment, start) IN "
                     "(SELECT site, alignment, start FROM hours WHERE site = ?1 LIMIT ?2)",
                     site, remaining) &&
        deleteWithin(db, "DELETE FROM days WHERE (site, day) IN (SELECT site, day FROM days WHERE site = ?1 LIMIT ?2)",
                     site, remaining);
}

}  // namespace

class SqliteStorage::Reader
{
public:
    Reader(SqliteStorage &owner, std::unique_ptr<SqliteConnection> connection)
        : m_owner(owner),
          m_connection(std::move(connection))
    {}
    Reader(Reader &&) = default;
    ~Reader()
    {
        if (!m_connection)
            return;
        std::lock_guard lock(m_owner.m_poolLock);
        m_owner.m_idleReaders.push_back(std::move(m_connection));
    }
    SqliteConnection *operator->() { return m_connection.get(); }
    SqliteConnection &operator*() { return *m_connection; }

private:
    SqliteStorage &m_owner;
    std::unique_ptr<SqliteConnection> m_connection;
};

SqliteStorage::SqliteStorage(const QString &dataFolder) : m_path(fileName(dataFolder))
{
    if (!QDir().mkpath(dataFolder))
        throw StorageError("cannot create the folder");
    m_writer = std::make_unique<SqliteConnection>(m_path, true);
    bool migrated = false;
    {
        SqliteTransaction transaction(*m_writer, true);
        const int version = storedVersion(*m_writer);
        if (version > schemaVersion) {
            throw StorageError(QStringLiteral("its database has schema version %1, and this orvela-server knows "
                                              "versions up to %2: run a newer orvela-server")
                                   .arg(version)
                                   .arg(schemaVersion)
                                   .toStdString());
        }
        if (version == 0) {
            m_writer->execute(schema);
        } else {
            for (int step = version; step < schemaVersion; ++step)
                m_writer->execute(migrations[step - 1]);
        }
        if (version < schemaVersion) {
            m_writer->execute("DELETE FROM schema_version");
            m_writer->prepare("INSERT INTO schema_version(version) VALUES(?)").bind(1, qint64(schemaVersion)).run();
            m_writer->prepare("INSERT INTO instance(id) SELECT ? WHERE NOT EXISTS (SELECT 1 FROM instance)")
                .bind(1, newInstanceId())
                .run();
        }
        transaction.commit();
        migrated = version != 0 && version < schemaVersion;
    }
    // What an older version wrote and a migration dropped (a salt, above all) must not stay
    // in free pages or in the log, where a copy of the folder would keep it.
    if (migrated) {
        m_writer->execute("VACUUM");
        m_writer->execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
}

SqliteStorage::~SqliteStorage() = default;

QString SqliteStorage::fileName(const QString &dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("orvela.db"));
}

SqliteStorage::Reader SqliteStorage::reader()
{
    {
        std::lock_guard lock(m_poolLock);
        if (!m_idleReaders.empty()) {
            auto connection = std::move(m_idleReaders.back());
            m_idleReaders.pop_back();
            return Reader(*this, std::move(connection));
        }
    }
    return Reader(*this, std::make_unique<SqliteConnection>(m_path, false));
}

QString SqliteStorage::instanceId()
{
    auto db = reader();
    auto query = db->prepare("SELECT id FROM instance");
    if (!query.step())
        throw StorageError("the database has no instance id");
    return query.text(0);
}

void SqliteStorage::addAccount(const QByteArray &tokenHash, qint64 createdAt)
{
    std::lock_guard lock(m_writeLock);
    m_writer->prepare("INSERT INTO accounts(token_hash, created_at) VALUES(?, ?)")
        .bind(1, tokenHash)
        .bind(2, createdAt)
        .run();
}

QList<AccountRecord> SqliteStorage::accounts()
{
    auto db = reader();
    QList<AccountRecord> result;
    auto query = db->prepare("SELECT id, token_hash, created_at FROM accounts ORDER BY created_at, id");
    while (query.step())
        result.append({query.integer(0), query.blob(1), query.integer(2)});
    return result;
}

bool SqliteStorage::replaceToken(const QByteArray &oldHash, const QByteArray &newHash)
{
    std::lock_guard lock(m_writeLock);
    m_writer->prepare("UPDATE accounts SET token_hash = ? WHERE token_hash = ?")
        .bind(1, newHash)
        .bind(2, oldHash)
        .run();
    return m_writer->changes() == 1;
}

void SqliteStorage::removeAccount(const QByteArray &tokenHash)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    auto account = m_writer->prepare("SELECT id FROM accounts WHERE token_hash = ?").bind(1, tokenHash);
    if (!account.step())
        return;
    const qint64 id = account.integer(0);
    // The site rows go now, so that the ids are free and nothing reads the history again.
    m_writer->prepare("INSERT INTO ended_sites(id) SELECT id FROM sites WHERE owner = ? AND tracked <> 0")
        .bind(1, id)
        .run();
    m_writer->prepare("DELETE FROM sites WHERE owner = ?").bind(1, id).run();
    m_writer->prepare("DELETE FROM accounts WHERE id = ?").bind(1, id).run();
    transaction.commit();
}

bool SqliteStorage::hasAccount(const QByteArray &tokenHash)
{
    auto db = reader();
    return db->prepare("SELECT 1 FROM accounts WHERE token_hash = ?").bind(1, tokenHash).step();
}

std::optional<StoredState> SqliteStorage::state(const QByteArray &tokenHash)
{
    auto db = reader();
    auto query = db->prepare("SELECT state, updated_at FROM accounts WHERE token_hash = ?").bind(1, tokenHash);
    if (!query.step())
        return std::nullopt;
    StoredState stored;
    if (!query.isNull(0))
        stored.document = query.blob(0);
    if (!query.isNull(1))
        stored.updatedAt = query.integer(1);
    return stored;
}

std::optional<qint64> SqliteStorage::replaceState(const QByteArray &tokenHash, const QByteArray &document,
                                                  const QList<ListedSite> &sites, qint64 now)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    auto previous = m_writer->prepare("SELECT id, updated_at FROM accounts WHERE token_hash = ?").bind(1, tokenHash);
    if (!previous.step())
        return std::nullopt;
    const qint64 account = previous.integer(0);
    const qint64 updatedAt = previous.isNull(1) ? now : std::max(now, previous.integer(1) + 1);

    m_writer->prepare("UPDATE accounts SET state = ?, updated_at = ? WHERE id = ?")
        .bindText(1, document)
        .bind(2, updatedAt)
        .bind(3, account)
        .run();

    QSet<QString> listed;
    for (const auto &site : sites)
        listed.insert(site.uuid);
    std::vector<std::pair<qint64, bool>> dropped;  // id, tracked
    {
        auto query =
            m_writer->prepare("SELECT id, uuid, tracked FROM sites WHERE owner = ? AND listed <> 0").bind(1, account);
        while (query.step()) {
            if (!listed.contains(query.text(1)))
                dropped.emplace_back(query.integer(0), query.integer(2) != 0);
        }
    }
    for (const auto &[id, tracked] : dropped) {
        m_writer->prepare(tracked ? "UPDATE sites SET listed = 0 WHERE id = ?" : "DELETE FROM sites WHERE id = ?")
            .bind(1, id)
            .run();
    }
    for (const auto &site : sites) {
        m_writer
            ->prepare("INSERT INTO sites(uuid, owner, listed, domain) VALUES(?, ?, 1, ?) "
                      "ON CONFLICT(uuid) DO UPDATE SET listed = 1, domain = excluded.domain "
                      "WHERE owner = excluded.owner")
            .bind(1, site.uuid)
            .bind(2, account)
            .bind(3, site.domain)
            .run();
    }
    transaction.commit();
    return updatedAt;
}

QList<SiteRecord> SqliteStorage::listedSites()
{
    auto db = reader();
    QList<SiteRecord> result;
    auto query = db->prepare("SELECT id, uuid, domain FROM sites WHERE listed <> 0");
    while (query.step())
        result.append({query.integer(0), query.text(1), query.text(2)});
    return result;
}

std::optional<qint64> SqliteStorage::ownedSite(const QByteArray &tokenHash, const QString &uuid)
{
    auto db = reader();
    auto query = db->prepare("SELECT sites.id FROM sites JOIN accounts ON accounts.id = sites.owner "
                             "WHERE sites.uuid = ? AND sites.listed <> 0 AND accounts.token_hash = ?")
                     .bind(1, uuid)
                     .bind(2, tokenHash);
    if (!query.step())
        return std::nullopt;
    return query.integer(0);
}

void SqliteStorage::loadWorkingSet(qint64 fromDay, qint64 openSince)
{
    std::lock_guard lock(m_writeLock);
    if (!m_loaded) {
        auto last = m_writer->prepare("SELECT coalesce(max(id), 0) FROM visits");
        last.step();
        m_lastVisitId = last.integer(0);
        m_working.newVisitId = [this] { return ++m_lastVisitId; };
        m_loaded = true;
    }
    if (fromDay < m_visitorsFrom) {
        auto query = m_writer
                         ->prepare("SELECT site, day, hash, last_seen, visit, country FROM visitors "
                                   "WHERE day >= ? AND day < ?")
                         .bind(1, fromDay)
                         .bind(2, m_visitorsFrom);
        while (query.step()) {
            VisitorRow row{query.integer(0), query.integer(1), query.blob(2),
                           query.integer(3), query.integer(4), query.text(5)};
            m_working.visitors.emplace(VisitorKey{row.site, row.day, row.hash}, row);
        }
        m_visitorsFrom = fromDay;
    }
    if (openSince < m_visitsFrom) {
        auto query = m_writer
                         ->prepare("SELECT id, site, public_id, first_seen, last_seen, referrer, country, next_seq "
                                   "FROM visits WHERE last_seen >= ? AND last_seen < ?")
                         .bind(1, openSince)
                         .bind(2, m_visitsFrom);
        while (query.step()) {
            m_working.visits.emplace(query.integer(0),
                                     VisitRow{query.integer(0), query.integer(1), query.text(2), query.integer(3),
                                              query.integer(4), query.text(5), query.text(6), query.integer(7)});
        }
        m_visitsFrom = openSince;
    }
}

void SqliteStorage::count(const BatchKeys &keys, const CountBatch &count)
{
    std::lock_guard lock(m_countLock);
    qint64 fromDay = std::numeric_limits<qint64>::max();
    for (const auto *list : {&keys.counted, &keys.previous}) {
        for (const auto &key : *list)
            fromDay = std::min(fromDay, key.day);
    }
    loadWorkingSet(fromDay, keys.openSince);
    commit(count(m_working));
    // Batches come in time order: what this one could not use, later ones cannot either. Looked
    // through when a day is over, and for closed visits once a minute.
    if (fromDay > m_visitorsFrom) {
        std::erase_if(m_working.visitors, [&](const auto &entry) { return entry.first.day < fromDay; });
        m_visitorsFrom = fromDay;
    }
    if (keys.openSince - m_visitsFrom >= 60) {
        std::erase_if(m_working.visits, [&](const auto &entry) { return entry.second.lastSeen < keys.openSince; });
        m_visitsFrom = keys.openSince;
    }
}

void SqliteStorage::commit(const EventBatch &batch)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    std::unordered_map<qint64, bool> known;
    const auto exists = [&](qint64 site) {
        const auto found = known.find(site);
        if (found != known.end())
            return found->second;
        const bool result = m_writer->prepare("SELECT 1 FROM sites WHERE id = ?").bind(1, site).step();
        known.emplace(site, result);
        return result;
    };
    for (const auto &[id, visit] : batch.visits) {
        if (!exists(visit.site))
            continue;
        m_writer
            ->prepare("INSERT INTO visits(id, site, public_id, first_seen, last_seen, referrer, country, next_seq) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(id) DO UPDATE SET "
                      "last_seen = excluded.last_seen, next_seq = excluded.next_seq")
            .bind(1, visit.id)
            .bind(2, visit.site)
            .bind(3, visit.publicId)
            .bind(4, visit.firstSeen)
            .bind(5, visit.lastSeen)
            .bind(6, visit.referrer)
            .bind(7, visit.country)
            .bind(8, visit.nextSeq)
            .run();
    }
    for (const auto &event : batch.events) {
        const auto visit = batch.visits.find(event.visit);
        if (visit == batch.visits.end() || !exists(visit->second.site))
            continue;
        auto insert = m_writer->prepare("INSERT INTO events(visit, seq, at, kind, value) VALUES(?, ?, ?, ?, ?)");
        insert.bind(1, event.visit).bind(2, event.seq).bind(3, event.at).bind(4, qint64(event.kind));
        if (event.kind != EventKind::ping)
            insert.bind(5, event.value);
        insert.run();
    }
    for (const auto &visitor : batch.visitors) {
        if (!exists(visitor.site))
            continue;
        m_writer
            ->prepare(
                "INSERT INTO visitors(site, day, hash, last_seen, visit, country) VALUES(?, ?, ?, ?, ?, ?) "
                "ON CONFLICT(site, day, hash) DO UPDATE SET last_seen = excluded.last_seen, visit = excluded.visit")
            .bind(1, visitor.site)
            .bind(2, visitor.day)
            .bind(3, visitor.hash)
            .bind(4, visitor.lastSeen)
            .bind(5, visitor.visit)
            .bind(6, visitor.country)
            .run();
    }
    for (const auto &[key, delta] : batch.quarters) {
        if (!exists(key.first))
            continue;
        m_writer
            ->prepare("INSERT INTO slots(site, slot, page_views, last_visitors) VALUES(?, ?, ?, ?) "
                      "ON CONFLICT(site, slot) DO UPDATE SET page_views = page_views + excluded.page_views, "
                      "last_visitors = last_visitors + excluded.last_visitors")
            .bind(1, key.first)
            .bind(2, key.second)
            .bind(3, delta.pageViews)
            .bind(4, delta.lastVisitors)
            .run();
    }
    for (const auto &[key, delta] : batch.slotCountries) {
        if (!exists(std::get<0>(key)))
            continue;
        m_writer
            ->prepare(
                "INSERT INTO slot_countries(site, slot, country, last_visitors) VALUES(?, ?, ?, ?) "
                "ON CONFLICT(site, slot, country) DO UPDATE SET last_visitors = last_visitors + excluded.last_visitors")
            .bind(1, std::get<0>(key))
            .bind(2, std::get<1>(key))
            .bind(3, std::get<2>(key))
            .bind(4, delta)
            .run();
    }
    for (const auto &[key, delta] : batch.hours) {
        if (!exists(std::get<0>(key)))
            continue;
        m_writer
            ->prepare("INSERT INTO hours(site, alignment, start, visitors) VALUES(?, ?, ?, ?) "
                      "ON CONFLICT(site, alignment, start) DO UPDATE SET visitors = visitors + excluded.visitors")
            .bind(1, std::get<0>(key))
            .bind(2, qint64(std::get<1>(key)))
            .bind(3, std::get<2>(key))
            .bind(4, delta)
            .run();
    }
    for (const auto &[key, delta] : batch.days) {
        if (!exists(key.first))
            continue;
        m_writer
            ->prepare("INSERT INTO days(site, day, visitors, page_views) VALUES(?, ?, ?, ?) "
                      "ON CONFLICT(site, day) DO UPDATE SET visitors = visitors + excluded.visitors, "
                      "page_views = page_views + excluded.page_views")
            .bind(1, key.first)
            .bind(2, key.second)
            .bind(3, delta.visitors)
            .bind(4, delta.pageViews)
            .run();
    }
    for (const qint64 site : batch.trackedSites)
        m_writer->prepare("UPDATE sites SET tracked = 1 WHERE id = ? AND tracked = 0").bind(1, site).run();
    transaction.commit();
}

TidyRound SqliteStorage::tidy(const Retention &retention, qint64 budget)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    qint64 remaining = budget;
    // Ended sites first: their history is owed to nobody.
    bool done = true;
    while (done && remaining > 0) {
        auto first = m_writer->prepare("SELECT id FROM ended_sites ORDER BY id LIMIT 1");
        if (!first.step())
            break;
        const qint64 site = first.integer(0);
        done = deleteSiteWithin(*m_writer, site, remaining);
        if (done) {
            m_writer->prepare("DELETE FROM ended_sites WHERE id = ?").bind(1, site).run();
            --remaining;
        }
    }
    done = done && remaining > 0 &&
        deleteVisitsWithin(*m_writer, "SELECT id FROM visits WHERE last_seen < ?1 ORDER BY last_seen LIMIT 1",
                           retention.rawBefore, remaining) &&
        deleteWithin(*m_writer,
                     "DELETE FROM slots WHERE (site, slot) IN (SELECT site, slot FROM slots WHERE slot < ?1 LIMIT ?2)",
                     slotOf(retention.countersBefore), remaining) &&
        deleteWithin(*m_writer,
                     "DELETE FROM slot_countries WHERE (site, slot, country) IN "
                     "(SELECT site, slot, country FROM slot_countries WHERE slot < ?1 LIMIT ?2)",
                     slotOf(retention.countersBefore), remaining) &&
        deleteWithin(*m_writer,
                     "DELETE FROM hours WHERE (site, alignment, start) IN "
                     "(SELECT site, alignment, start FROM hours WHERE start < ?1 LIMIT ?2)",
                     retention.countersBefore, remaining) &&
        deleteWithin(*m_writer,
                     "DELETE FROM visitors WHERE (site, day, hash) IN "
                     "(SELECT site, day, hash FROM visitors WHERE day < ?1 LIMIT ?2)",
                     retention.visitorsBeforeDay, remaining);
    transaction.commit();
    return {budget - remaining, done};
}

Figures SqliteStorage::figures(const FigureQuery &q)
{
    auto db = reader();
    SqliteTransaction snapshot(*db, false);
    Figures figures;
    {
        auto query = db->prepare("SELECT tracked FROM sites WHERE id = ?").bind(1, q.site);
        figures.tracked = query.step() && query.integer(0) != 0;
    }
    {
        auto query = db->prepare("SELECT count(*) FROM visits WHERE site = ? AND last_seen >= ?")
                         .bind(1, q.site)
                         .bind(2, q.liveSince);
        query.step();
        figures.live = query.integer(0);
    }
    {
        auto query = db->prepare("SELECT coalesce(sum(last_visitors), 0), coalesce(sum(page_views), 0) "
                                 "FROM slots WHERE site = ? AND slot >= ?")
                         .bind(1, q.site)
                         .bind(2, q.todayFromSlot);
        query.step();
        figures.visitorsToday = query.integer(0);
        figures.pageViewsToday = query.integer(1);
    }
    {
        auto query = db->prepare("SELECT start, visitors FROM hours WHERE site = ? AND alignment = ? "
                                 "AND start BETWEEN ? AND ?")
                         .bind(1, q.site)
                         .bind(2, qint64(q.alignment))
                         .bind(3, q.hoursFrom)
                         .bind(4, q.hoursTo);
        while (query.step())
            figures.hours[query.integer(0)] = query.integer(1);
    }
    const auto daySum = [&](qint64 fromDay) {
        auto query = db->prepare("SELECT coalesce(sum(visitors), 0) FROM days WHERE site = ? AND day >= ? AND day < ?")
                         .bind(1, q.site)
                         .bind(2, fromDay)
                         .bind(3, q.todayDay);
        query.step();
        return query.integer(0);
    };
    figures.weekBeforeToday = daySum(q.weekFromDay);
    figures.monthBeforeToday = daySum(q.monthFromDay);
    figures.allBeforeToday = daySum(std::numeric_limits<qint64>::min());
    {
        auto query = db->prepare("SELECT country, sum(last_visitors) AS n FROM slot_countries "
                                 "WHERE site = ? AND slot >= ? AND country <> '' GROUP BY country "
                                 "HAVING n > 0 ORDER BY n DESC, country")
                         .bind(1, q.site)
                         .bind(2, q.todayFromSlot);
        while (query.step())
            figures.countries.emplace_back(query.text(0), query.integer(1));
    }
    {
        auto query = db->prepare("SELECT id, public_id, country, referrer, first_seen, last_seen FROM visits "
                                 "WHERE site = ? ORDER BY last_seen DESC, id DESC LIMIT ?")
                         .bind(1, q.site)
                         .bind(2, qint64(q.recentLimit));
        while (query.step()) {
            RecentVisit visit;
            visit.publicId = query.text(1);
            visit.country = query.text(2);
            visit.referrer = query.text(3);
            visit.firstSeen = query.integer(4);
            visit.lastSeen = query.integer(5);
            auto events = db->prepare("SELECT kind, value FROM events WHERE visit = ? AND kind <> ? ORDER BY seq")
                              .bind(1, query.integer(0))
                              .bind(2, qint64(EventKind::ping));
            while (events.step())
                (events.integer(0) == qint64(EventKind::pageview) ? visit.pages : visit.clicks).append(events.text(1));
            figures.recent.push_back(std::move(visit));
        }
    }
    snapshot.commit();
    return figures;
}
