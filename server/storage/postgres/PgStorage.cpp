#include "PgStorage.h"

#include "Clock.h"
#include "PgConnection.h"

#include <QRandomGenerator>
#include <algorithm>
#include <iterator>
#include <limits>
#include <set>

namespace {

constexpr int schemaVersion = 1;

// The advisory lock for creating and migrating the schema.
constexpr qint64 schemaLock = 0x4f7276656c610001;

// Site ids come from an identity and are never given twice: rows of an ended site may still
// point at its id until housekeeping has deleted them. A visitor row with last_seen -1 is a
// batch's placeholder, there only to be locked, and never outlives that batch.
const char *const schema = R"sql(
CREATE TABLE schema_version(version integer NOT NULL);
CREATE TABLE instance(id text NOT NULL);
CREATE TABLE accounts(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, token_hash bytea NOT NULL UNIQUE,
  created_at bigint NOT NULL, state text, updated_at bigint);
CREATE TABLE sites(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, uuid text NOT NULL UNIQUE, owner bigint NOT NULL,
  listed boolean NOT NULL, domain text NOT NULL, tracked boolean NOT NULL DEFAULT false);
CREATE INDEX sites_by_owner ON sites(owner);
CREATE TABLE ended_sites(id bigint PRIMARY KEY);
CREATE TABLE visitors(
  site bigint, day bigint, hash bytea, last_seen bigint NOT NULL, visit bigint NOT NULL, country text NOT NULL,
  PRIMARY KEY(site, day, hash));
CREATE INDEX visitors_by_day ON visitors(day);
CREATE SEQUENCE visit_ids;
CREATE TABLE visits(
  id bigint PRIMARY KEY, site bigint NOT NULL, public_id text NOT NULL, first_seen bigint NOT NULL,
  last_seen bigint NOT NULL, referrer text NOT NULL, country text NOT NULL, next_seq bigint NOT NULL);
CREATE INDEX visits_by_site ON visits(site, last_seen, id);
CREATE INDEX visits_by_last_seen ON visits(last_seen);
CREATE TABLE events(
  visit bigint, seq bigint, at bigint NOT NULL, kind smallint NOT NULL, value text, PRIMARY KEY(visit, seq));
CREATE TABLE slots(
  site bigint, slot bigint, page_views bigint NOT NULL, last_visitors bigint NOT NULL, PRIMARY KEY(site, slot));
CREATE INDEX slots_by_slot ON slots(slot);
CREATE TABLE slot_countries(
  site bigint, slot bigint, country text, last_visitors bigint NOT NULL, PRIMARY KEY(site, slot, country));
CREATE INDEX slot_countries_by_slot ON slot_countries(slot);
CREATE TABLE hours(
  site bigint, alignment integer, start bigint, visitors bigint NOT NULL, PRIMARY KEY(site, alignment, start));
CREATE INDEX hours_by_start ON hours(start);
CREATE TABLE days(
  site bigint, day bigint, visitors bigint NOT NULL, page_views bigint NOT NULL, PRIMARY KEY(site, day));
)sql";

// Entry i takes the schema from version i + 1 to i + 2; none yet.
const char *const migrations[] = {""};
static_assert(std::size(migrations) == schemaVersion);

int storedVersion(PgConnection &db)
{
    if (db.exec("SELECT to_regclass('schema_version') IS NULL").text(0, 0) == u"t")
        return 0;
    const PgResult version = db.exec("SELECT version FROM schema_version");
    if (version.rows() != 1)
        throw StorageError("the database has no schema version");
    return int(version.integer(0, 0));
}

QString newInstanceId()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

// The columns of a list of visitor keys, for unnest($n::bigint[], $n+1::bigint[], $n+2::text[]).
void addKeys(PgParams &params, const std::vector<VisitorKey> &keys)
{
    std::vector<qint64> sites, days;
    std::vector<QByteArray> hashes;
    for (const auto &key : keys) {
        sites.push_back(key.site);
        days.push_back(key.day);
        hashes.push_back(key.hash);
    }
    params.add(sites).add(days).addHex(hashes);
}

// Deletes the rows `sql` picks, whose $1 is `key` and $2 the most it may delete, within
// `remaining`; true when none is left.
bool deleteWithin(PgConnection &db, const char *sql, qint64 key, qint64 &remaining)
{
    if (remaining <= 0)
        return false;
    remaining -= db.exec(sql, PgParams().add(key).add(remaining)).changed();
    return remaining > 0;
}

