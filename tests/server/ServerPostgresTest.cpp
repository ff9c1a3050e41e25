// Several servers on one PostgreSQL database: the schema made once, the same figures as one
// SQLite server for the same events, a token ended on one server refused by the other, one
// server tidying at a time, and a server killed in the middle of a burst.
#include "KeyFileSalts.h"
#include "ServerFixture.h"
#include "WireStats.h"

#include <QProcess>
#include <QSet>
#include <QtTest>
#include <chrono>
#include <future>
#include <thread>

namespace {

const char *const firefox = "Mozilla/5.0 (X11; Linux x86_64) Firefox/125.0";

httplib::Headers visitor(const char *address, const char *country, const char *agent = firefox)
{
    return {{"User-Agent", agent}, {"X-Forwarded-For", address}, {"CF-IPCountry", country}};
}

// A server over the shared database as another process would be: connections and a copy of
// the salt secret of its own.
struct SharedServer {
    PgStorage storage;
    KeyFileSalts salts;
    HttpService service;
    int port = 0;

    SharedServer(const QString &connection, const QString &saltSecret,
                 const std::shared_ptr<std::atomic<qint64>> &clock)
        : storage(connection),
          salts(saltSecret, utcDay(*clock)),
          service(storage, salts, [clock] { return clock->load(); }, {.trustProxy = true})
    {
        port = service.bind("127.0.0.1", 0);
        service.start();
    }

    std::unique_ptr<httplib::Client> client() const { return clientFor(port); }
};

// The figures as every server must give them; visit ids are random per engine.
QByteArray comparable(const httplib::Result &result)
{
    if (statusOf(result) != 200)
        return "status " + QByteArray::number(statusOf(result)) + ' ' + bodyOf(result);
    WireStats stats = WireStats::decode(bodyOf(result));
    for (auto &visit : *stats.recent)
        visit.id.clear();
    return stats.encode();
}

// Visits whose events do not run 0, 1, 2, … up to the visit's next number.
const char *const visitsWithGaps =
    "SELECT count(*) FROM visits AS v WHERE next_seq <> (SELECT count(*) FROM events WHERE visit = v.id) "
    "OR next_seq <> coalesce((SELECT max(seq) + 1 FROM events WHERE visit = v.id), 0)";

}  // namespace

class ServerPostgresTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

    // A new salt secret and a copy of it for each of two servers.
    QStringList saltSecrets(qint64 day)
    {
        const QString original = folder.filePath(QString::number(QRandomGenerator::global()->generate()));
        KeyFileSalts::create(original, day);
        for (const QString &copy : {original + "-0", original + "-1"}) {
            if (!QFile::copy(original, copy))
                qFatal("cannot copy the salt secret");
        }
        return {original + "-0", original + "-1"};
    }

