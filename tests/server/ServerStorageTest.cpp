// What the data folder holds, against real SQLite files: the schema's migrations, housekeeping
// in bounded rounds that never hold a batch back, and no salt in a copy of the folder.
#include "Collector.h"
#include "ServerFixture.h"
#include "WireState.h"

#include <QDirIterator>
#include <QtTest>
#include <condition_variable>

namespace {

const qint64 day = utc("2024-05-07T00:00:00Z") / secondsPerDay;

// The schema as version 1 wrote it, which had no version table.
const char *const version1 = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE accounts(token_hash BLOB PRIMARY KEY, created_at INTEGER NOT NULL, state TEXT, updated_at INTEGER) WITHOUT ROWID;
CREATE TABLE sites(id INTEGER PRIMARY KEY, uuid TEXT NOT NULL UNIQUE, owner BLOB, tracked INTEGER NOT NULL DEFAULT 0);
CREATE INDEX sites_by_owner ON sites(owner);
CREATE TABLE salts(day INTEGER PRIMARY KEY, salt BLOB NOT NULL);
CREATE TABLE visitors(site INTEGER, day INTEGER, hash BLOB, last_seen INTEGER NOT NULL, visit INTEGER NOT NULL,
  country TEXT NOT NULL, PRIMARY KEY(site, day, hash)) WITHOUT ROWID;
CREATE TABLE visits(id INTEGER PRIMARY KEY, site INTEGER NOT NULL, public_id TEXT NOT NULL, first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL, referrer TEXT NOT NULL, country TEXT NOT NULL, next_seq INTEGER NOT NULL);
CREATE INDEX visits_by_site ON visits(site, last_seen);
CREATE TABLE events(visit INTEGER, seq INTEGER, at INTEGER NOT NULL, kind INTEGER NOT NULL, value TEXT,
  PRIMARY KEY(visit, seq)) WITHOUT ROWID;
CREATE TABLE slots(site INTEGER, slot INTEGER, page_views INTEGER NOT NULL, last_visitors INTEGER NOT NULL,
  PRIMARY KEY(site, slot)) WITHOUT ROWID;
CREATE TABLE slot_countries(site INTEGER, slot INTEGER, country TEXT, last_visitors INTEGER NOT NULL,
  PRIMARY KEY(site, slot, country)) WITHOUT ROWID;
CREATE TABLE hours(site INTEGER, alignment INTEGER, start INTEGER, visitors INTEGER NOT NULL,
  PRIMARY KEY(site, alignment, start)) WITHOUT ROWID;
CREATE TABLE days(site INTEGER, day INTEGER, visitors INTEGER NOT NULL, page_views INTEGER NOT NULL,
  PRIMARY KEY(site, day)) WITHOUT ROWID;
)sql";

// Runs `sql` and leaves the log behind with what it wrote, as a server that did not stop
// cleanly does.
void runSql(const QString &path, const QByteArray &sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    int keepLog = 1;
    sqlite3_file_control(db, nullptr, SQLITE_FCNTL_PERSIST_WAL, &keepLog);
    sqlite3_exec(db, "PRAGMA wal_autocheckpoint=0", nullptr, nullptr, nullptr);
    char *message = nullptr;
    const int result = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message);
    const QString reason = message ? QString::fromUtf8(message) : QString();
    sqlite3_free(message);
    sqlite3_close(db);
    QVERIFY2(result == SQLITE_OK, qPrintable(reason));
}

// The files in `folder` where a salt shows, raw or as text: SQLite keeps values as they are.
QStringList whereSaltsShow(const QString &folder, const QList<QByteArray> &salts)
{
    QList<QByteArray> forms;
    for (const QByteArray &salt : salts)
        forms << salt << salt.toHex() << salt.toHex().toUpper() << salt.toBase64() << salt.left(16);
    QStringList found;
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            found << "unreadable " + file.fileName();
        const QByteArray bytes = file.readAll();
        for (const QByteArray &form : forms) {
            if (bytes.contains(form))
                found << file.fileName();
        }
    }
    return found;
}

qint64 allRows(const QString &path)
{
    return sqlValue(path, allRowsSql);
}

// The real engine, with each commit and housekeeping round written down, and the first round
// held until the test lets it go.
class RecordingStorage : public SqliteStorage
{
public:
    using SqliteStorage::SqliteStorage;

    std::mutex lock;
    std::condition_variable changed;
    QStringList calls;
    bool entered = false;
    bool released = false;

    void commit(const EventBatch &batch) override
    {
        SqliteStorage::commit(batch);
        note(QStringLiteral("commit %1").arg(batch.events.size()));
    }
    TidyRound tidy(const Retention &retention, qint64 budget) override
    {
        {
            std::unique_lock guard(lock);
            entered = true;
            changed.notify_all();
            changed.wait(guard, [&] { return released; });
        }
        const TidyRound round = SqliteStorage::tidy(retention, budget);
        note(QStringLiteral("tidy %1%2").arg(round.rows).arg(round.done ? " done" : ""));
        return round;
    }
    void note(const QString &call)
    {
        std::lock_guard guard(lock);
        calls << call;
        changed.notify_all();
    }
};

}  // namespace