// Deletes the visits a filter picks ($1 is `key`), each with its events: `eventsSql` deletes
// events of such visits, `visitsSql` such visits that have none left.
bool deleteVisitsWithin(PgConnection &db, const char *eventsSql, const char *visitsSql, qint64 key, qint64 &remaining)
{
    while (remaining > 0) {
        const qint64 events = db.exec(eventsSql, PgParams().add(key).add(remaining)).changed();
        remaining -= events;
        if (remaining <= 0)
            return false;
        const qint64 visits = db.exec(visitsSql, PgParams().add(key).add(remaining)).changed();
        remaining -= visits;
        if (events == 0 && visits == 0)
            return true;
    }
    return false;
}

// Everything an ended site left behind.
bool deleteSiteWithin(PgConnection &db, qint64 site, qint64 &remaining)
{
    return deleteVisitsWithin(
               db,
               "DELETE FROM events WHERE ctid = ANY(ARRAY(SELECT ctid FROM events WHERE visit IN "
               "(SELECT id FROM visits WHERE site = $1 LIMIT $2) LIMIT $2))",
               "DELETE FROM visits WHERE id IN (SELECT id FROM visits AS v WHERE site = $1 AND NOT EXISTS "
               "(SELECT 1 FROM events WHERE visit = v.id) LIMIT $2)",
               site, remaining) &&
        deleteWithin(db,
                     "DELETE FROM visitors WHERE ctid = ANY(ARRAY(SELECT ctid FROM visitors WHERE site = $1 LIMIT $2))",
                     site, remaining) &&
        deleteWithin(db, "DELETE FROM slots WHERE ctid = ANY(ARRAY(SELECT ctid FROM slots WHERE site = $1 LIMIT $2))",
                     site, remaining) &&
        deleteWithin(db,
                     "DELETE FROM slot_countries WHERE ctid = ANY(ARRAY(SELECT ctid FROM slot_countries "
                     "WHERE site = $1 LIMIT $2))",
                     site, remaining) &&
        deleteWithin(db, "DELETE FROM hours WHERE ctid = ANY(ARRAY(SELECT ctid FROM hours WHERE site = $1 LIMIT $2))",
                     site, remaining) &&
        deleteWithin(db, "DELETE FROM days WHERE ctid = ANY(ARRAY(SELECT ctid FROM days WHERE site = $1 LIMIT $2))",
                     site, remaining);
}

