// The stats and account-state clients, and the transfer beneath them, against a real loopback server.
#include "AnalyticsFailure.h"
#include "AwaitTask.h"
#include "CloudflareSyncClient.h"
#include "CredentialStoring.h"
#include "ExampleWebsite.h"
#include "NetworkTransfer.h"
#include "OrvelaAnalyticsProvider.h"
#include "ScriptedServer.h"
#include "WireStats.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QtTest>
#include <ctime>
#include <thread>

using namespace std::chrono_literals;
using Reply = ScriptedServer::Reply;
using Delivery = ScriptedServer::Delivery;
using Tokens = OrvelaAnalyticsProvider::TokenProvider;
using AF = AnalyticsFailure;
using CE = CloudSyncError;

namespace {

const QUuid siteID = QUuid::fromString(QStringLiteral("{C0FFEE00-1234-4ABC-9DEF-0123456789AB}"));
const Website site{siteID, "Shop", "shop.example.net", std::nullopt};

// Each value appears once, so that a row below can change it by replacing its text.
// "\/" because moc takes "//" in a multi-line raw string for a comment.
const QByteArray statsBody = R"({"liveVisitors": 3, "visitorsToday": 41, "pageViewsToday": 97,
    "liveWindowDescription": "last 5 minutes",
    "hourly": [{"start": "2024-05-01T13:00:00Z", "visitors": 7},
               {"start": "2024-05-01T14:00:00+02:00", "visitors": 9007199254740993}],
    "trackingInstalled": false, "visitorsWeek": 300, "visitorsMonth": 1200, "visitorsAllTime": 50000,
    "countries": [{"code": "DE", "visitors": 20}, {"code": "US", "visitors": 11}],
    "recent": [{"id": "v1", "country": "FR", "referrer": "https:\/\/news.example.org\/x", "pages": ["/", "/pricing"],
                "clicks": ["Sign up"], "seconds": 93, "lastSeen": "2024-05-01T13:58:20Z"}],
    "somethingNew": {"ignored": true}})";

// No traffic, no tracking flag, every optional null; again each value once.
const QByteArray quietStats =
    R"({"liveVisitors":0,"visitorsToday":0,"pageViewsToday":0,"liveWindowDescription":"now",)"
    R"("hourly":[{"start":"2024-05-01T13:00:00Z","visitors":0},{"start":"2024-05-01T14:00:00Z",)"
    R"("visitors":0}],"trackingInstalled":null,"visitorsWeek":null,"visitorsMonth":null,)"
    R"("visitorsAllTime":null,"countries":null,"recent":null})";

Instant at(const char *iso)
{
    return *Instant::fromIso8601(QString::fromLatin1(iso));
}

QByteArray stateBody(const QByteArray &rest = R"("refreshInterval":60)")
{
    return R"({"websites":[{"id":"c0ffee00-1234-4abc-9def-0123456789ab","displayName":"Shop",)"
           R"("domain":"shop.example.net"}],)" +
        rest + "}";
}

}  // namespace

class ClientsTest : public QObject
{
    Q_OBJECT

    // Both made afresh for each test, and the manager always goes first: an idle connection it
    // kept open would hold up the server's stop for seconds.
    std::optional<ScriptedServer> server;
    std::optional<QNetworkAccessManager> manager;
    Tokens tokens;
    QUrl base;
    TransferLimits limits;
    int tokenReads = 0;
    std::jthread stopper;

    // The base URL as it is when a request is built.
    BaseURLProvider address()
    {
        return [this] { return base; };
    }

    Outcome<AnalyticsSnapshot> fetch(const Website &website = site, std::stop_token stop = {})
    {
        const auto counted = [this] {
            ++tokenReads;
            return tokens();
        };
        return await(OrvelaAnalyticsProvider(counted, address(), *manager, limits).fetchSnapshot(website, {}, stop));
    }

    std::optional<AF> failure(std::stop_token stop = {}) { return fetch(site, stop).errorAs<AF>(); }

    CloudflareSyncClient syncClient()
    {
        return CloudflareSyncClient(
            address(), [this] { return tokens().value_or(QString()); }, *manager, limits);
    }

    std::optional<CE> loadError(std::stop_token stop = {}) { return await(syncClient().loadState(stop)).errorAs<CE>(); }

    // A stop that comes from another thread while the reply is under way.
    std::stop_token stopSoon()
    {
        std::stop_source source;
        QTimer::singleShot(100ms,
                           [this, source] { stopper = std::jthread([source]() mutable { source.request_stop(); }); });
        return source.get_token();
    }

private slots:
    void initTestCase()
    {
        // Half an hour and 30 s west of UTC: the offset shows its minutes and goes toward zero (-210.5 -> -210).
        qputenv("TZ", "XXX+3:30:30");
        tzset();
    }

