// Counting: a scripted stream of events through the real collector, and the figures the
// stats endpoint gives for it, worked out by hand.
#include "ServerFixture.h"
#include "WireStats.h"

#include <QtTest>
#include <sqlite3.h>

namespace {

const char *const siteId = "c0ffee00-1234-4abc-9def-0123456789ab";
const char *const otherSite = "0badf00d-0000-4000-8000-000000000001";

// Visitors behind the trusted proxy, which appends their address and names their country.
const char *const firefox = "Mozilla/5.0 (X11; Linux x86_64) Firefox/125.0";
const httplib::Headers alice{
    {"User-Agent", firefox}, {"X-Forwarded-For", "10.0.0.1, 198.51.100.7"}, {"CF-IPCountry", "FR"}};
const httplib::Headers bob{
    {"User-Agent", "Mozilla/5.0 (Macintosh) Safari/605.1"}, {"X-Forwarded-For", "10.0.0.1, 203.0.113.9"},
    {"CF-IPCountry", "DE"}};

std::string eventBody(const char *kind, const char *path, const char *referrer = "", const char *label = "",
                  const char *site = siteId)
{
    return QStringLiteral("{\"s\":\"%1\",\"k\":\"%2\",\"u\":\"https://shop.example.net%3\",\"r\":\"%4\",\"l\":\"%5\"}")
        .arg(QLatin1String(site), QLatin1String(kind), QLatin1String(path), QLatin1String(referrer),
             QLatin1String(label))
        .toStdString();
}

// The hourly buckets with visitors, by their UTC start.
QMap<QString, qint64> busyHours(const WireStats &stats)
{
    QMap<QString, qint64> busy;
    for (const auto &hour : stats.hourly) {
        if (hour.visitors)
            busy[hour.start.toIso8601().mid(11, 5)] = hour.visitors;
    }
    return busy;
}

// The recent visits, newest first: pages;clicks;referrer;country;seconds;last event.
QStringList visits(const WireStats &stats)
{
    QStringList lines;
    for (const auto &visit : *stats.recent) {
        lines << QStringLiteral("%1;%2;%3;%4;%5;%6")
                     .arg(visit.pages.join(u' '), visit.clicks.join(u' '), visit.referrer, visit.country)
                     .arg(visit.seconds)
                     .arg(visit.lastSeen.toIso8601());
    }
    return lines;
}

qint64 countRows(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    const qint64 result = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

}  // namespace

class ServerCountingTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<RunningServer> server;
    QString token;

    void startServer(qint64 at, HttpService::Options options = {})
    {
        options.trustProxy = true;
        server = std::make_unique<RunningServer>(at, options);
        token = server->createToken();
        QCOMPARE(statusOf(server->put(token, stateWith(QByteArray(siteId).toUpper().toStdString(), "Shop"))), 200);
    }

    void send(const char *at, const httplib::Headers &visitor, const std::string &body)
    {
        *server->now = utc(at);
        const auto result = server->client()->Post("/v1/event", visitor, body, "text/plain");
        QCOMPARE(statusOf(result), 202);
        QCOMPARE(result->get_header_value("Access-Control-Allow-Origin"), std::string("*"));
        QVERIFY(result->body.empty());
        // One event at a time, as a clock that runs on its own would deliver them.
        server->service->collector().flush();
    }

    WireStats stats(int offset)
    {
        const auto result = server->client()->Get(
            QStringLiteral("/v1/stats?website=%1&offset=%2").arg(QLatin1String(siteId)).arg(offset).toStdString(), bearer(token));
        if (statusOf(result) != 200)
            qWarning() << "stats answered" << statusOf(result) << bodyOf(result);
        return WireStats::decode(bodyOf(result));
    }

private slots:
    void cleanup() { server.reset(); }