// The statements that write `batch`, for the sites in `living`; the transaction is open and
// holds those sites.
std::vector<PgStatement> batchStatements(const EventBatch &batch, const std::set<qint64> &living)
{
    std::vector<PgStatement> statements;
    const auto lives = [&](qint64 site) { return living.contains(site); };
    {
        std::vector<qint64> ids, sites, firstSeen, lastSeen, nextSeq;
        std::vector<QString> publicIds, referrers, countries;
        for (const auto &[id, visit] : batch.visits) {
            if (!lives(visit.site))
                continue;
            ids.push_back(id);
            sites.push_back(visit.site);
            publicIds.push_back(visit.publicId);
            firstSeen.push_back(visit.firstSeen);
            lastSeen.push_back(visit.lastSeen);
            referrers.push_back(visit.referrer);
            countries.push_back(visit.country);
            nextSeq.push_back(visit.nextSeq);
        }
        if (!ids.empty()) {
            statements.push_back(
                {"INSERT INTO visits(id, site, public_id, first_seen, last_seen, referrer, country, next_seq) "
                 "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::text[], $4::bigint[], $5::bigint[], $6::text[], "
                 "$7::text[], $8::bigint[]) "
                 "ON CONFLICT (id) DO UPDATE SET last_seen = excluded.last_seen, next_seq = excluded.next_seq",
                 PgParams()
                     .add(ids)
                     .add(sites)
                     .add(publicIds)
                     .add(firstSeen)
                     .add(lastSeen)
                     .add(referrers)
                     .add(countries)
                     .add(nextSeq)});
        }
    }
    {
        std::vector<qint64> visits, seqs, ats, kinds;
        std::vector<QString> values;
        for (const auto &event : batch.events) {
            const auto visit = batch.visits.find(event.visit);
            if (visit == batch.visits.end() || !lives(visit->second.site))
                continue;
            visits.push_back(event.visit);
            seqs.push_back(event.seq);
            ats.push_back(event.at);
            kinds.push_back(qint64(event.kind));
            values.push_back(event.value);
        }
        if (!visits.empty()) {
            statements.push_back({"INSERT INTO events(visit, seq, at, kind, value) "
                                  "SELECT v, s, a, k, CASE WHEN k = 2 THEN NULL ELSE value END "
                                  "FROM unnest($1::bigint[], $2::bigint[], $3::bigint[], $4::smallint[], $5::text[]) "
                                  "AS e(v, s, a, k, value)",
                                  PgParams().add(visits).add(seqs).add(ats).add(kinds).add(values)});
        }
    }
    {
        std::vector<VisitorKey> keys;
        std::vector<qint64> lastSeen, visits;
        std::vector<QString> countries;
        for (const auto &visitor : batch.visitors) {
            if (!lives(visitor.site))
                continue;
            keys.push_back({visitor.site, visitor.day, visitor.hash});
            lastSeen.push_back(visitor.lastSeen);
            visits.push_back(visitor.visit);
            countries.push_back(visitor.country);
        }
        if (!keys.empty()) {
            PgParams params;
            addKeys(params, keys);
            statements.push_back({"INSERT INTO visitors(site, day, hash, last_seen, visit, country) "
                                  "SELECT s, d, decode(h, 'hex'), l, v, c FROM unnest($1::bigint[], $2::bigint[], "
                                  "$3::text[], $4::bigint[], $5::bigint[], $6::text[]) AS n(s, d, h, l, v, c) "
                                  "ON CONFLICT (site, day, hash) DO UPDATE SET last_seen = excluded.last_seen, "
                                  "visit = excluded.visit, country = excluded.country",
                                  std::move(params.add(lastSeen).add(visits).add(countries))});
        }
    }
    // Counters are shared by every server: each adds its increments, in one key order for all,
    // so that two batches never wait for each other in a circle.
    {
        std::vector<qint64> sites, quarters, pageViews, lastVisitors;
        for (const auto &[key, delta] : batch.quarters) {
            if (!lives(key.first))
                continue;
            sites.push_back(key.first);
            quarters.push_back(key.second);
            pageViews.push_back(delta.pageViews);
            lastVisitors.push_back(delta.lastVisitors);
        }
        if (!sites.empty()) {
            statements.push_back({"INSERT INTO slots(site, slot, page_views, last_visitors) "
                                  "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::bigint[], $4::bigint[]) "
                                  "ON CONFLICT (site, slot) DO UPDATE SET page_views = slots.page_views + "
                                  "excluded.page_views, last_visitors = slots.last_visitors + excluded.last_visitors",
                                  PgParams().add(sites).add(quarters).add(pageViews).add(lastVisitors)});
        }
    }
    {
        std::vector<qint64> sites, quarters, lastVisitors;
        std::vector<QString> countries;
        for (const auto &[key, delta] : batch.slotCountries) {
            if (!lives(std::get<0>(key)))
                continue;
            sites.push_back(std::get<0>(key));
            quarters.push_back(std::get<1>(key));
            countries.push_back(std::get<2>(key));
            lastVisitors.push_back(delta);
        }
        if (!sites.empty()) {
            statements.push_back({"INSERT INTO slot_countries(site, slot, country, last_visitors) "
                                  "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::text[], $4::bigint[]) "
                                  "ON CONFLICT (site, slot, country) DO UPDATE SET "
                                  "last_visitors = slot_countries.last_visitors + excluded.last_visitors",
                                  PgParams().add(sites).add(quarters).add(countries).add(lastVisitors)});
        }
    }
    {
        std::vector<qint64> sites, alignments, starts, visitors;
        for (const auto &[key, delta] : batch.hours) {
            if (!lives(std::get<0>(key)))
                continue;
            sites.push_back(std::get<0>(key));
            alignments.push_back(std::get<1>(key));
            starts.push_back(std::get<2>(key));
            visitors.push_back(delta);
        }
        if (!sites.empty()) {
            statements.push_back({"INSERT INTO hours(site, alignment, start, visitors) "
                                  "SELECT * FROM unnest($1::bigint[], $2::integer[], $3::bigint[], $4::bigint[]) "
                                  "ON CONFLICT (site, alignment, start) DO UPDATE SET "
                                  "visitors = hours.visitors + excluded.visitors",
                                  PgParams().add(sites).add(alignments).add(starts).add(visitors)});
        }
    }
    {
        std::vector<qint64> sites, days, visitors, pageViews;
        for (const auto &[key, delta] : batch.days) {
            if (!lives(key.first))
                continue;
            sites.push_back(key.first);
            days.push_back(key.second);
            visitors.push_back(delta.visitors);
            pageViews.push_back(delta.pageViews);
        }
        if (!sites.empty()) {
            statements.push_back({"INSERT INTO days(site, day, visitors, page_views) "
                                  "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::bigint[], $4::bigint[]) "
                                  "ON CONFLICT (site, day) DO UPDATE SET visitors = days.visitors + excluded.visitors, "
                                  "page_views = days.page_views + excluded.page_views",
                                  PgParams().add(sites).add(days).add(visitors).add(pageViews)});
        }
    }
    std::vector<qint64> tracked;
    std::copy_if(batch.trackedSites.begin(), batch.trackedSites.end(), std::back_inserter(tracked), lives);
    if (!tracked.empty()) {
        statements.push_back(
            {"UPDATE sites SET tracked = true WHERE id = ANY($1::bigint[]) AND NOT tracked", PgParams().add(tracked)});
    }
    return statements;
}

}  // namespace

