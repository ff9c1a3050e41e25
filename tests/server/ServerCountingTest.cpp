// Counting: a scripted stream of events through the real collector, and the figures the
// stats endpoint gives for it, worked out by hand.
#include "ServerFixture.h"
#include "WireStats.h"

#include <QtTest>

namespace {

const char *const otherSite = "0badf00d-0000-4000-8000-000000000001";

// Visitors behind the trusted proxy, which appends their address and names their country.
const char *const firefox = "Mozilla/5.0 (X11; Linux x86_64) Firefox/125.0";
const httplib::Headers alice{
    {"User-Agent", firefox}, {"X-Forwarded-For", "10.0.0.1, 198.51.100.7"}, {"CF-IPCountry", "FR"}};
const httplib::Headers bob{{"User-Agent", "Mozilla/5.0 (Macintosh) Safari/605.1"},
                           {"X-Forwarded-For", "10.0.0.1, 203.0.113.9"},
                           {"CF-IPCountry", "DE"}};

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
            QStringLiteral("/v1/stats?website=%1&offset=%2").arg(QLatin1String(siteId)).arg(offset).toStdString(),
            bearer(token));
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
        send("2024-05-07T00:10:00Z", alice,
             eventBody("pageview", "/pricing?ref=mail", "https://shop.example.net/home"));
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
        QCOMPARE(visits(utcStats),
                 (QStringList{"/docs;;;DE;0;2024-05-07T06:45:00Z", "/;;;DE;0;2024-05-07T06:00:00Z",
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
        const qint64 tuesday = utc("2024-05-07T00:00:00Z") / secondsPerDay;
        QVERIFY(!server->salts->keptSalt(tuesday - 1));
        QVERIFY(server->salts->keptSalt(tuesday));
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
        QCOMPARE(visits(wednesday),
                 (QStringList{"/ /again;;;FR;600;2024-05-08T12:10:00Z", "/;;;FR;0;2024-05-07T12:00:00Z"}));
        QCOMPARE(server->sqlValue("SELECT count(*) FROM visitors"), 1);

        // Restarting keeps the open visit and today's visitors: the salt comes back from the
        // runtime file.
        server->restart();
        send("2024-05-08T12:20:00Z", alice, eventBody("pageview", "/third"));
        const WireStats after = stats(0);
        QCOMPARE(after.visitorsToday, 1);
        QCOMPARE(visits(after).size(), 2);
        QCOMPARE(visits(after).first(), QStringLiteral("/ /again /third;;;FR;1200;2024-05-08T12:20:00Z"));

        // Without one, the salt went with the process: Alice is a new visitor.
        server->saltFile.clear();
        server->restart();
        send("2024-05-08T12:30:00Z", alice, eventBody("pageview", "/fourth"));
        QCOMPARE(stats(0).visitorsToday, 2);
    }

    void droppedEventsAreStillAccepted()
    {
        startServer(utc("2024-05-07T12:00:00Z"), {.rateBurst = 3, .ratePerSecond = 0.5});
        const httplib::Headers carol{{"User-Agent", firefox}, {"X-Forwarded-For", "10.0.0.1, 192.0.2.44"}};
        send("2024-05-07T12:00:00Z", alice, eventBody("pageview", "/kept"));
        // Upper-case ids are the same site.
        send("2024-05-07T12:00:00Z", alice,
             eventBody("pageview", "/upper", "", "", "C0FFEE00-1234-4ABC-9DEF-0123456789AB"));
        // Robots, a site nobody lists, and what is not an event.
        for (const char *robot : {"Mozilla/5.0 (compatible; Googlebot/2.1)", "curl/8.0", ""})
            send("2024-05-07T12:00:00Z", {{"User-Agent", robot}, {"X-Forwarded-For", "192.0.2.1"}},
                 eventBody("pageview", "/"));
        // Pages on another host than the site's domain are not the site's; a subdomain's are.
        const auto onHost = [](const char *host) {
            return QStringLiteral("{\"s\":\"%1\",\"k\":\"pageview\",\"u\":\"https://%2/%2\"}")
                .arg(QLatin1String(siteId), QLatin1String(host))
                .toStdString();
        };
        for (const char *host : {"elsewhere.example", "shop.example.net.elsewhere.example", "example.net"})
            send("2024-05-07T12:00:00Z", alice, onHost(host));
        send("2024-05-07T12:00:00Z", alice, "{\"s\":\"" + std::string(siteId) + "\",\"k\":\"click\",\"l\":\"x\"}");
        send("2024-05-07T12:00:00Z", alice, onHost("WWW.Shop.Example.NET"));
        for (const std::string &body :
             {eventBody("pageview", "/unknown-site", "", "", otherSite),
              "{\"s\":\"" + std::string(siteId) + "\",\"k\":\"pageview\"", eventBody("visit", "/"),
              eventBody("pageview", "/too-long", std::string(5000, 'r').c_str()), std::string("[1, 2]")})
            send("2024-05-07T12:00:00Z", alice, body);
        // Carol sends five at once: three fit in her bucket; two seconds later one more.
        for (int i = 0; i < 5; ++i)
            send("2024-05-07T12:00:00Z", carol, eventBody("pageview", "/burst"));
        send("2024-05-07T12:00:02Z", carol, eventBody("pageview", "/later"));

        const WireStats figures = stats(0);
        QCOMPARE(figures.pageViewsToday, 7);  // kept, upper, www, 3 of the burst, later
        QCOMPARE(figures.visitorsToday, 2);   // Alice and Carol
        QCOMPARE(visits(figures).last(),
                 QStringLiteral("/kept /upper /WWW.Shop.Example.NET;;;FR;0;2024-05-07T12:00:00Z"));
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
        for (const std::string &query :
             {"?website=" + site, std::string("?offset=0"), "?website=" + site + "&offset=abc",
              "?website=" + site + "&offset=1.5", "?website=" + site + "&offset=1440",
              std::string("?website=shop&offset=0"), "?website=" + site + "&offset=0&offset=60"})
            QCOMPARE(status(query, token), 400);
        QCOMPARE(status("?website=" + std::string(otherSite) + "&offset=0", token), 404);
    }

    // The id of a site is public, in every page's snippet: another account may list it, and
    // must never see what was counted for its owner.
    void aSiteHistoryStaysWithItsAccount()
    {
        startServer(utc("2024-05-07T12:00:00Z"));
        send("2024-05-07T12:00:00Z", alice, eventBody("pageview", "/private", "https://news.example/"));
        const std::string listing = stateWith(QByteArray(siteId).toUpper().toStdString(), "Mine");
        const std::string nothing = "{\"websites\":[],\"refreshInterval\":60}";
        const auto statsOf = [&](const QString &who) {
            const auto result =
                server->client()->Get("/v1/stats?website=" + std::string(siteId) + "&offset=0", bearer(who));
            return std::pair(statusOf(result),
                             statusOf(result) == 200 ? visits(WireStats::decode(bodyOf(result))) : QStringList());
        };
        const std::pair<int, QStringList> owners{200, {"/private;;news.example;FR;0;2024-05-07T12:00:00Z"}};
        const std::pair<int, QStringList> refused{404, {}};

        // A second account lists the id while its owner does, then after its owner dropped it.
        const QString squatter = server->createToken();
        QCOMPARE(statusOf(server->put(squatter, listing)), 200);
        QCOMPARE(statsOf(squatter), refused);
        QCOMPARE(statusOf(server->put(token, nothing)), 200);
        send("2024-05-07T12:01:00Z", bob, eventBody("pageview", "/while-off-the-list"));
        QCOMPARE(statusOf(server->put(squatter, listing)), 200);
        QCOMPARE(statsOf(squatter), refused);
        QCOMPARE(statsOf(token), refused);
        // Listed again, the site is its owner's as it was, and counts again.
        QCOMPARE(statusOf(server->put(token, listing)), 200);
        QCOMPARE(statsOf(token), owners);

        // A new token for the account: the old one is refused, the history stays.
        const auto rotated = server->tokenCommand(CommandLine::Token::Action::rotate, token);
        QCOMPARE(rotated.status, 0);
        QCOMPARE(statsOf(token).first, 401);
        token = rotated.out.trimmed();
        QCOMPARE(statsOf(token), owners);

        // Revoked: the history is out of reach at once, before housekeeping has deleted it,
        // and an account that lists the id now starts from nothing.
        const qint64 ended = server->sqlValue("SELECT id FROM sites");
        QCOMPARE(server->tokenCommand(CommandLine::Token::Action::revoke, token).status, 0);
        QCOMPARE(statusOf(server->put(squatter, listing)), 200);
        const auto fresh =
            server->client()->Get("/v1/stats?website=" + std::string(siteId) + "&offset=0", bearer(squatter));
        QCOMPARE(statusOf(fresh), 200);
        const WireStats empty = WireStats::decode(bodyOf(fresh));
        QCOMPARE(empty.visitorsAllTime, 0);
        QCOMPARE(empty.trackingInstalled, false);
        QCOMPARE(visits(empty), QStringList());
        const QByteArray onEnded = " WHERE site = " + QByteArray::number(ended);
        const QByteArray leftBehind = "SELECT count(*) FROM visits" + onEnded;
        QCOMPARE(server->sqlValue(leftBehind), 1);

        // The next housekeeping deletes it; the new owner counts as usual.
        send("2024-05-07T13:00:01Z", bob, eventBody("pageview", "/new-owner"));
        QCOMPARE(server->sqlValue(leftBehind), 0);
        for (const QByteArray table : {"days", "slots", "hours", "visitors"})
            QVERIFY2(server->sqlValue("SELECT count(*) FROM " + table + onEnded) == 0, table);
        QCOMPARE(statsOf(squatter).second, QStringList{"/new-owner;;;DE;0;2024-05-07T13:00:01Z"});
    }

    void rawEventsExpireAndRollUpsStay()
    {
        startServer(utc("2024-05-01T12:00:00Z"), {.retainDays = 2});
        send("2024-05-01T12:00:00Z", alice, eventBody("pageview", "/old"));
        send("2024-05-03T12:00:00Z", bob, eventBody("pageview", "/new"));
        // An hour later the collector's housekeeping runs again, after storing the next event.
        send("2024-05-03T13:00:01Z", bob, eventBody("pageview", "/newer"));
        const WireStats figures = stats(0);
        QCOMPARE(visits(figures),
                 (QStringList{"/newer;;;DE;0;2024-05-03T13:00:01Z", "/new;;;DE;0;2024-05-03T12:00:00Z"}));
        QCOMPARE(figures.visitorsMonth, 2);  // Alice's day is still in the roll-ups
        QCOMPARE(server->sqlValue("SELECT count(*) FROM events"), 2);
    }
};

QTEST_GUILESS_MAIN(ServerCountingTest)
#include "ServerCountingTest.moc"