class ServerStorageTest : public QObject
{
    Q_OBJECT

private slots:
    void version1IsMigrated()
    {
        QTemporaryDir folder;
        const QString path = SqliteStorage::fileName(folder.path());
        const QByteArray salt = QByteArray::fromHex("5a17c0de00112233445566778899aabbccddeeff0123456789abcdef01234567");
        const QString owned = "C0FFEE00-1234-4ABC-9DEF-0123456789AB", unlisted = "0BADF00D-0000-4000-8000-000000000001",
                      orphan = "0BADF00D-0000-4000-8000-000000000002", empty = "0BADF00D-0000-4000-8000-000000000003";
        WireState state;
        state.websites = {{QUuid::fromString(owned), "Shop", "shop.example.net", std::nullopt},
                          {QUuid::fromString(unlisted), "Blog", "blog.example.org", std::nullopt}};
        runSql(path, version1);
        // Site 3 was left by a revoked account with its history; site 4 never counted.
        runSql(path,
               QStringLiteral("INSERT INTO accounts VALUES(x'aa', 100, '%1', 200), (x'bb', 150, NULL, NULL);"
                              "INSERT INTO sites VALUES(1, '%2', x'aa', 1), (2, '%3', x'aa', 0), (3, '%4', NULL, 1),"
                              " (4, '%5', NULL, 0); INSERT INTO salts VALUES(%6, x'%7');"
                              "INSERT INTO days VALUES(1, %8, 5, 9), (3, %8, 7, 7);"
                              "INSERT INTO visits VALUES(10, 3, 'p', 1, 2, '', '', 1);"
                              "INSERT INTO events VALUES(10, 0, 2, 0, '/');")
                   .arg(QString::fromUtf8(state.encode()), owned, unlisted, orphan, empty, QString::number(day),
                        QString::fromLatin1(salt.toHex()), QString::number(day - 1))
                   .toUtf8());
        {
            SqliteStorage storage(folder.path());
            QCOMPARE(sqlValue(path, "SELECT version FROM schema_version"), 2);
            QCOMPARE(storage.accounts().size(), 2);
            QCOMPARE(storage.accounts().first().tokenHash, QByteArray::fromHex("aa"));
            QCOMPARE(storage.accounts().first().createdAt, 100);
            QCOMPARE(storage.state(QByteArray::fromHex("aa"))->document, state.encode());
            QCOMPARE(storage.state(QByteArray::fromHex("aa"))->updatedAt, 200);
            QCOMPARE(storage.ownedSite(QByteArray::fromHex("aa"), owned), 1);
            QCOMPARE(storage.ownedSite(QByteArray::fromHex("aa"), unlisted), 2);
            QCOMPARE(storage.listedSites().size(), 2);
            QCOMPARE(storage.listedSites().first().domain, QStringLiteral("shop.example.net"));
            FigureQuery query{.site = 1, .todayDay = day};
            QCOMPARE(storage.figures(query).allBeforeToday, 5);

            // Whose history site 3 holds is unknown: whoever lists it now starts from nothing,
            // under an id never given before.
            const QByteArray other = QByteArray::fromHex("bb");
            QVERIFY(storage.replaceState(other, "{}", {{orphan, "x.example"}, {empty, "x.example"}}, 300));
            const auto reused = storage.ownedSite(other, orphan);
            QVERIFY(reused && *reused > 4);
            query.site = *reused;
            QCOMPARE(storage.figures(query).allBeforeToday, 0);
            while (!storage.tidy({0, 0, 0}, 100).done) {}
            QCOMPARE(sqlValue(path, "SELECT count(*) FROM visits"), 0);
            QCOMPARE(sqlValue(path, "SELECT count(*) FROM days"), 1);
            // Neither the file nor the log the old server left holds the salt any more.
            QVERIFY(QFileInfo::exists(path + "-wal"));
            QCOMPARE(whereSaltsShow(folder.path(), {salt}), QStringList());
        }
        QCOMPARE(whereSaltsShow(folder.path(), {salt}), QStringList());

        // A later version is not opened, nor changed.
        runSql(path, "UPDATE schema_version SET version = 3");
        try {
            SqliteStorage storage(folder.path());
            QFAIL("a database of a newer version was opened");
        } catch (const StorageError &error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     "its database has schema version 3, and this orvela-server knows versions up to 2: run a newer "
                     "orvela-server");
        }
        QCOMPARE(sqlValue(path, "SELECT count(*) FROM accounts"), 2);
    }

    void housekeepingGoesInBoundedRounds()
    {
        QTemporaryDir folder;
        const QString path = SqliteStorage::fileName(folder.path());
        SqliteStorage storage(folder.path());
        const qint64 now = utc("2024-05-07T12:00:00Z");
        const auto [kept, ended] = fillForHousekeeping(storage, now);
        const qint64 keptDays = sqlValue(path, "SELECT count(*) FROM days WHERE site = " + QByteArray::number(kept));

        const Retention retention{now - 30 * secondsPerDay, now - 3 * secondsPerDay, utcDay(now) - 1};
        constexpr qint64 budget = 25;
        int rounds = 0;
        for (TidyRound round; !round.done; ++rounds) {
            const qint64 before = allRows(path);
            round = storage.tidy(retention, budget);
            QVERIFY2(round.rows <= budget, qPrintable(QString::number(round.rows)));
            QCOMPARE(before - allRows(path), round.rows);
            QVERIFY(rounds < 1000);
        }
        QVERIFY2(rounds > 20, "the work was not spread over rounds");
        QCOMPARE(sqlValue(path, "SELECT count(*) FROM visits"), 1);
        QCOMPARE(sqlValue(path, "SELECT count(*) FROM events"), 2);
        QCOMPARE(sqlValue(path, "SELECT count(*) FROM days"), keptDays);
        QCOMPARE(sqlValue(path, "SELECT count(*) FROM ended_sites"), 0);
        QCOMPARE(sqlValue(path, "SELECT count(*) FROM hours WHERE site = " + QByteArray::number(ended)), 0);
        QCOMPARE(storage.tidy(retention, budget).rows, 0);

        // Events counted while the account still was, and committed after its history went,
        // leave nothing behind.
        const qint64 rows = allRows(path);
        storage.commit(visitBatch(1000, ended, now, 2));
        QCOMPARE(allRows(path), rows);
    }

    void batchesGoBeforeHousekeeping()
    {
        QTemporaryDir folder;
        RecordingStorage storage(folder.path());
        const qint64 now = utc("2024-05-07T12:00:00Z");
        storage.addAccount("a", 0);
        storage.replaceState("a", "{}", {{"SITE", "a.example"}}, 0);
        const qint64 site = *storage.ownedSite("a", "SITE");
        for (qint64 visit = 1; visit <= 100; ++visit)
            storage.commit(visitBatch(visit, site, now - 40 * secondsPerDay, 5));
        storage.calls.clear();

        SiteDirectory sites(storage);
        sites.reload();
        RuntimeSalts salts({});
        Collector collector(storage, sites, salts, [now] { return now; }, {.tidyBudget = 50});
        // The first round is under way when the event comes.
        bool entered = false;
        {
            std::unique_lock guard(storage.lock);
            entered = storage.changed.wait_for(guard, std::chrono::seconds(60), [&] { return storage.entered; });
        }
        const bool submitted = collector.submit({site, "SITE", EventKind::pageview, "/", {}, {}, "client", {}, now});
        {
            std::lock_guard guard(storage.lock);
            storage.released = true;
        }
        storage.changed.notify_all();
        QVERIFY(entered && submitted);
        collector.flush();
        collector.stop();

        // One round of at most 50 rows, then the batch, then the rest of the rounds.
        QVERIFY2(storage.calls.size() >= 3, qPrintable(storage.calls.join(", ")));
        QCOMPARE(storage.calls.mid(0, 3), (QStringList{"tidy 50", "commit 1", "tidy 50"}));
        QVERIFY(!storage.calls.contains("commit 0"));
    }

    void aCopyOfTheFolderHoldsNoSalt()
    {
        // A day of events from a /24 of visitors, from Monday's last hour into Tuesday night.
        RunningServer server(utc("2024-05-06T23:00:00Z"));
        const QString token = server.createToken();
        QCOMPARE(statusOf(server.put(token, stateWith(siteId))), 200);
        QList<QByteArray> salts;
        for (qint64 at = utc("2024-05-06T23:50:00Z"); at < utc("2024-05-07T23:00:00Z"); at += 1800) {
            *server.now = at;
            for (int host = 1; host < 255; host += 50) {
                server.client()->Post("/v1/event",
                                      {{"User-Agent", "Mozilla/5.0 (X11) Firefox/125.0"},
                                       {"X-Forwarded-For", "198.51.100." + std::to_string(host)}},
                                      eventBody("pageview", "/"), "text/plain");
            }
            server.service->collector().flush();
            if (const auto salt = server.salts->keptSalt(utcDay(at)); salt && !salts.contains(*salt))
                salts << *salt;
        }
        QCOMPARE(salts.size(), 2);
        QVERIFY(sqlValue(server.databasePath(), "SELECT count(*) FROM visitors") > 0);

        // Copied while it runs, as a backup would.
        QTemporaryDir copy;
        QDirIterator files(server.folder.path(), QDir::Files | QDir::Hidden);
        while (files.hasNext()) {
            const QString file = files.next();
            QVERIFY(QFile::copy(file, copy.filePath(QFileInfo(file).fileName())));
        }
        QCOMPARE(whereSaltsShow(copy.path(), salts), QStringList());

        // The salt lives in the runtime folder, for this user alone.
        QFile saltFile(server.saltFile);
        QVERIFY(saltFile.fileName().contains(server.storage->instanceId()));
        QCOMPARE(saltFile.permissions() & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(saltFile.open(QIODevice::ReadOnly) && saltFile.readAll().contains(salts.last().toHex()));
    }
};

QTEST_GUILESS_MAIN(ServerStorageTest)
#include "ServerStorageTest.moc"