class PgStorage::Lease
{
public:
    Lease(PgStorage &owner, std::unique_ptr<PgConnection> connection)
        : m_owner(owner),
          m_connection(std::move(connection))
    {}
    Lease(Lease &&) = default;
    ~Lease()
    {
        if (!m_connection)
            return;
        if (!m_connection->idle())
            m_connection->rollback();
        std::lock_guard lock(m_owner.m_poolLock);
        if (m_connection->broken() || !m_connection->idle())
            --m_owner.m_open;
        else
            m_owner.m_idle.push_back(std::move(m_connection));
        m_owner.m_returned.notify_one();
    }
    PgConnection *operator->() { return m_connection.get(); }
    PgConnection &operator*() { return *m_connection; }

private:
    PgStorage &m_owner;
    std::unique_ptr<PgConnection> m_connection;
};

PgStorage::PgStorage(const QString &connection, int maximumConnections)
    : m_connection(connection),
      m_maximum(std::max(1, maximumConnections))
{
    PgConnection &db = writer();
    m_description = db.description();
    // The first server to take the lock creates or migrates; the others wait and find it done.
    inTransaction(db, [&] {
        db.exec("BEGIN");
        db.exec("SELECT pg_advisory_xact_lock($1)", PgParams().add(schemaLock));
        const int version = storedVersion(db);
        if (version > schemaVersion) {
            throw StorageError(QStringLiteral("the database has schema version %1, and this orvela-server knows "
                                              "versions up to %2: run a newer orvela-server")
                                   .arg(version)
                                   .arg(schemaVersion)
                                   .toStdString());
        }
        if (version == 0) {
            db.execute(schema);
            db.exec("INSERT INTO instance(id) VALUES($1)", PgParams().add(newInstanceId()));
        } else {
            for (int step = version; step < schemaVersion; ++step)
                db.execute(migrations[step - 1]);
        }
        if (version < schemaVersion) {
            db.exec("DELETE FROM schema_version");
            db.exec("INSERT INTO schema_version(version) VALUES($1)", PgParams().add(qint64(schemaVersion)));
        }
        db.exec("COMMIT");
    });
}

PgStorage::~PgStorage() = default;

PgStorage::Lease PgStorage::connection()
{
    std::unique_lock lock(m_poolLock);
    m_returned.wait(lock, [&] { return !m_idle.empty() || m_open < m_maximum; });
    if (!m_idle.empty()) {
        auto connection = std::move(m_idle.back());
        m_idle.pop_back();
        return Lease(*this, std::move(connection));
    }
    ++m_open;
    lock.unlock();
    try {
        return Lease(*this, std::make_unique<PgConnection>(m_connection));
    } catch (...) {
        lock.lock();
        --m_open;
        m_returned.notify_one();
        throw;
    }
}

PgConnection &PgStorage::writer()
{
    if (!m_writer || m_writer->broken())
        m_writer = std::make_unique<PgConnection>(m_connection);
    return *m_writer;
}

QString PgStorage::instanceId()
{
    const PgResult id = connection()->exec("SELECT id FROM instance");
    if (id.rows() != 1)
        throw StorageError("the database has no instance id");
    return id.text(0, 0);
}

void PgStorage::addAccount(const QByteArray &tokenHash, qint64 createdAt)
{
    connection()->exec("INSERT INTO accounts(token_hash, created_at) VALUES($1::bytea, $2)",
                       PgParams().addBytes(tokenHash).add(createdAt));
}

QList<AccountRecord> PgStorage::accounts()
{
    const PgResult rows = connection()->exec("SELECT id, token_hash, created_at FROM accounts ORDER BY created_at, id");
    QList<AccountRecord> result;
    for (int row = 0; row < rows.rows(); ++row)
        result.append({rows.integer(row, 0), rows.bytes(row, 1), rows.integer(row, 2)});
    return result;
}

bool PgStorage::replaceToken(const QByteArray &oldHash, const QByteArray &newHash)
{
    return connection()
               ->exec("UPDATE accounts SET token_hash = $1::bytea WHERE token_hash = $2::bytea",
                      PgParams().addBytes(newHash).addBytes(oldHash))
               .changed() == 1;
}