    void scriptedDayAcrossMidnight()
    {
        startServer(utc("2024-05-06T23:00:00Z"));  // a Monday
        // Alice's visit spans 31 minutes and UTC midnight: a page, a click, a page under the
        // new salt during its grace period, then a ping.
        send("2024-05-06T23:40:00Z", alice, eventBody("pageview", "/home", "https://news.example/story"));
        send("2024-05-06T23:56:00Z", alice, eventBody("click", "/home", "", "Buy"));
        send("2024-05-07T00:10:00Z", alice, eventBody("pageview", "/pricing?ref=mail", "https://shop.example.net/home"));
        send("2024-05-07T00:11:00Z", alice, eventBody("ping", "/pricing"));
        // Bob comes twice, 45 minutes apart: two visits.
        send("2024-05-07T06:00:00Z", bob, eventBody("pageview", "/"));
        send("2024-05-07T06:45:00Z", bob, eventBody("pageview", "/docs"));
        *server->now = utc("2024-05-07T06:47:00Z");

        // UTC: today began at 00:00. Alice counts under Tuesday's salt, Bob once.
        const WireStats utcStats = stats(0);
        QCOMPARE(utcStats.liveVisitors, 1);  // Bob's second visit, 2 minutes ago
        QCOMPARE(utcStats.visitorsToday, 2);
        QCOMPARE(utcStats.pageViewsToday, 3);
        QCOMPARE(utcStats.liveWindowDescription, QStringLiteral("in the last 5 minutes"));
        QCOMPARE(utcStats.hourly.size(), 24);
        QCOMPARE(utcStats.hourly.first().start, *Instant::fromIso8601("2024-05-06T07:00:00Z"));
        // Alice under each day's salt; Bob once for two page views.
        QCOMPARE(busyHours(utcStats), (QMap<QString, qint64>{{"23:00", 1}, {"00:00", 1}, {"06:00", 1}}));
        QCOMPARE(utcStats.visitorsWeek, 3);  // Monday's 1 + today's 2
        QCOMPARE(utcStats.visitorsMonth, 3);
        QCOMPARE(utcStats.visitorsAllTime, 3);
        QCOMPARE(utcStats.trackingInstalled, true);
        QCOMPARE(*utcStats.countries, (QList<WireCountry>{{"DE", 1}, {"FR", 1}}));
        QCOMPARE(visits(utcStats), (QStringList{"/docs;;;DE;0;2024-05-07T06:45:00Z", "/;;;DE;0;2024-05-07T06:00:00Z",
                                                "/home /pricing;Buy;news.example;FR;1860;2024-05-07T00:11:00Z"}));
        QVERIFY(utcStats.recent->at(0).id != utcStats.recent->at(1).id);

        // India, UTC+5:30: the local day began Monday 18:30 UTC, so Alice counts under both
        // salts, and the hours start at half past.
        const WireStats indiaStats = stats(330);
        QCOMPARE(indiaStats.visitorsToday, 3);
        QCOMPARE(indiaStats.pageViewsToday, 4);
        QCOMPARE(indiaStats.hourly.first().start, *Instant::fromIso8601("2024-05-06T07:30:00Z"));
        QCOMPARE(busyHours(indiaStats), (QMap<QString, qint64>{{"23:30", 2}, {"05:30", 1}, {"06:30", 1}}));
        QCOMPARE(indiaStats.visitorsWeek, 4);

        // The grace period is over: only Tuesday's salt is left.
        QCOMPARE(countRows(server->databasePath(), "SELECT count(*) FROM salts"), 1);
        QCOMPARE(countRows(server->databasePath(), "SELECT day FROM salts"), utc("2024-05-07T00:00:00Z") / 86400);
    }

    void visitorsAreNotFollowedAcrossDays()
    {
        startServer(utc("2024-05-07T12:00:00Z"));
        send("2024-05-07T12:00:00Z", alice, eventBody("pageview", "/"));
        send("2024-05-08T12:00:00Z", alice, eventBody("pageview", "/"));
        send("2024-05-08T12:10:00Z", alice, eventBody("pageview", "/again"));
        const WireStats wednesday = stats(0);
        QCOMPARE(wednesday.visitorsToday, 1);
        QCOMPARE(wednesday.visitorsWeek, 2);  // a daily unique on each day
        QCOMPARE(visits(wednesday), (QStringList{"/ /again;;;FR;600;2024-05-08T12:10:00Z", "/;;;FR;0;2024-05-07T12:00:00Z"}));
        QCOMPARE(countRows(server->databasePath(), "SELECT count(*) FROM visitors"), 1);

        // Restarting keeps the open visit and today's visitors.
        server->restart();
        send("2024-05-08T12:20:00Z", alice, eventBody("pageview", "/third"));
        const WireStats after = stats(0);
        QCOMPARE(after.visitorsToday, 1);
        QCOMPARE(visits(after).size(), 2);
        QCOMPARE(visits(after).first(), QStringLiteral("/ /again /third;;;FR;1200;2024-05-08T12:20:00Z"));
    }

