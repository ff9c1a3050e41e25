#include "SqliteStorage.h"

#include "Clock.h"
#include "SqliteConnection.h"
#include "SqliteTransaction.h"

#include <QDir>
#include <QFile>
#include <limits>
#include <utility>
#include <sqlite3.h>
#include <unordered_map>

namespace {

const char *const schema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
  token_hash BLOB PRIMARY KEY, created_at INTEGER NOT NULL, state TEXT, updated_at INTEGER) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sites(
  id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, owner BLOB, tracked INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS sites_by_owner ON sites(owner);
CREATE TABLE IF NOT EXISTS salts(day INTEGER PRIMARY KEY, salt BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS visitors(
  site INTEGER, day INTEGER, hash BLOB, last_seen INTEGER NOT NULL, visit INTEGER NOT NULL,
  country TEXT NOT NULL, PRIMARY KEY(site, day, hash)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS visits(
  id INTEGER PRIMARY KEY, site INTEGER NOT NULL, public_id TEXT NOT NULL, first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL, referrer TEXT NOT NULL, country TEXT NOT NULL, next_seq INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS visits_by_site ON visits(site, last_seen);
CREATE TABLE IF NOT EXISTS events(
  visit INTEGER, seq INTEGER, at INTEGER NOT NULL, kind INTEGER NOT NULL, value TEXT,
  PRIMARY KEY(visit, seq)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS slots(
  site INTEGER, slot INTEGER, page_views INTEGER NOT NULL, last_visitors INTEGER NOT NULL,
  PRIMARY KEY(site, slot)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS slot_countries(
  site INTEGER, slot INTEGER, country TEXT, last_visitors INTEGER NOT NULL,
  PRIMARY KEY(site, slot, country)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS hours(
  site INTEGER, alignment INTEGER, start INTEGER, visitors INTEGER NOT NULL,
  PRIMARY KEY(site, alignment, start)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS days(
  site INTEGER, day INTEGER, visitors INTEGER NOT NULL, page_views INTEGER NOT NULL,
  PRIMARY KEY(site, day)) WITHOUT ROWID;
)sql";

}  // namespace

class SqliteStorage::Reader
{
public:
    Reader(SqliteStorage &owner, std::unique_ptr<SqliteConnection> connection)
        : m_owner(owner), m_connection(std::move(connection))
    {
    }
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
    m_writer->execute(schema);
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

void SqliteStorage::addAccount(const QByteArray &tokenHash, qint64 createdAt)
{
    std::lock_guard lock(m_writeLock);
    m_writer->prepare("INSERT INTO accounts(token_hash, created_at) VALUES(?, ?)").bind(1, tokenHash).bind(2, createdAt).run();
}

QList<AccountRecord> SqliteStorage::accounts()
{
    auto db = reader();
    QList<AccountRecord> result;
    auto query = db->prepare("SELECT token_hash, created_at FROM accounts ORDER BY created_at, token_hash");
    while (query.step())
        result.append({query.blob(0), query.integer(1)});
    return result;
}

void SqliteStorage::removeAccount(const QByteArray &tokenHash)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    m_writer->prepare("UPDATE sites SET owner = NULL WHERE owner = ?").bind(1, tokenHash).run();
    m_writer->prepare("DELETE FROM accounts WHERE token_hash = ?").bind(1, tokenHash).run();
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
                                                  const QList<QString> &siteUuids, qint64 now)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    auto previous = m_writer->prepare("SELECT updated_at FROM accounts WHERE token_hash = ?").bind(1, tokenHash);
    if (!previous.step())
        return std::nullopt;
    const qint64 updatedAt = previous.isNull(0) ? now : std::max(now, previous.integer(0) + 1);

    m_writer->prepare("UPDATE accounts SET state = ?, updated_at = ? WHERE token_hash = ?")
        .bindText(1, document)
        .bind(2, updatedAt)
        .bind(3, tokenHash)
        .run();

    // Give up the sites this account no longer lists, then claim the free ones it does.
    QList<QString> owned;
    {
        auto query = m_writer->prepare("SELECT uuid FROM sites WHERE owner = ?").bind(1, tokenHash);
        while (query.step())
            owned.append(query.text(0));
    }
    for (const auto &uuid : owned) {
        if (!siteUuids.contains(uuid))
            m_writer->prepare("UPDATE sites SET owner = NULL WHERE uuid = ?").bind(1, uuid).run();
    }
    for (const auto &uuid : siteUuids) {
        m_writer
            ->prepare("INSERT INTO sites(uuid, owner) VALUES(?, ?) "
                      "ON CONFLICT(uuid) DO UPDATE SET owner = excluded.owner WHERE owner IS NULL")
            .bind(1, uuid)
            .bind(2, tokenHash)
            .run();
    }
    transaction.commit();
    return updatedAt;
}

QList<SiteRecord> SqliteStorage::sites()
{
    auto db = reader();
    QList<SiteRecord> result;
    auto query = db->prepare("SELECT id, uuid, owner FROM sites");
    while (query.step()) {
        SiteRecord site{query.integer(0), query.text(1), std::nullopt};
        if (!query.isNull(2))
            site.owner = query.blob(2);
        result.append(site);
    }
    return result;
}

std::optional<qint64> SqliteStorage::ownedSite(const QByteArray &tokenHash, const QString &uuid)
{
    auto db = reader();
    auto query = db->prepare("SELECT id FROM sites WHERE uuid = ? AND owner = ?").bind(1, uuid).bind(2, tokenHash);
    if (!query.step())
        return std::nullopt;
    return query.integer(0);
}

std::optional<QByteArray> SqliteStorage::salt(qint64 day)
{
    std::lock_guard lock(m_writeLock);
    auto query = m_writer->prepare("SELECT salt FROM salts WHERE day = ?").bind(1, day);
    if (!query.step())
        return std::nullopt;
    return query.blob(0);
}

void SqliteStorage::putSalt(qint64 day, const QByteArray &salt)
{
    std::lock_guard lock(m_writeLock);
    m_writer->prepare("INSERT OR REPLACE INTO salts(day, salt) VALUES(?, ?)").bind(1, day).bind(2, salt).run();
}

void SqliteStorage::dropSaltsBefore(qint64 day)
{
    std::lock_guard lock(m_writeLock);
    m_writer->prepare("DELETE FROM salts WHERE day < ?").bind(1, day).run();
}

OpenVisitors SqliteStorage::openVisitors(qint64 fromDay, qint64 openSince)
{
    std::lock_guard lock(m_writeLock);
    OpenVisitors open;
    {
        auto query = m_writer->prepare("SELECT site, day, hash, last_seen, visit, country FROM visitors WHERE day >= ?")
                         .bind(1, fromDay);
        while (query.step())
            open.visitors.push_back(
                {query.integer(0), query.integer(1), query.blob(2), query.integer(3), query.integer(4), query.text(5)});
    }
    for (const auto &site : sites()) {
        auto query = m_writer
                         ->prepare("SELECT id, site, public_id, first_seen, last_seen, referrer, country, next_seq "
                                   "FROM visits WHERE site = ? AND last_seen >= ?")
                         .bind(1, site.id)
                         .bind(2, openSince);
        while (query.step())
            open.visits.push_back({query.integer(0), query.integer(1), query.text(2), query.integer(3),
                                   query.integer(4), query.text(5), query.text(6), query.integer(7)});
    }
    auto last = m_writer->prepare("SELECT coalesce(max(id), 0) FROM visits");
    last.step();
    open.lastVisitId = last.integer(0);
    return open;
}

void SqliteStorage::commit(const EventBatch &batch)
{
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    for (const auto &[id, visit] : batch.visits) {
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
        auto insert = m_writer->prepare("INSERT INTO events(visit, seq, at, kind, value) VALUES(?, ?, ?, ?, ?)");
        insert.bind(1, event.visit).bind(2, event.seq).bind(3, event.at).bind(4, qint64(event.kind));
        if (event.kind != EventKind::ping)
            insert.bind(5, event.value);
        insert.run();
    }
    for (const auto &visitor : batch.visitors) {
        m_writer
            ->prepare("INSERT INTO visitors(site, day, hash, last_seen, visit, country) VALUES(?, ?, ?, ?, ?, ?) "
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
        m_writer
            ->prepare("INSERT INTO slot_countries(site, slot, country, last_visitors) VALUES(?, ?, ?, ?) "
                      "ON CONFLICT(site, slot, country) DO UPDATE SET last_visitors = last_visitors + excluded.last_visitors")
            .bind(1, std::get<0>(key))
            .bind(2, std::get<1>(key))
            .bind(3, std::get<2>(key))
            .bind(4, delta)
            .run();
    }
    for (const auto &[key, delta] : batch.hours) {
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

void SqliteStorage::purge(qint64 rawBefore, qint64 countersBefore, qint64 visitorsBeforeDay)
{
    const auto siteList = sites();
    // Small steps, so that the collector's commits are never held up for long.
    for (const auto &site : siteList) {
        for (;;) {
            std::lock_guard lock(m_writeLock);
            SqliteTransaction transaction(*m_writer, true);
            m_writer->execute("CREATE TEMP TABLE IF NOT EXISTS doomed(id INTEGER PRIMARY KEY)");
            m_writer->execute("DELETE FROM doomed");
            m_writer->prepare("INSERT INTO doomed SELECT id FROM visits WHERE site = ? AND last_seen < ? LIMIT 2000")
                .bind(1, site.id)
                .bind(2, rawBefore)
                .run();
            const bool more = sqlite3_changes(m_writer->handle()) == 2000;
            m_writer->execute("DELETE FROM events WHERE visit IN (SELECT id FROM doomed)");
            m_writer->execute("DELETE FROM visits WHERE id IN (SELECT id FROM doomed)");
            transaction.commit();
            if (!more)
                break;
        }
    }
    std::lock_guard lock(m_writeLock);
    SqliteTransaction transaction(*m_writer, true);
    m_writer->prepare("DELETE FROM slots WHERE slot < ?").bind(1, floorDiv(countersBefore, 900)).run();
    m_writer->prepare("DELETE FROM slot_countries WHERE slot < ?").bind(1, floorDiv(countersBefore, 900)).run();
    m_writer->prepare("DELETE FROM hours WHERE start < ?").bind(1, countersBefore).run();
    m_writer->prepare("DELETE FROM visitors WHERE day < ?").bind(1, visitorsBeforeDay).run();
    transaction.commit();
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
            auto events = db->prepare("SELECT kind, value FROM events WHERE visit = ? AND kind <> 2 ORDER BY seq")
                              .bind(1, query.integer(0));
            while (events.step())
                (events.integer(0) == qint64(EventKind::pageview) ? visit.pages : visit.clicks).append(events.text(1));
            figures.recent.push_back(std::move(visit));
        }
    }
    snapshot.commit();
    return figures;
}