void PgStorage::removeAccount(const QByteArray &tokenHash)
{
    auto db = connection();
    inTransaction(*db, [&] {
        const auto found = db->pipeline(
            {{"BEGIN", {}},
             {"SELECT id FROM accounts WHERE token_hash = $1::bytea FOR UPDATE", PgParams().addBytes(tokenHash)}})[1];
        if (found.rows() == 0) {
            db->exec("COMMIT");
            return;
        }
        const qint64 id = found.integer(0, 0);
        // A batch that counts for one of the sites holds it until it commits; the delete waits
        // for it and sees whether it made the site tracked.
        db->pipeline({{"WITH gone AS (DELETE FROM sites WHERE owner = $1 RETURNING id, tracked) "
                       "INSERT INTO ended_sites(id) SELECT id FROM gone WHERE tracked ON CONFLICT DO NOTHING",
                       PgParams().add(id)},
                      {"DELETE FROM accounts WHERE id = $1", PgParams().add(id)},
                      {"COMMIT", {}}});
    });
}

bool PgStorage::hasAccount(const QByteArray &tokenHash)
{
    return connection()
               ->exec("SELECT 1 FROM accounts WHERE token_hash = $1::bytea", PgParams().addBytes(tokenHash))
               .rows() > 0;
}

std::optional<StoredState> PgStorage::state(const QByteArray &tokenHash)
{
    const PgResult row = connection()->exec("SELECT state, updated_at FROM accounts WHERE token_hash = $1::bytea",
                                            PgParams().addBytes(tokenHash));
    if (row.rows() == 0)
        return std::nullopt;
    StoredState stored;
    if (!row.isNull(0, 0))
        stored.document = row.text(0, 0).toUtf8();
    if (!row.isNull(0, 1))
        stored.updatedAt = row.integer(0, 1);
    return stored;
}

std::optional<qint64> PgStorage::replaceState(const QByteArray &tokenHash, const QByteArray &document,
                                              const QList<ListedSite> &sites, qint64 now)
{
    std::vector<std::pair<QString, QString>> listed;
    for (const auto &site : sites)
        listed.emplace_back(site.uuid, site.domain);
    std::sort(listed.begin(), listed.end());
    std::vector<QString> uuids, domains;
    for (const auto &[uuid, domain] : listed) {
        uuids.push_back(uuid);
        domains.push_back(domain);
    }
    auto db = connection();
    return inTransaction(*db, [&]() -> std::optional<qint64> {
        // Saves of one account take their turns on its row.
        const auto previous =
            db->pipeline({{"BEGIN", {}},
                          {"SELECT id, updated_at FROM accounts WHERE token_hash = $1::bytea FOR UPDATE",
                           PgParams().addBytes(tokenHash)}})[1];
        if (previous.rows() == 0) {
            db->exec("COMMIT");
            return std::nullopt;
        }
        const qint64 account = previous.integer(0, 0);
        const qint64 updatedAt = previous.isNull(0, 1) ? now : std::max(now, previous.integer(0, 1) + 1);
        db->pipeline({
            {"UPDATE accounts SET state = $1, updated_at = $2 WHERE id = $3",
             PgParams().add(QString::fromUtf8(document)).add(updatedAt).add(account)},
            {"UPDATE sites SET listed = false WHERE owner = $1 AND listed AND NOT (uuid = ANY($2::text[]))",
             PgParams().add(account).add(uuids)},
            {"DELETE FROM sites WHERE owner = $1 AND NOT listed AND NOT tracked", PgParams().add(account)},
            {"UPDATE sites SET listed = true, domain = s.domain FROM unnest($2::text[], $3::text[]) AS s(uuid, domain) "
             "WHERE sites.uuid = s.uuid AND sites.owner = $1",
             PgParams().add(account).add(uuids).add(domains)},
            // Only ids nobody has yet: a taken one stays with its owner.
            {"INSERT INTO sites(uuid, owner, listed, domain) SELECT s.uuid, $1, true, s.domain "
             "FROM unnest($2::text[], $3::text[]) AS s(uuid, domain) "
             "WHERE NOT EXISTS (SELECT 1 FROM sites WHERE sites.uuid = s.uuid) ON CONFLICT (uuid) DO NOTHING",
             PgParams().add(account).add(uuids).add(domains)},
            {"COMMIT", {}},
        });
        return updatedAt;
    });
}

QList<SiteRecord> PgStorage::listedSites()
{
    const PgResult rows = connection()->exec("SELECT id, uuid, domain FROM sites WHERE listed");
    QList<SiteRecord> result;
    for (int row = 0; row < rows.rows(); ++row)
        result.append({rows.integer(row, 0), rows.text(row, 1), rows.text(row, 2)});
    return result;
}

