// The stats client against a real loopback server.
#include "AnalyticsFailure.h"
#include "AwaitTask.h"
#include "CredentialStoring.h"
#include "ExampleWebsite.h"
#include "OrvelaAnalyticsProvider.h"
#include "ScriptedServer.h"

#include <QNetworkAccessManager>
#include <QTimer>
#include <QtTest>
#include <ctime>

using namespace std::chrono_literals;
using Delivery = ScriptedServer::Reply::Delivery;

namespace {

const Website site{QUuid::fromString(QStringLiteral("{C0FFEE00-1234-4ABC-9DEF-0123456789AB}")), "Shop",
                   "shop.example.net", std::nullopt};

const QByteArray statsBody = R"({"liveVisitors": 2, "visitorsToday": 30, "pageViewsToday": 75,
    "liveWindowDescription": "last 5 minutes", "hourly": [{"start": "2024-05-01T13:00:00Z", "visitors": 4}],
    "visitorsWeek": null, "visitorsMonth": 900, "countries": [{"code": "FR", "visitors": 3}]})";

}  // namespace

class OrvelaAnalyticsProviderTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;
    int tokenReads = 0;

    OrvelaAnalyticsProvider provider(OrvelaAnalyticsProvider::TokenProvider tokens, QUrl base = {},
                                     TransferLimits limits = {})
    {
        auto counted = [this, tokens] {
            ++tokenReads;
            return tokens();
        };
        return OrvelaAnalyticsProvider(counted, base.isEmpty() ? server->url() : base, *manager, limits);
    }

    OrvelaAnalyticsProvider provider(TransferLimits limits = {})
    {
        return provider([] { return std::optional<QString>(QStringLiteral("token")); }, {}, limits);
    }

    static Outcome<AnalyticsSnapshot> fetch(OrvelaAnalyticsProvider client, Website website = site,
                                            std::stop_token stop = {})
    {
        return await(client.fetchSnapshot(website, ProviderCredentials{}, stop));
    }

    static std::optional<AnalyticsFailure> failureOf(const Outcome<AnalyticsSnapshot> &outcome)
    {
        return outcome.errorAs<AnalyticsFailure>();
    }