private slots:
    void theSchemaIsMadeOnceAndANewerOneRefused()
    {
        TestDatabase database;
        // Servers that start at once: one makes the schema, the others wait for it.
        std::vector<std::future<QString>> starting;
        for (int i = 0; i < 4; ++i)
            starting.push_back(
                std::async(std::launch::async, [&] { return PgStorage(database.connection()).instanceId(); }));
        QSet<QString> instances;
        for (auto &started : starting)
            instances.insert(started.get());
        QCOMPARE(instances.size(), 1);
        QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM schema_version"), 1);
        QCOMPARE(pgValue(database.connection(), "SELECT version FROM schema_version"), 1);

        PgStorage(database.connection()).addAccount("a", 1);
        PgConnection(database.connection()).exec("UPDATE schema_version SET version = 2");
        QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM accounts"), 1);
        const Ran refused = runBinary({"token", "list", "--database", database.connection()});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.startsWith("orvela-server: cannot use the database: the database has schema version 2, "
                                        "and this orvela-server knows versions up to 1: run a newer orvela-server"),
                 qPrintable(refused.err));
    }

    // The same events, sent by turns to two servers, give what one SQLite server gives.
    void twoServersCountLikeOne()
    {
        const qint64 start = utc("2024-05-06T23:00:00Z");  // a Monday
        TestDatabase database;
        RunningServer reference(start, {.trustProxy = true}, Engine::sqlite);
        const auto clock = std::make_shared<std::atomic<qint64>>(start);
        const QStringList secrets = saltSecrets(utcDay(start));
        SharedServer first(database.connection(), secrets[0], clock), second(database.connection(), secrets[1], clock);
        SharedServer *const servers[] = {&first, &second};

        const QString token = reference.createToken();
        const QString shared =
            runTokenCommand({CommandLine::Token::Action::create, {}, {}}, first.storage, start).out.trimmed();
        const std::string listing = stateWith(siteId, "Shop");
        QCOMPARE(statusOf(reference.put(token, listing)), 200);
        for (const SharedServer *server : servers)
            QCOMPARE(statusOf(server->client()->Put("/v1/state", bearer(shared), listing, "application/json")), 200);

        const auto alice = visitor("198.51.100.7", "FR"), bob = visitor("203.0.113.9", "DE"),
                   carol = visitor("192.0.2.44", "DE", "Mozilla/5.0 (Macintosh) Safari/605.1"),
                   dave = visitor("198.51.100.200", "BR");
        const struct {
            const char *at;
            const httplib::Headers &who;
            std::string body;
        } stream[] = {
            // Alice's visit spans UTC midnight: the grace period carries it across servers.
            {"2024-05-06T23:40:00Z", alice, eventBody("pageview", "/home", "https://news.example/story")},
            {"2024-05-06T23:56:00Z", alice, eventBody("click", "/home", "", "Buy")},
            {"2024-05-07T00:10:00Z", alice, eventBody("pageview", "/pricing?ref=mail")},
            {"2024-05-07T00:11:00Z", alice, eventBody("ping", "/pricing")},
            {"2024-05-07T00:25:00Z", alice, eventBody("pageview", "/checkout")},
            {"2024-05-07T06:00:00Z", bob, eventBody("pageview", "/")},
            {"2024-05-07T06:05:00Z", bob, eventBody("pageview", "/docs")},
            {"2024-05-07T06:10:00Z", carol, eventBody("pageview", "/", "https://search.example/")},
            {"2024-05-07T06:12:00Z", carol, eventBody("pageview", "/pricing")},
            {"2024-05-07T06:20:00Z", dave, eventBody("pageview", "/blog")},
            {"2024-05-07T06:21:00Z", carol, eventBody("click", "/pricing", "", "Sign up")},
            {"2024-05-07T06:45:00Z", bob, eventBody("pageview", "/docs/install")},  // a new visit
            {"2024-05-07T06:46:00Z", bob, eventBody("click", "/docs/install", "", "Copy")},
            {"2024-05-07T06:46:30Z", dave, eventBody("pageview", "/blog/launch")},
        };
        int turn = 0;
        for (const auto &event : stream) {
            *clock = *reference.now = utc(event.at);
            QCOMPARE(statusOf(reference.client()->Post("/v1/event", event.who, event.body, "text/plain")), 202);
            reference.service->collector().flush();
            SharedServer &server = *servers[turn++ % 2];
            QCOMPARE(statusOf(server.client()->Post("/v1/event", event.who, event.body, "text/plain")), 202);
            server.service.collector().flush();
        }
        *clock = *reference.now = utc("2024-05-07T06:47:00Z");

        for (const int offset : {0, 330, -300}) {
            const std::string query = "/v1/stats?website=" + std::string(siteId) + "&offset=" + std::to_string(offset);
            const QByteArray expected = comparable(reference.client()->Get(query, bearer(token)));
            QVERIFY2(expected.contains("\"visitorsToday\""), expected.constData());
            QCOMPARE(comparable(first.client()->Get(query, bearer(shared))), expected);
            QCOMPARE(comparable(second.client()->Get(query, bearer(shared))), expected);
        }
        for (const char *sql : {"SELECT count(*) FROM visits", "SELECT count(*) FROM events",
                                "SELECT count(*) FROM visitors", "SELECT sum(next_seq) FROM visits"})
            QCOMPARE(pgValue(database.connection(), sql), reference.sqlValue(sql));
        QCOMPARE(pgValue(database.connection(), visitsWithGaps), 0);
        QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM visitors WHERE last_seen < 0"), 0);
    }

    // The account check asks the database, so a token ended or replaced on one server is
    // refused by the other at its next request; and the other's list of sites, a few seconds
    // stale, counts nothing for an ended account.
    void anEndedTokenIsRefusedByEveryServer()
    {
        const qint64 start = utc("2024-05-07T12:00:00Z");
        TestDatabase database;
        const auto clock = std::make_shared<std::atomic<qint64>>(start);
        const QStringList secrets = saltSecrets(utcDay(start));
        SharedServer first(database.connection(), secrets[0], clock), second(database.connection(), secrets[1], clock);
        using Action = CommandLine::Token::Action;
        const auto command = [&](Action action, const QString &token) {
            // As `token … --database` would run it: a process of its own.
            PgStorage storage(database.connection());
            return runTokenCommand({action, QString::fromLatin1(Tokens::hash(token).toHex().left(16)), {}}, storage,
                                   *clock);
        };
        QString token = runTokenCommand({Action::create, {}, {}}, first.storage, start).out.trimmed();
        const std::string listing = stateWith(siteId);
        const std::string stats = "/v1/stats?website=" + std::string(siteId) + "&offset=0";
        for (const SharedServer *server : {&first, &second})
            QCOMPARE(statusOf(server->client()->Put("/v1/state", bearer(token), listing, "application/json")), 200);
        QCOMPARE(statusOf(first.client()->Post("/v1/event", visitor("198.51.100.7", "FR"), eventBody("pageview", "/"),
                                               "text/plain")),
                 202);
        first.service.collector().flush();

        const auto rotated = command(Action::rotate, token);
        QCOMPARE(rotated.status, 0);
        QCOMPARE(statusOf(second.client()->Get("/v1/state", bearer(token))), 401);
        QCOMPARE(statusOf(second.client()->Get(stats, bearer(token))), 401);
        token = rotated.out.trimmed();
        const auto kept = second.client()->Get(stats, bearer(token));
        QCOMPARE(statusOf(kept), 200);
        QCOMPARE(WireStats::decode(bodyOf(kept)).visitorsToday, 1);

        QCOMPARE(command(Action::revoke, token).status, 0);
        for (const char *path : {"/v1/state", stats.c_str()})
            QCOMPARE(statusOf(second.client()->Get(path, bearer(token))), 401);
        QCOMPARE(statusOf(second.client()->Post("/v1/event", visitor("203.0.113.9", "DE"),
                                                eventBody("pageview", "/late"), "text/plain")),
                 202);
        second.service.collector().flush();
        QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM events WHERE value = '/late'"), 0);
        QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM visitors WHERE last_seen < 0"), 0);
        // Whoever lists the id now starts from nothing, on either server.
        const QString squatter = runTokenCommand({Action::create, {}, {}}, second.storage, start).out.trimmed();
        QCOMPARE(statusOf(second.client()->Put("/v1/state", bearer(squatter), listing, "application/json")), 200);
        const auto fresh = first.client()->Get(stats, bearer(squatter));
        QCOMPARE(statusOf(fresh), 200);
        QCOMPARE(WireStats::decode(bodyOf(fresh)).visitorsAllTime, 0);
    }

    void oneServerTidiesAtATime()
    {
        TestDatabase database;
        const QString connection = database.connection();
        PgStorage first(connection), second(connection);
        const qint64 now = utc("2024-05-07T12:00:00Z");
        const auto [kept, ended] = fillForHousekeeping(first, now);
        const QByteArray keptDays = "SELECT count(*) FROM days WHERE site = " + QByteArray::number(kept);
        const qint64 daysBefore = pgValue(connection, keptDays);
        const Retention retention{now - 30 * secondsPerDay, now - 3 * secondsPerDay, utcDay(now) - 1};
        constexpr qint64 budget = 25;

        // While another server holds housekeeping, a round does nothing.
        const qint64 before = pgValue(connection, allRowsSql);
        {
            PgConnection other(connection);
            other.exec("BEGIN");
            other.exec("SELECT pg_advisory_xact_lock($1)", PgParams().add(PgStorage::housekeepingLock));
            const TidyRound waiting = second.tidy(retention, budget);
            QCOMPARE(waiting.rows, 0);
            QCOMPARE(pgValue(connection, allRowsSql), before);
            other.exec("COMMIT");
        }

        // Both at once: every round within its budget, and together they finish the work.
        std::atomic<int> rounds = 0;
        std::atomic<qint64> deleted = 0, largest = 0;
        const auto tidyAll = [&](PgStorage &storage) {
            for (int i = 0; i < 1000; ++i) {
                const TidyRound round = storage.tidy(retention, budget);
                ++rounds;
                deleted += round.rows;
                largest = std::max<qint64>(largest, round.rows);
                if (round.done && round.rows == 0)
                    return;
            }
        };
        std::thread other([&] { tidyAll(first); });
        tidyAll(second);
        other.join();
        QVERIFY2(largest <= budget, qPrintable(QString::number(largest)));
        QVERIFY2(rounds > 10, "the work was not spread over rounds");
        QCOMPARE(before - pgValue(connection, allRowsSql), qint64(deleted));
        QCOMPARE(pgValue(connection, "SELECT count(*) FROM visits"), 1);
        QCOMPARE(pgValue(connection, "SELECT count(*) FROM events"), 2);
        QCOMPARE(pgValue(connection, "SELECT count(*) FROM ended_sites"), 0);
        QCOMPARE(pgValue(connection, "SELECT count(*) FROM days WHERE site = " + QByteArray::number(ended)), 0);
        QCOMPARE(pgValue(connection, keptDays), daysBefore);
    }

    // Two real servers take a burst of events, by turns, for the same visitors; one is killed
    // in the middle. What it answered well before is stored, and no visit has a gap.
    void aKilledServerLosesNothingItAnswered()
    {
        using Clock = std::chrono::steady_clock;
        TestDatabase database;
        const QString key = folder.filePath("killed-secret");
        QCOMPARE(runBinary({"salt-secret", "create", key}).status, 0);
        QVERIFY(QFile::copy(key, key + "-second"));
        const Ran created = runBinary({"token", "create", "--database", database.connection()});
        QCOMPARE(created.status, 0);
        const QString token = created.out.trimmed();

        QProcess servers[2];
        int ports[2] = {};
        for (int i = 0; i < 2; ++i) {
            ports[i] = startServing(servers[i],
                                    {"--trust-proxy", "--database", database.connection(), "--salt-secret",
                                     i == 0 ? key : key + "-second"});
            QVERIFY(ports[i] > 0);
            QCOMPARE(
                statusOf(clientFor(ports[i])->Put("/v1/state", bearer(token), stateWith(siteId), "application/json")),
                200);
        }
        const qint64 firstDay = utcDay(std::time(nullptr));

        // 24 visitors, each about 20 events a second, by turns to each server: below the
        // per-client limit of either.
        struct Answered {
            int server;
            QString page;
            Clock::time_point at;
        };
        std::mutex lock;
        std::vector<Answered> answered;
        std::atomic<bool> killed = false;
        const Clock::time_point began = Clock::now();
        std::vector<std::thread> senders;
        for (int v = 0; v < 24; ++v) {
            senders.emplace_back([&, v] {
                const std::unique_ptr<httplib::Client> clients[2] = {clientFor(ports[0]), clientFor(ports[1])};
                const std::string address = "198.51.100." + std::to_string(v + 1);
                for (int n = 0; Clock::now() - began < std::chrono::seconds(7); ++n) {
                    const int server = killed || n % 2 ? 1 : 0;
                    const std::string page = "/v" + std::to_string(v) + "/e" + std::to_string(n);
                    const auto result = clients[server]->Post("/v1/event", visitor(address.c_str(), "FR"),
                                                              eventBody("pageview", page), "text/plain");
                    if (statusOf(result) == 202) {
                        std::lock_guard guard(lock);
                        answered.push_back({server, QString::fromStdString(page), Clock::now()});
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
            });
        }
        std::this_thread::sleep_until(began + std::chrono::seconds(5));
        const Clock::time_point killedAt = Clock::now();
        servers[0].kill();
        killed = true;
        for (auto &sender : senders)
            sender.join();
        QVERIFY(servers[0].waitForFinished(10000));

        QSet<QString> mustBeStored;
        int fromFirst = 0, afterKill = 0;
        for (const auto &event : answered) {
            if (event.server == 1 || event.at <= killedAt - std::chrono::seconds(2))
                mustBeStored.insert(event.page);
            fromFirst += event.server == 0 && event.at <= killedAt - std::chrono::seconds(2);
            afterKill += event.server == 1 && event.at > killedAt;
        }
        QVERIFY2(fromFirst > 100 && afterKill > 100, qPrintable(QStringLiteral("%1 %2").arg(fromFirst).arg(afterKill)));
        // The surviving server commits within moments; wait for it generously.
        QSet<QString> stored;
        for (int wait = 0; wait < 300 && !stored.contains(mustBeStored); ++wait) {
            stored.clear();
            const PgResult values = PgConnection(database.connection()).exec("SELECT value FROM events");
            for (int row = 0; row < values.rows(); ++row)
                stored.insert(values.text(row, 0));
            if (!stored.contains(mustBeStored))
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        QSet<QString> lost = mustBeStored - stored;
        QVERIFY2(lost.isEmpty(), qPrintable(QStringList(lost.begin(), lost.end()).mid(0, 10).join(u' ')));
        QCOMPARE(pgValue(database.connection(), visitsWithGaps), 0);
        QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM visitors WHERE last_seen < 0"), 0);
        // One salt for both servers: each visitor is one visitor with one visit (unless the UTC
        // day changed under the test).
        if (utcDay(std::time(nullptr)) == firstDay) {
            QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM visitors"), 24);
            QCOMPARE(pgValue(database.connection(), "SELECT count(*) FROM visits"), 24);
        }
        servers[1].terminate();
        QVERIFY(servers[1].waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(ServerPostgresTest)
#include "ServerPostgresTest.moc"