std::optional<qint64> PgStorage::ownedSite(const QByteArray &tokenHash, const QString &uuid)
{
    const PgResult row =
        connection()->exec("SELECT sites.id FROM sites JOIN accounts ON accounts.id = sites.owner "
                           "WHERE sites.uuid = $1 AND sites.listed AND accounts.token_hash = $2::bytea",
                           PgParams().add(uuid).addBytes(tokenHash));
    if (row.rows() == 0)
        return std::nullopt;
    return row.integer(0, 0);
}

// Two servers that count one visitor at once: each batch first holds its sites (so that an
// ending account waits for it), then makes sure a row exists for each of its visitors and
// locks them all, in one key order, then the open visits they point at, in id order. The
// second batch waits for the first to commit and then reads what it wrote: a visit goes on
// with the next sequence number, whichever server has its next event.
void PgStorage::count(const BatchKeys &keys, const CountBatch &count)
{
    std::lock_guard lock(m_writeLock);
    PgConnection &db = writer();
    std::vector<VisitorKey> all;
    std::set_union(keys.counted.begin(), keys.counted.end(), keys.previous.begin(), keys.previous.end(),
                   std::back_inserter(all));
    std::vector<qint64> sites;
    sites.reserve(all.size());
    for (const auto &key : all)
        sites.push_back(key.site);
    std::sort(sites.begin(), sites.end());
    sites.erase(std::unique(sites.begin(), sites.end()), sites.end());

    PgParams counted, named;
    addKeys(counted, keys.counted);
    addKeys(named, all);
    PgParams namedOpen = named;
    namedOpen.add(keys.openSince);

    inTransaction(db, [&] {
        const auto found = db.pipeline({
            {"BEGIN", {}},
            {"SELECT id FROM sites WHERE id = ANY($1::bigint[]) ORDER BY id FOR KEY SHARE", PgParams().add(sites)},
            {"INSERT INTO visitors(site, day, hash, last_seen, visit, country) "
             "SELECT k.site, k.day, decode(k.hash, 'hex'), -1, 0, '' "
             "FROM unnest($1::bigint[], $2::bigint[], $3::text[]) WITH ORDINALITY AS k(site, day, hash, n) "
             "WHERE EXISTS (SELECT 1 FROM sites WHERE sites.id = k.site) ORDER BY k.n "
             "ON CONFLICT DO NOTHING RETURNING site, day, hash",
             counted},
            {"SELECT v.site, v.day, v.hash, v.last_seen, v.visit, v.country FROM visitors AS v "
             "JOIN unnest($1::bigint[], $2::bigint[], $3::text[]) AS k(site, day, hash) "
             "ON v.site = k.site AND v.day = k.day AND v.hash = decode(k.hash, 'hex') "
             "ORDER BY v.site, v.day, v.hash FOR UPDATE OF v",
             named},
            {"SELECT id, site, public_id, first_seen, last_seen, referrer, country, next_seq FROM visits "
             "WHERE id IN (SELECT v.visit FROM visitors AS v "
             "JOIN unnest($1::bigint[], $2::bigint[], $3::text[]) AS k(site, day, hash) "
             "ON v.site = k.site AND v.day = k.day AND v.hash = decode(k.hash, 'hex')) "
             "AND last_seen >= $4 ORDER BY id FOR UPDATE",
             namedOpen},
        });
        std::set<qint64> living;
        for (int row = 0; row < found[1].rows(); ++row)
            living.insert(found[1].integer(row, 0));
        std::set<VisitorKey> placeholders;
        for (int row = 0; row < found[2].rows(); ++row)
            placeholders.insert({found[2].integer(row, 0), found[2].integer(row, 1), found[2].bytes(row, 2)});

        WorkingSet set;
        const PgResult &visitors = found[3];
        for (int row = 0; row < visitors.rows(); ++row) {
            if (visitors.integer(row, 3) < 0)
                continue;
            VisitorRow visitor{visitors.integer(row, 0), visitors.integer(row, 1), visitors.bytes(row, 2),
                               visitors.integer(row, 3), visitors.integer(row, 4), visitors.text(row, 5)};
            set.visitors.emplace(VisitorKey{visitor.site, visitor.day, visitor.hash}, visitor);
        }
        const PgResult &visits = found[4];
        for (int row = 0; row < visits.rows(); ++row) {
            set.visits.emplace(visits.integer(row, 0),
                               VisitRow{visits.integer(row, 0), visits.integer(row, 1), visits.text(row, 2),
                                        visits.integer(row, 3), visits.integer(row, 4), visits.text(row, 5),
                                        visits.text(row, 6), visits.integer(row, 7)});
        }
        // New visits get stand-in ids below zero, and their real ones from the sequence once
        // it is known how many there are.
        qint64 standIns = 0;
        set.newVisitId = [&standIns] { return --standIns; };
        EventBatch batch = count(set);
        if (standIns < 0) {
            const PgResult ids =
                db.exec("SELECT nextval('visit_ids') FROM generate_series(1, $1)", PgParams().add(-standIns));
            const auto real = [&](qint64 id) { return id < 0 ? ids.integer(int(-id - 1), 0) : id; };
            std::map<qint64, VisitRow> renamed;
            for (auto &[id, visit] : batch.visits) {
                visit.id = real(id);
                renamed.emplace(visit.id, visit);
            }
            batch.visits.swap(renamed);
            for (auto &event : batch.events)
                event.visit = real(event.visit);
            for (auto &visitor : batch.visitors)
                visitor.visit = real(visitor.visit);
        }

        std::vector<PgStatement> statements = batchStatements(batch, living);
        for (const auto &visitor : batch.visitors)
            placeholders.erase({visitor.site, visitor.day, visitor.hash});
        if (!placeholders.empty()) {
            PgParams left;
            addKeys(left, std::vector<VisitorKey>(placeholders.begin(), placeholders.end()));
            statements.push_back({"DELETE FROM visitors AS v USING unnest($1::bigint[], $2::bigint[], $3::text[]) "
                                  "AS k(site, day, hash) WHERE v.site = k.site AND v.day = k.day "
                                  "AND v.hash = decode(k.hash, 'hex') AND v.last_seen < 0",
                                  std::move(left)});
        }
        statements.push_back({"COMMIT", {}});
        db.pipeline(statements);
    });
}