    void init()
    {
        manager.emplace();
        server.emplace();
        tokens = [] { return std::optional<QString>(QStringLiteral("token")); };
        base = server->url();
        limits = {};
        tokenReads = 0;
    }

    void theRequests()
    {
        tokens = [] { return std::optional<QString>(" \tsecret-token \n"); };
        for (const QString basePath : {"", "/api/?website=old&x=1"}) {
            base = QUrl(server->url().toString() + basePath);
            server->enqueue(Reply::json(200, statsBody));
            QVERIFY(fetch().value);
        }
        server->enqueue(Reply::json(200, stateBody()));
        QCOMPARE(await(syncClient().loadState({})).value, (CloudSyncState{{site}, {}, RefreshInterval::sixty, {}}));

        const auto requests = server->requests();
        QCOMPARE(requests.size(), 3);
        const QStringList paths{"/v1/stats", "/api/v1/stats", "/v1/state"};
        const QList<QPair<QString, QString>> statsQuery{{"website", "c0ffee00-1234-4abc-9def-0123456789ab"},
                                                        {"offset", "-210"}};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(requests[i].path, paths[i]);
            QCOMPARE(requests[i].query.queryItems(), (i < 2 ? statsQuery : QList<QPair<QString, QString>>{}));
            QCOMPARE(requests[i].method, QByteArray("GET"));
            QCOMPARE(requests[i].header("Authorization"), QByteArray("Bearer secret-token"));
            QCOMPARE(requests[i].header("Accept"), QByteArray("application/json"));
            QVERIFY(!requests[i].headers.contains("content-type") && requests[i].body.isEmpty());
        }
    }

    // A new address applies from the next request on, to clients made before it.
    void theAddressIsReadForEveryRequest()
    {
        OrvelaAnalyticsProvider provider(tokens, address(), *manager, limits);
        CloudflareSyncClient client = syncClient();
        ScriptedServer other;
        for (ScriptedServer *target : {&*server, &other}) {
            base = target->url();
            target->enqueue(Reply::json(200, statsBody));
            target->enqueue(Reply::json(200, stateBody()));
            QVERIFY(await(provider.fetchSnapshot(site, {}, {})).value);
            QVERIFY(await(client.loadState({})).value);
            QCOMPARE(target->requests().size(), 2);
        }
    }

    void theSnapshot()
    {
        // The reply says trackingInstalled false, but traffic was seen.
        AnalyticsSnapshot full{3, 41, 97, {}, "last 5 minutes", {}, true, 300, 1200, 50000, {{"DE", 20}, {"US", 11}}};
        full.hourlyVisitors = {{at("2024-05-01T13:00:00Z"), 7}, {at("2024-05-01T12:00:00Z"), 9007199254740993}};
        full.recentVisitors = {
            {"v1", "FR", "https://news.example.org/x", {"/", "/pricing"}, {"Sign up"}, 93, at("2024-05-01T13:58:20Z")}};
        const AnalyticsSnapshot quiet{
            0, 0, 0, QList<HourlyVisitorCount>{{at("2024-05-01T13:00:00Z"), 0}, {at("2024-05-01T14:00:00Z"), 0}},
            "now"};

        for (const auto &[body, expected] : {std::pair{statsBody, full}, std::pair{quietStats, quiet}}) {
            // As sent, and as the service's own encoder writes it: absent values must stay absent.
            for (const QByteArray &sent : {body, WireStats::decode(body).encode()}) {
                server->enqueue(Reply::json(200, sent));
                const Instant before = Instant::now();
                const auto outcome = fetch();
                QVERIFY2(outcome.value, sent.constData());
                QVERIFY(outcome.value->refreshedAt >= before && outcome.value->refreshedAt <= Instant::now());
                AnalyticsSnapshot wanted = expected;
                wanted.refreshedAt = outcome.value->refreshedAt;
                QVERIFY2(*outcome.value == wanted, sent.constData());
            }
        }

        // Traffic of any kind, or the flag, says the tracking is installed.
        const std::tuple<const char *, const char *, bool> tracking[] = {
            {R"("liveVisitors":0)", R"("liveVisitors":1)", true},
            {R"("visitorsToday":0)", R"("visitorsToday":1)", true},
            {R"("pageViewsToday":0)", R"("pageViewsToday":2)", true},
            {R"("visitors":0}])", R"("visitors":1}])", true},
            {R"("trackingInstalled":null)", R"("trackingInstalled":true)", true},
            {R"("trackingInstalled":null)", R"("trackingInstalled":false)", false},
            {R"("liveVisitors":0,"visitorsToday":0)", R"("liveVisitors":-1,"visitorsToday":-5)", false},
        };
        for (const auto &[from, to, expected] : tracking) {
            server->enqueue(Reply::json(200, QByteArray(quietStats).replace(from, to)));
            const auto outcome = fetch();
            QVERIFY2(outcome.value && outcome.value->trackingInstalled == expected, to);
        }
    }

    void tokenProblemsSendNothing()
    {
        const std::tuple<const char *, Tokens, AF> rows[] = {
            {"none stored", [] { return std::optional<QString>(); }, AF::notConfigured},
            {"blank", [] { return std::optional<QString>(" \n\t"); }, AF::notConfigured},
            {"a failure of our own", []() -> std::optional<QString> { throw AF::offline; }, AF::offline},
            {"keychain failure", []() -> std::optional<QString> { throw KeychainStoreError::unreadable(); },
             AF::credentialsUnreadable},
        };
        for (const auto &[name, rowTokens, expected] : rows) {
            tokens = rowTokens;
            tokenReads = 0;
            QVERIFY2(failure() == expected && tokenReads == 1, name);
            // The sync client has its own word for a missing token and hands on what the keychain threw.
            const auto synced = await(syncClient().saveState(CloudSyncState{}, {}));
            if (expected == AF::notConfigured)
                QVERIFY2(synced.errorAs<CE>() == CE::missingToken, name);
            if (expected == AF::credentialsUnreadable)
                QVERIFY2(synced.errorAs<KeychainStoreError>() == KeychainStoreError::unreadable(), name);
        }

        // The example website is answered here, without reading the token (which would throw).
        tokenReads = 0;
        const auto example = fetch({QUuid::createUuid(), "Example", "example.com", std::nullopt});
        QVERIFY(example.value);
        QCOMPARE(*example.value, ExampleWebsite::exampleSnapshot(example.value->refreshedAt));
        QCOMPARE(tokenReads, 0);

        // Stopped before it starts.
        tokens = [] { return std::optional<QString>(QStringLiteral("token")); };
        std::stop_source stopped;
        stopped.request_stop();
        QCOMPARE(failure(stopped.get_token()), AF::cancelled);
        QCOMPARE(loadError(stopped.get_token()), CE::cancelled);
        QVERIFY(server->requests().isEmpty());
    }

    void statuses()
    {
        // A readable document in the body changes nothing.
        for (int status : {400, 401, 201, 204, 403, 404, 409, 429, 500, 503}) {
            server->enqueue(Reply::json(status, statsBody));
            QVERIFY2(failure() == (status == 401 ? AF::invalidCredentials : AF::unavailable),
                     QByteArray::number(status));
            server->enqueue(Reply::json(status, stateBody()));
            const auto syncError = status == 400 ? CE::malformedResponse
                : status == 401                  ? CE::unauthorized
                                                 : CE::server;
            QVERIFY2(loadError() == syncError, QByteArray::number(status));
        }
    }

    void statsBodiesThatAreNoSnapshot()
    {
        // Changes to statsBody; without a text to replace, the whole body.
        const char *edits[][3] = {
            {"html", nullptr, "<html><body>Bad gateway</body></html>"},
            {"count missing", R"("liveVisitors": 3, )", ""},
            // The array stays behind under another key.
            {"hourly null", R"("hourly": [)", R"("hourly": null, "x": [)"},
            {"countries an object", R"("countries": [)", R"("countries": {}, "x": [)"},
            {"fractional optional count", R"("visitorsWeek": 300)", R"("visitorsWeek": 2.25)"},
            {"flag as number", R"("trackingInstalled": false)", R"("trackingInstalled": 0)"},
            {"fractional seconds", "13:00:00Z", "13:00:00.5Z"},
            {"recent seconds missing", R"("seconds": 93, )", ""},
            {"page not a string", R"("/pricing")", "2"},
            {"country code missing", R"("code": "DE", )", ""},
        };
        for (const auto &[name, from, to] : edits) {
            const QByteArray body = from ? QByteArray(statsBody).replace(from, to) : QByteArray(to);
            QVERIFY2(body != statsBody, name);
            server->enqueue(Reply::json(200, body));
            QVERIFY2(failure() == AF::malformedResponse, name);
        }
    }

    void stateBodies()
    {
        // Without an error: read, with neither selection nor time.
        const std::tuple<const char *, QByteArray, std::optional<CE>> rows[] = {
            {"null selection, unknown key",
             stateBody(R"("selectedWebsiteID":null,"refreshInterval":120,"theme":"dark")"),
             {}},
            {"not JSON", "upstream connect error", CE::malformedResponse},
            {"interval 45", stateBody(R"("refreshInterval":45)"), CE::malformedResponse},
            {"interval missing", stateBody(R"("selectedWebsiteID":null)"), CE::malformedResponse},
            {"fractional seconds", stateBody(R"("refreshInterval":60,"updatedAt":"2025-01-31T08:05:00.250Z")"),
             CE::malformedResponse},
            {"selection a number", stateBody(R"("refreshInterval":60,"selectedWebsiteID":7)"), CE::malformedResponse},
            {"website without domain",
             R"({"websites":[{"id":"c0ffee00-1234-4abc-9def-0123456789ab","displayName":"Shop"}],"refreshInterval":60})",
             CE::malformedResponse},
        };
        for (const auto &[name, body, expected] : rows) {
            server->enqueue(Reply::json(200, body));
            const auto outcome = await(syncClient().loadState({}));
            QVERIFY2(outcome.errorAs<CE>() == expected, name);
            QVERIFY2(expected || (!outcome.value->selectedWebsiteID && !outcome.value->updatedAt), name);
        }
    }

    void saveSendsTheStateWithoutItsTime()
    {
        server->enqueue(Reply::json(200, stateBody()));
        server->enqueue(Reply::json(200, stateBody()));
        CloudSyncState state{{site}, siteID, RefreshInterval::thirty, at("2020-01-01T00:00:00Z")};
        QVERIFY(await(syncClient().saveState(state, {})).value);
        state.selectedWebsiteID.reset();
        QVERIFY(await(syncClient().saveState(state, {})).value);

        const auto requests = server->requests();
        QCOMPARE(requests[0].method, QByteArray("PUT"));
        QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(requests[0].header("Accept"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(requests[0].body).object(),
                 (QJsonObject{{"websites", QJsonArray{site.toJson()}},
                              {"refreshInterval", 30},
                              {"selectedWebsiteID", "C0FFEE00-1234-4ABC-9DEF-0123456789AB"}}));
        QCOMPARE(QJsonDocument::fromJson(requests[1].body).object().keys(),
                 (QStringList{"refreshInterval", "websites"}));
    }

    void transferFailures()
    {
        ScriptedServer elsewhere;
        const std::tuple<const char *, Reply, TransferLimits, AF, CE> rows[] = {
            {"stopped midway", {200, "{\"partial\":", 0ms, Delivery::stall}, {}, AF::cancelled, CE::cancelled},
            {"dropped mid-body", {200, stateBody(), 0ms, Delivery::dropMidway}, {}, AF::unavailable, CE::server},
            {"oversized", Reply::json(200, stateBody()), {20s, 10}, AF::malformedResponse, CE::malformedResponse},
            // The sync client counts a time-out as a failure of the service.
            {"slower than the time-out", {200, stateBody(), 1500ms}, {100ms}, AF::timedOut, CE::server},
            // The token is not handed on to another origin.
            {"redirect elsewhere", Reply::redirect(elsewhere.url()), {}, AF::unavailable, CE::server},
        };
        for (const auto &[name, reply, rowLimits, statsFailure, syncError] : rows) {
            limits = rowLimits;
            const bool stall = reply.delivery == Delivery::stall;
            server->enqueue(reply);
            QVERIFY2(failure(stall ? stopSoon() : std::stop_token()) == statsFailure, name);
            QVERIFY2(!stall || server->waitForClientToLeave(2s), name);
            server->enqueue(reply);
            QVERIFY2(loadError(stall ? stopSoon() : std::stop_token()) == syncError, name);
            QVERIFY2(!stall || server->waitForClientToLeave(2s), name);
        }
        QVERIFY(elsewhere.requests().isEmpty());

        // A redirect to the same origin is followed, with the token.
        limits = {};
        server->enqueue(Reply::redirect(server->url().resolved(QUrl("/moved"))));
        server->enqueue(Reply::json(200, statsBody));
        QVERIFY(fetch().value);
        QCOMPARE(server->requests().constLast().path, QStringLiteral("/moved"));
        QCOMPARE(server->requests().constLast().header("Authorization"), QByteArray("Bearer token"));

        base = QUrl("relative/base");
        QCOMPARE(failure(), AF::unavailable);
        QCOMPARE(loadError(), CE::server);
    }

    // One reading of how a transfer ended, put in each client's words. Some of these cannot be
    // staged on loopback (being offline), others only with a proxy.
    void transferOutcomes_data()
    {
        using E = QNetworkReply::NetworkError;
        QTest::addColumn<std::exception_ptr>("thrown");
        QTest::addColumn<std::optional<TransferFailure>>("failure");
        QTest::addColumn<AnalyticsFailure>("statsFailure");
        QTest::addColumn<CloudSyncError>("syncError");
        using TF = TransferFailure;
        const auto row = [](const char *name, auto thrown, std::optional<TF> failure, AF stats, CE sync) {
            QTest::newRow(name) << std::make_exception_ptr(thrown) << failure << stats << sync;
        };
        for (const E code :
             {E::NetworkSessionFailedError, E::TemporaryNetworkFailureError, E::BackgroundRequestNotAllowedError})
            row(QByteArray::number(code).prepend("offline ").constData(), TransferError{code}, TF::offline, AF::offline,
                CE::offline);
        row("our stop", TaskCancelled{}, TF::cancelled, AF::cancelled, CE::cancelled);
        row("aborted after our stop", TransferError{E::OperationCanceledError, {}, true}, TF::cancelled, AF::cancelled,
            CE::cancelled);
        row("the transfer time-out", TransferError{E::OperationCanceledError}, TF::timedOut, AF::timedOut, CE::server);
        row("a time-out", TransferError{E::TimeoutError}, TF::timedOut, AF::timedOut, CE::server);
        row("proxy time-out", TransferError{E::ProxyTimeoutError}, TF::timedOut, AF::timedOut, CE::server);
        row("authentication without a status", TransferError{E::AuthenticationRequiredError},
            TF::authenticationRequired, AF::invalidCredentials, CE::server);
        row("authentication with a status", TransferError{E::AuthenticationRequiredError, 407}, TF::other,
            AF::unavailable, CE::server);
        row("unparsable reply", TransferError{E::ProtocolFailure}, TF::protocolFailure, AF::malformedResponse,
            CE::server);
        row("oversized", OversizedReply{10}, TF::oversized, AF::malformedResponse, CE::malformedResponse);
        row("connection refused", TransferError{E::ConnectionRefusedError}, TF::other, AF::unavailable, CE::server);
        row("not a transfer's", std::runtime_error("other"), std::nullopt, AF::unavailable, CE::server);
        row("the client's own", CE::unauthorized, std::nullopt, AF::unavailable, CE::unauthorized);
        row("the provider's own", AF::rateLimited, std::nullopt, AF::rateLimited, CE::server);
    }
    void transferOutcomes()
    {
        QFETCH(std::exception_ptr, thrown);
        QFETCH(std::optional<TransferFailure>, failure);
        QFETCH(AnalyticsFailure, statsFailure);
        QFETCH(CloudSyncError, syncError);
        QCOMPARE(transferFailure(thrown), failure);
        QCOMPARE(AnalyticsFailures::classify(thrown), statsFailure);
        QCOMPARE(cloudSyncErrorFrom(thrown), syncError);
    }

    // Bodies past the limit, however they come, through the transfer beneath both clients.
    void bodiesBeyondTheLimit()
    {
        const QByteArray body = QByteArray("0123456789").repeated(600);
        using Mode = TransferLimits::Oversized;
        // Rows: name, delivery, bytes sent, mode, bytes kept (-1: rejected).
        const std::tuple<const char *, Delivery, qint64, Mode, qint64> rows[] = {
            {"announced length at the limit", Delivery::complete, 4096, Mode::reject, 4096},
            // Half of it arrives before the connection drops: only the announced length tells.
            {"announced length over, cut short", Delivery::dropMidway, 6000, Mode::reject, -1},
            // Chunked, then an endless trickle: only the bytes received can tell.
            {"unannounced, endless", Delivery::stall, 6000, Mode::reject, -1},
            {"unannounced, endless, truncated", Delivery::stall, 6000, Mode::truncate, 4096},
        };
        for (const auto &[name, delivery, size, mode, kept] : rows) {
            server->enqueue({200, body.left(size), 0ms, delivery});
            TransferRequest request;
            request.request.setUrl(server->url());
            const auto outcome = await(transfer(*manager, request, {20s, 4096, mode}, {}));
            if (kept < 0)
                QVERIFY2(outcome.errorAs<OversizedReply>() && outcome.errorAs<OversizedReply>()->limit == 4096, name);
            else
                QVERIFY2(outcome.value && outcome.value->status == 200 && outcome.value->body == body.left(kept), name);
            QVERIFY2(delivery != Delivery::stall || server->waitForClientToLeave(2s), name);
        }
    }
};

QTEST_GUILESS_MAIN(ClientsTest)
#include "ClientsTest.moc"