private slots:
    void initTestCase()
    {
        // A zone half an hour off the hour, so the offset shows its minutes.
        qputenv("TZ", "IST-5:30");
        tzset();
    }

    void init()
    {
        server = std::make_unique<ScriptedServer>();
        manager = std::make_unique<QNetworkAccessManager>();
        tokenReads = 0;
    }

    void cleanup()
    {
        manager.reset();
        server.reset();
    }

    void theRequest_data()
    {
        QTest::addColumn<QString>("basePath");
        QTest::addColumn<QString>("expectedPath");
        QTest::newRow("origin") << QString() << "/v1/stats";
        QTest::newRow("path and stale query") << "/api/?website=old&x=1" << "/api/v1/stats";
    }

    void theRequest()
    {
        QFETCH(QString, basePath);
        QFETCH(QString, expectedPath);
        server->enqueue(ScriptedServer::Reply::json(200, statsBody));
        const QUrl base(server->url().toString() + basePath);
        const auto outcome = fetch(provider([] { return std::optional<QString>(" \tsecret-token \n"); }, base));
        QVERIFY(outcome.value);

        const auto requests = server->requests();
        QCOMPARE(requests.size(), 1);
        const auto &request = requests.first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, expectedPath);
        QCOMPARE(request.query.queryItems(),
                 (QList<QPair<QString, QString>>{{"website", "c0ffee00-1234-4abc-9def-0123456789ab"}, {"offset", "330"}}));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer secret-token"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QVERIFY(!request.hasHeader("Content-Type"));
        QVERIFY(request.body.isEmpty());
    }

    void theSnapshot()
    {
        server->enqueue(ScriptedServer::Reply::json(200, statsBody));
        const Instant before = Instant::now();
        const auto outcome = fetch(provider());
        QVERIFY(outcome.value);
        // The mapping itself is covered with the wire forms; here, that it is the one used.
        const AnalyticsSnapshot &snapshot = *outcome.value;
        QCOMPARE(snapshot.visitorsToday, 30);
        QCOMPARE(snapshot.hourlyVisitors->size(), 1);
        QCOMPARE(snapshot.visitorsWeek, std::nullopt);
        QCOMPARE(snapshot.countries, (QList<CountryVisitors>{{"FR", 3}}));
        QVERIFY(snapshot.trackingInstalled);
        QVERIFY(snapshot.refreshedAt >= before && snapshot.refreshedAt <= Instant::now());
    }

    void redirectsStayWithTheOrigin()
    {
        QUrl moved = server->url();
        moved.setPath(QStringLiteral("/moved/v1/stats"));
        server->enqueue(ScriptedServer::Reply::redirect(moved));
        server->enqueue(ScriptedServer::Reply::json(200, statsBody));
        QVERIFY(fetch(provider()).value);
        QCOMPARE(server->requests().value(1).path, QStringLiteral("/moved/v1/stats"));
        QCOMPARE(server->requests().value(1).header("Authorization"), QByteArray("Bearer token"));

        ScriptedServer elsewhere;
        elsewhere.enqueue(ScriptedServer::Reply::json(200, statsBody));
        server->enqueue(ScriptedServer::Reply::redirect(elsewhere.url().resolved(QUrl("/v1/stats"))));
        QCOMPARE(failureOf(fetch(provider())), std::optional(AnalyticsFailure::unavailable));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void theExampleWebsiteAsksNobody()
    {
        const auto broken = [] () -> std::optional<QString> { throw KeychainStoreError::status(-1); };
        const QUrl nowhere(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()));
        const Website example{QUuid::createUuid(), "Example", "example.com", std::nullopt};
        const auto outcome = fetch(provider(broken, nowhere), example);
        QVERIFY(outcome.value);
        const AnalyticsSnapshot expected = ExampleWebsite::exampleSnapshot(outcome.value->refreshedAt);
        QCOMPARE(*outcome.value, expected);
        QCOMPARE(tokenReads, 0);
    }

    void tokenProblems_data()
    {
        QTest::addColumn<OrvelaAnalyticsProvider::TokenProvider>("tokens");
        QTest::addColumn<AnalyticsFailure>("expected");
        using Tokens = OrvelaAnalyticsProvider::TokenProvider;
        QTest::newRow("none stored") << Tokens([] { return std::optional<QString>(); })
                                     << AnalyticsFailure::notConfigured;
        QTest::newRow("blank") << Tokens([] { return std::optional<QString>(" \n\t"); })
                               << AnalyticsFailure::notConfigured;
        QTest::newRow("keychain failure") << Tokens([]() -> std::optional<QString> {
            throw KeychainStoreError::unreadable();
        }) << AnalyticsFailure::credentialsUnreadable;
        QTest::newRow("a failure of our own") << Tokens([]() -> std::optional<QString> {
            throw AnalyticsFailure::offline;
        }) << AnalyticsFailure::offline;
    }

    void tokenProblems()
    {
        QFETCH(OrvelaAnalyticsProvider::TokenProvider, tokens);
        QFETCH(AnalyticsFailure, expected);
        QCOMPARE(failureOf(fetch(provider(tokens))), std::optional(expected));
        QCOMPARE(tokenReads, 1);
        QVERIFY(server->requests().isEmpty());
    }

    void statuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<AnalyticsFailure>("expected");
        QTest::newRow("401") << 401 << AnalyticsFailure::invalidCredentials;
        for (int status : {204, 400, 403, 404, 429, 500, 503})
            QTest::addRow("%d", status) << status << AnalyticsFailure::unavailable;
    }

    void statuses()
    {
        QFETCH(int, status);
        QFETCH(AnalyticsFailure, expected);
        // A stats document in the body changes nothing.
        server->enqueue(ScriptedServer::Reply::json(status, statsBody));
        QCOMPARE(failureOf(fetch(provider())), std::optional(expected));
    }

    void unreadableBodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("html") << QByteArray("<html><body>Bad gateway</body></html>");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("hourly missing")
            << QByteArray(R"({"liveVisitors":0,"visitorsToday":0,"pageViewsToday":0,"liveWindowDescription":"x"})");
        QTest::newRow("fractional seconds")
            << QByteArray(R"({"liveVisitors":0,"visitorsToday":0,"pageViewsToday":0,"liveWindowDescription":"x",)"
                          R"("hourly":[{"start":"2024-05-01T13:00:00.5Z","visitors":1}]})");
        QTest::newRow("count as text")
            << QByteArray(R"({"liveVisitors":"2","visitorsToday":0,"pageViewsToday":0,"liveWindowDescription":"x",)"
                          R"("hourly":[]})");
    }

    void unreadableBodies()
    {
        QFETCH(QByteArray, body);
        server->enqueue(ScriptedServer::Reply::json(200, body));
        QCOMPARE(failureOf(fetch(provider())), std::optional(AnalyticsFailure::malformedResponse));
    }

    void anOversizedBodyIsNotRead()
    {
        server->enqueue(ScriptedServer::Reply::json(200, statsBody + QByteArray(4096, ' ')));
        TransferLimits limits;
        limits.maxBodyBytes = 1024;
        QCOMPARE(failureOf(fetch(provider(limits))), std::optional(AnalyticsFailure::malformedResponse));
    }

    void aStopCancelsTheTransfer()
    {
        ScriptedServer::Reply reply = ScriptedServer::Reply::json(200, "{\"liveVisitors\": 2,");
        reply.delivery = Delivery::stall;
        server->enqueue(reply);
        std::stop_source source;
        QTimer::singleShot(100ms, [&source] { source.request_stop(); });
        const auto outcome = fetch(provider(), site, source.get_token());
        QCOMPARE(failureOf(outcome), std::optional(AnalyticsFailure::cancelled));
        QVERIFY(server->waitForClientToLeave(2s));
    }

    void transferFailures()
    {
        ScriptedServer::Reply slow = ScriptedServer::Reply::json(200, statsBody);
        slow.delay = 1500ms;
        server->enqueue(slow);
        TransferLimits limits;
        limits.timeout = 100ms;
        QCOMPARE(failureOf(fetch(provider(limits))), std::optional(AnalyticsFailure::timedOut));

        ScriptedServer::Reply cut = ScriptedServer::Reply::json(200, statsBody);
        cut.delivery = Delivery::dropMidway;
        server->enqueue(cut);
        QCOMPARE(failureOf(fetch(provider())), std::optional(AnalyticsFailure::unavailable));

        const QUrl nowhere(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()));
        const auto token = [] { return std::optional<QString>("token"); };
        QCOMPARE(failureOf(fetch(provider(token, nowhere))), std::optional(AnalyticsFailure::unavailable));
        QCOMPARE(failureOf(fetch(provider(token, QUrl("relative/base")))), std::optional(AnalyticsFailure::unavailable));
    }
};

QTEST_GUILESS_MAIN(OrvelaAnalyticsProviderTest)
#include "OrvelaAnalyticsProviderTest.moc"