void PgStorage::commit(const EventBatch &batch)
{
    std::vector<qint64> sites;
    for (const auto &[id, visit] : batch.visits)
        sites.push_back(visit.site);
    for (const auto &visitor : batch.visitors)
        sites.push_back(visitor.site);
    for (const auto &[key, delta] : batch.days)
        sites.push_back(key.first);
    std::sort(sites.begin(), sites.end());
    sites.erase(std::unique(sites.begin(), sites.end()), sites.end());
    std::lock_guard lock(m_writeLock);
    PgConnection &db = writer();
    inTransaction(db, [&] {
        const auto found = db.pipeline({{"BEGIN", {}},
                                        {"SELECT id FROM sites WHERE id = ANY($1::bigint[]) ORDER BY id FOR KEY SHARE",
                                         PgParams().add(sites)}})[1];
        std::set<qint64> living;
        for (int row = 0; row < found.rows(); ++row)
            living.insert(found.integer(row, 0));
        std::vector<PgStatement> statements = batchStatements(batch, living);
        statements.push_back({"COMMIT", {}});
        db.pipeline(statements);
    });
}

TidyRound PgStorage::tidy(const Retention &retention, qint64 budget)
{
    std::lock_guard lock(m_writeLock);
    PgConnection &db = writer();
    return inTransaction(db, [&]() -> TidyRound {
        // One server tidies at a time; the others find nothing to do meanwhile.
        const auto locked = db.pipeline(
            {{"BEGIN", {}}, {"SELECT pg_try_advisory_xact_lock($1)::int", PgParams().add(housekeepingLock)}})[1];
        if (locked.integer(0, 0) == 0) {
            db.exec("COMMIT");
            return {0, true};
        }
        qint64 remaining = budget;
        // Ended sites first: their history is owed to nobody.
        bool done = true;
        while (done && remaining > 0) {
            const PgResult first = db.exec("SELECT id FROM ended_sites ORDER BY id LIMIT 1");
            if (first.rows() == 0)
                break;
            const qint64 site = first.integer(0, 0);
            done = deleteSiteWithin(db, site, remaining);
            if (done) {
                db.exec("DELETE FROM ended_sites WHERE id = $1", PgParams().add(site));
                --remaining;
            }
        }
        done =
            done && remaining > 0 &&
            deleteVisitsWithin(db,
                               "DELETE FROM events WHERE ctid = ANY(ARRAY(SELECT ctid FROM events WHERE visit IN "
                               "(SELECT id FROM visits WHERE last_seen < $1 ORDER BY last_seen LIMIT $2) LIMIT $2))",
                               "DELETE FROM visits WHERE id IN (SELECT id FROM visits AS v WHERE last_seen < $1 "
                               "AND NOT EXISTS (SELECT 1 FROM events WHERE visit = v.id) ORDER BY last_seen LIMIT $2)",
                               retention.rawBefore, remaining) &&
            deleteWithin(db,
                         "DELETE FROM slots WHERE ctid = ANY(ARRAY(SELECT ctid FROM slots WHERE slot < $1 LIMIT $2))",
                         slotOf(retention.countersBefore), remaining) &&
            deleteWithin(db,
                         "DELETE FROM slot_countries WHERE ctid = ANY(ARRAY(SELECT ctid FROM slot_countries "
                         "WHERE slot < $1 LIMIT $2))",
                         slotOf(retention.countersBefore), remaining) &&
            deleteWithin(db,
                         "DELETE FROM hours WHERE ctid = ANY(ARRAY(SELECT ctid FROM hours WHERE start < $1 LIMIT $2))",
                         retention.countersBefore, remaining) &&
            deleteWithin(
                db, "DELETE FROM visitors WHERE ctid = ANY(ARRAY(SELECT ctid FROM visitors WHERE day < $1 LIMIT $2))",
                retention.visitorsBeforeDay, remaining);
        db.exec("COMMIT");
        return {budget - remaining, done};
    });
}