    void droppedEventsAreStillAccepted()
    {
        startServer(utc("2024-05-07T12:00:00Z"), {.rateBurst = 3, .ratePerSecond = 0.5});
        const httplib::Headers carol{{"User-Agent", firefox}, {"X-Forwarded-For", "10.0.0.1, 192.0.2.44"}};
        send("2024-05-07T12:00:00Z", alice, eventBody("pageview", "/kept"));
        // Upper-case ids are the same site.
        send("2024-05-07T12:00:00Z", alice, eventBody("pageview", "/upper", "", "", "C0FFEE00-1234-4ABC-9DEF-0123456789AB"));
        // Robots, a site nobody lists, and what is not an event.
        for (const char *robot : {"Mozilla/5.0 (compatible; Googlebot/2.1)", "curl/8.0", ""})
            send("2024-05-07T12:00:00Z", {{"User-Agent", robot}, {"X-Forwarded-For", "192.0.2.1"}}, eventBody("pageview", "/"));
        for (const std::string &body :
             {eventBody("pageview", "/unknown-site", "", "", otherSite), "{\"s\":\"" + std::string(siteId) + "\",\"k\":\"pageview\"",
              eventBody("visit", "/"), eventBody("pageview", "/too-long", std::string(5000, 'r').c_str()), std::string("[1, 2]")})
            send("2024-05-07T12:00:00Z", alice, body);
        // Carol sends five at once: three fit in her bucket; two seconds later one more.
        for (int i = 0; i < 5; ++i)
            send("2024-05-07T12:00:00Z", carol, eventBody("pageview", "/burst"));
        send("2024-05-07T12:00:02Z", carol, eventBody("pageview", "/later"));

        const WireStats figures = stats(0);
        QCOMPARE(figures.pageViewsToday, 6);  // kept, upper, 3 of the burst, later
        QCOMPARE(figures.visitorsToday, 2);   // Alice and Carol
    }

    void statsQueriesAreChecked()
    {
        startServer(utc("2024-05-07T12:00:00Z"));
        auto client = server->client();
        const auto status = [&](const std::string &query, const QString &bearerToken) {
            return statusOf(client->Get("/v1/stats" + query, bearer(bearerToken)));
        };
        const std::string site = siteId, plain = "?website=" + site + "&offset=0";
        QCOMPARE(status(plain, token), 200);
        QCOMPARE(status("?website=" + QByteArray(siteId).toUpper().toStdString() + "&offset=-300", token), 200);
        QCOMPARE(status(plain, QStringLiteral("orv_wrong")), 401);
        for (const std::string &query : {"?website=" + site, std::string("?offset=0"), "?website=" + site + "&offset=abc",
                                         "?website=" + site + "&offset=1.5", "?website=" + site + "&offset=1440",
                                         std::string("?website=shop&offset=0"), "?website=" + site + "&offset=0&offset=60"})
            QCOMPARE(status(query, token), 400);
        QCOMPARE(status("?website=" + std::string(otherSite) + "&offset=0", token), 404);

        // Another account that lists the same id does not get its figures: the first to
        // list a site owns it while it lists it.
        const QString intruder = server->createToken();
        const std::string state = stateWith(QByteArray(siteId).toUpper().toStdString(), "Mine", "x.example");
        QCOMPARE(statusOf(server->put(intruder, state)), 200);
        QCOMPARE(status(plain, intruder), 404);
        // Once the owner lets it go, its figures stop being collected and it is free.
        QCOMPARE(statusOf(server->put(token, "{\"websites\":[],\"refreshInterval\":60}")), 200);
        QCOMPARE(status(plain, token), 404);
        QCOMPARE(statusOf(server->put(intruder, state)), 200);
        QCOMPARE(status(plain, intruder), 200);
    }

    void rawEventsExpireAndRollUpsStay()
    {
        startServer(utc("2024-05-01T12:00:00Z"), {.retainDays = 2});
        send("2024-05-01T12:00:00Z", alice, eventBody("pageview", "/old"));
        send("2024-05-03T12:00:00Z", bob, eventBody("pageview", "/new"));
        // An hour later the collector's housekeeping runs again, before storing the next event.
        send("2024-05-03T13:00:01Z", bob, eventBody("pageview", "/newer"));
        const WireStats figures = stats(0);
        QCOMPARE(visits(figures), (QStringList{"/newer;;;DE;0;2024-05-03T13:00:01Z", "/new;;;DE;0;2024-05-03T12:00:00Z"}));
        QCOMPARE(figures.visitorsMonth, 2);  // Alice's day is still in the roll-ups
        QCOMPARE(countRows(server->databasePath(), "SELECT count(*) FROM events"), 2);
    }
};

QTEST_GUILESS_MAIN(ServerCountingTest)
#include "ServerCountingTest.moc"