Figures PgStorage::figures(const FigureQuery &q)
{
    auto db = connection();
    const PgParams site = PgParams().add(q.site);
    const auto results = inTransaction(*db, [&] {
        return db->pipeline({
            {"BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}},
            {"SELECT tracked::int FROM sites WHERE id = $1", site},
            {"SELECT count(*) FROM visits WHERE site = $1 AND last_seen >= $2", PgParams(site).add(q.liveSince)},
            {"SELECT coalesce(sum(last_visitors), 0), coalesce(sum(page_views), 0) FROM slots "
             "WHERE site = $1 AND slot >= $2",
             PgParams(site).add(q.todayFromSlot)},
            {"SELECT start, visitors FROM hours WHERE site = $1 AND alignment = $2 AND start BETWEEN $3 AND $4",
             PgParams(site).add(qint64(q.alignment)).add(q.hoursFrom).add(q.hoursTo)},
            {"SELECT coalesce(sum(visitors) FILTER (WHERE day >= $2), 0), "
             "coalesce(sum(visitors) FILTER (WHERE day >= $3), 0), coalesce(sum(visitors), 0) "
             "FROM days WHERE site = $1 AND day < $4",
             PgParams(site).add(q.weekFromDay).add(q.monthFromDay).add(q.todayDay)},
            {"SELECT country, sum(last_visitors) AS n FROM slot_countries WHERE site = $1 AND slot >= $2 "
             "AND country <> '' GROUP BY country HAVING sum(last_visitors) > 0 ORDER BY n DESC, country COLLATE \"C\"",
             PgParams(site).add(q.todayFromSlot)},
            {"SELECT id, public_id, country, referrer, first_seen, last_seen FROM visits WHERE site = $1 "
             "ORDER BY last_seen DESC, id DESC LIMIT $2",
             PgParams(site).add(qint64(q.recentLimit))},
            {"SELECT visit, kind, value FROM events WHERE visit IN (SELECT id FROM visits WHERE site = $1 "
             "ORDER BY last_seen DESC, id DESC LIMIT $2) AND kind <> 2 ORDER BY visit, seq",
             PgParams(site).add(qint64(q.recentLimit))},
            {"COMMIT", {}},
        });
    });
    Figures figures;
    figures.tracked = results[1].rows() > 0 && results[1].integer(0, 0) != 0;
    figures.live = results[2].integer(0, 0);
    figures.visitorsToday = results[3].integer(0, 0);
    figures.pageViewsToday = results[3].integer(0, 1);
    for (int row = 0; row < results[4].rows(); ++row)
        figures.hours[results[4].integer(row, 0)] = results[4].integer(row, 1);
    figures.weekBeforeToday = results[5].integer(0, 0);
    figures.monthBeforeToday = results[5].integer(0, 1);
    figures.allBeforeToday = results[5].integer(0, 2);
    for (int row = 0; row < results[6].rows(); ++row)
        figures.countries.emplace_back(results[6].text(row, 0), results[6].integer(row, 1));
    std::map<qint64, size_t> byId;
    for (int row = 0; row < results[7].rows(); ++row) {
        RecentVisit visit;
        visit.publicId = results[7].text(row, 1);
        visit.country = results[7].text(row, 2);
        visit.referrer = results[7].text(row, 3);
        visit.firstSeen = results[7].integer(row, 4);
        visit.lastSeen = results[7].integer(row, 5);
        byId[results[7].integer(row, 0)] = figures.recent.size();
        figures.recent.push_back(std::move(visit));
    }
    for (int row = 0; row < results[8].rows(); ++row) {
        const auto found = byId.find(results[8].integer(row, 0));
        if (found == byId.end())
            continue;
        RecentVisit &visit = figures.recent[found->second];
        (results[8].integer(row, 1) == qint64(EventKind::pageview) ? visit.pages : visit.clicks)
            .append(results[8].text(row, 2));
    }
    return figures;
}
