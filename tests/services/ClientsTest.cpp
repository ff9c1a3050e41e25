// The stats and account-state clients against a real loopback server.
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

using namespace std::chrono_literals;
using Reply = ScriptedServer::Reply;
using Delivery = ScriptedServer::Delivery;
using Tokens = OrvelaAnalyticsProvider::TokenProvider;

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

// Every optional null; traffic and the tracking flag as given.
QByteArray bareStats(int live, int today, int views, int laterHour, const char *tracking = "null")
{
    return QStringLiteral(R"({"liveVisitors":%1,"visitorsToday":%2,"pageViewsToday":%3,"liveWindowDescription":"now",)"
                          R"("hourly":[{"start":"2024-05-01T13:00:00Z","visitors":0},)"
                          R"({"start":"2024-05-01T14:00:00Z","visitors":%4}],"trackingInstalled":%5,"visitorsWeek":null,)"
                          R"("visitorsMonth":null,"visitorsAllTime":null,"countries":null,"recent":null})")
        .arg(live).arg(today).arg(views).arg(laterHour).arg(QLatin1String(tracking))
        .toUtf8();
}

Instant at(const char *iso)
{
    return *Instant::fromIso8601(QString::fromLatin1(iso));
}

QByteArray stateBody(const QByteArray &rest = R"("refreshInterval":60)")
{
    return R"({"websites":[{"id":"c0ffee00-1234-4abc-9def-0123456789ab","displayName":"Shop",)"
           R"("domain":"shop.example.net"}],)" + rest + "}";
}

// A stop that comes while the reply is under way.
std::stop_token stopSoon()
{
    auto source = std::make_shared<std::stop_source>();
    QTimer::singleShot(100ms, [source] { source->request_stop(); });
    return source->get_token();
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

    Outcome<AnalyticsSnapshot> fetch(const Website &website = site, std::stop_token stop = {})
    {
        const auto counted = [this] {
            ++tokenReads;
            return tokens();
        };
        return await(OrvelaAnalyticsProvider(counted, base, *manager, limits).fetchSnapshot(website, {}, stop));
    }

    std::optional<AnalyticsFailure> failure(std::stop_token stop = {})
    {
        return fetch(site, stop).errorAs<AnalyticsFailure>();
    }

    CloudflareSyncClient syncClient()
    {
        return CloudflareSyncClient(base, [this] { return tokens().value_or(QString()); }, *manager, limits);
    }

    std::optional<CloudSyncError> loadError(std::stop_token stop = {})
    {
        return await(syncClient().loadState(stop)).errorAs<CloudSyncError>();
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
        const QList<QPair<QString, QString>> paths{{"", "/v1/stats"}, {"/api/?website=old&x=1", "/api/v1/stats"}};
        for (const auto &[basePath, path] : paths) {
            base = QUrl(server->url().toString() + basePath);
            server->enqueue(Reply::json(200, statsBody));
            QVERIFY(fetch().value);
            server->enqueue(Reply::json(200, stateBody()));
            const auto loaded = await(syncClient().loadState({}));
            QVERIFY(loaded.value);
            QCOMPARE(*loaded.value, (CloudSyncState{{site}, std::nullopt, RefreshInterval::sixty, std::nullopt}));
            const auto requests = server->requests().mid(server->requests().size() - 2);
            QCOMPARE(requests[0].path, path);
            QCOMPARE(requests[0].query.queryItems(),
                     (QList<QPair<QString, QString>>{{"website", "c0ffee00-1234-4abc-9def-0123456789ab"}, {"offset", "-210"}}));
            QCOMPARE(requests[1].path, QStringLiteral("/v1/state"));
            QVERIFY(requests[1].query.isEmpty());
            for (const auto &request : requests) {
                QCOMPARE(request.method, QByteArray("GET"));
                QCOMPARE(request.header("Authorization"), QByteArray("Bearer secret-token"));
                QCOMPARE(request.header("Accept"), QByteArray("application/json"));
                QVERIFY(!request.headers.contains("content-type"));
                QVERIFY(request.body.isEmpty());
            }
        }
    }

    void theSnapshot()
    {
        // The reply says trackingInstalled false, but traffic was seen.
        const AnalyticsSnapshot full{3, 41, 97,
            QList<HourlyVisitorCount>{{at("2024-05-01T13:00:00Z"), 7}, {at("2024-05-01T12:00:00Z"), 9007199254740993}},
            "last 5 minutes", {}, true, 300, 1200, 50000, {{"DE", 20}, {"US", 11}},
            {{"v1", "FR", "https://news.example.org/x", {"/", "/pricing"}, {"Sign up"}, 93, at("2024-05-01T13:58:20Z")}}};
        const AnalyticsSnapshot bare{0, 0, 0,
            QList<HourlyVisitorCount>{{at("2024-05-01T13:00:00Z"), 0}, {at("2024-05-01T14:00:00Z"), 0}}, "now"};

        for (const auto &[body, expected] : {std::pair{statsBody, full}, std::pair{bareStats(0, 0, 0, 0), bare}}) {
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
    }

    // Nothing seen and no flag: theSnapshot's bare reply.
    void trackingInstalled()
    {
        const std::tuple<const char *, QByteArray, bool> rows[] = {
            {"a visitor in a later hour", bareStats(0, 0, 0, 1), true},
            {"a live visitor", bareStats(1, 0, 0, 0), true},
            {"visitors today", bareStats(0, 1, 0, 0), true},
            {"page views alone", bareStats(0, 0, 2, 0), true},
            {"reported, no traffic", bareStats(0, 0, 0, 0, "true"), true},
            {"reported false, no traffic", bareStats(0, 0, 0, 0, "false"), false},
            {"negative totals", bareStats(-1, -5, 0, 0), false},
        };
        for (const auto &[name, body, expected] : rows) {
            server->enqueue(Reply::json(200, body));
            const auto outcome = fetch();
            QVERIFY2(outcome.value && outcome.value->trackingInstalled == expected, name);
        }
    }

    void theExampleWebsiteAsksNobody()
    {
        tokens = []() -> std::optional<QString> { throw KeychainStoreError::status(-1); };
        base = ScriptedServer().url();
        const auto outcome = fetch({QUuid::createUuid(), "Example", "example.com", std::nullopt});
        QVERIFY(outcome.value);
        QCOMPARE(*outcome.value, ExampleWebsite::exampleSnapshot(outcome.value->refreshedAt));
        QCOMPARE(tokenReads, 0);
    }

    void tokenProblemsSendNothing()
    {
        const std::tuple<const char *, Tokens, AnalyticsFailure> rows[] = {
            {"none stored", [] { return std::optional<QString>(); }, AnalyticsFailure::notConfigured},
            {"blank", [] { return std::optional<QString>(" \n\t"); }, AnalyticsFailure::notConfigured},
            {"keychain failure", []() -> std::optional<QString> { throw KeychainStoreError::unreadable(); },
             AnalyticsFailure::credentialsUnreadable},
            {"a failure of our own", []() -> std::optional<QString> { throw AnalyticsFailure::offline; },
             AnalyticsFailure::offline},
        };
        for (const auto &[name, rowTokens, expected] : rows) {
            tokens = rowTokens;
            tokenReads = 0;
            QVERIFY2(failure() == expected && tokenReads == 1, name);
            // The sync client has its own word for a missing token and hands on what the keychain threw.
            const auto synced = await(syncClient().saveState(CloudSyncState{}, {}));
            if (expected == AnalyticsFailure::notConfigured)
                QVERIFY2(synced.errorAs<CloudSyncError>() == CloudSyncError::missingToken, name);
            if (expected == AnalyticsFailure::credentialsUnreadable)
                QVERIFY2(synced.errorAs<KeychainStoreError>() == KeychainStoreError::unreadable(), name);
        }
        QVERIFY(server->requests().isEmpty());
    }

    void statuses()
    {
        // A readable document in the body changes nothing.
        for (int status : {400, 401, 201, 204, 403, 404, 409, 429, 500, 503}) {
            server->enqueue(Reply::json(status, statsBody));
            QVERIFY2(failure() == (status == 401 ? AnalyticsFailure::invalidCredentials : AnalyticsFailure::unavailable),
                     QByteArray::number(status));
            server->enqueue(Reply::json(status, stateBody()));
            const auto syncError = status == 400   ? CloudSyncError::malformedResponse
                                   : status == 401 ? CloudSyncError::unauthorized
                                                   : CloudSyncError::server;
            QVERIFY2(loadError() == syncError, QByteArray::number(status));
        }
    }

    void statsBodiesThatAreNoSnapshot()
    {
        // Changes to statsBody; without a text to replace, the whole body.
        const char *edits[][3] = {
            {"html", nullptr, "<html><body>Bad gateway</body></html>"},
            {"empty", nullptr, ""},
            {"an array", nullptr, "[]"},
            {"count missing", R"("liveVisitors": 3, )", ""},
            {"description missing", R"("liveWindowDescription": "last 5 minutes",)", ""},
            // The array stays behind under another key.
            {"hourly null", R"("hourly": [)", R"("hourly": null, "x": [)"},
            {"countries an object", R"("countries": [)", R"("countries": {}, "x": [)"},
            {"count as text", R"("visitorsToday": 41)", R"("visitorsToday": "41")"},
            {"fractional count", R"("pageViewsToday": 97)", R"("pageViewsToday": 97.5)"},
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
            QVERIFY2(failure() == AnalyticsFailure::malformedResponse, name);
        }
    }

    void stateBodies()
    {
        // Without an error: read, with neither selection nor time.
        const std::tuple<const char *, QByteArray, std::optional<CloudSyncError>> rows[] = {
            {"null selection, no time", stateBody(R"("selectedWebsiteID":null,"refreshInterval":120)"), {}},
            {"unknown keys", stateBody(R"("refreshInterval":30,"theme":"dark")"), {}},
            {"not JSON", "upstream connect error", CloudSyncError::malformedResponse},
            {"interval 45", stateBody(R"("refreshInterval":45)"), CloudSyncError::malformedResponse},
            {"interval fractional", stateBody(R"("refreshInterval":60.5)"), CloudSyncError::malformedResponse},
            {"interval missing", stateBody(R"("selectedWebsiteID":null)"), CloudSyncError::malformedResponse},
            {"fractional seconds", stateBody(R"("refreshInterval":60,"updatedAt":"2025-01-31T08:05:00.250Z")"),
             CloudSyncError::malformedResponse},
            {"selection a number", stateBody(R"("refreshInterval":60,"selectedWebsiteID":7)"),
             CloudSyncError::malformedResponse},
            {"website without domain",
             R"({"websites":[{"id":"c0ffee00-1234-4abc-9def-0123456789ab","displayName":"Shop"}],"refreshInterval":60})",
             CloudSyncError::malformedResponse},
        };
        for (const auto &[name, body, expected] : rows) {
            server->enqueue(Reply::json(200, body));
            const auto outcome = await(syncClient().loadState({}));
            QVERIFY2(outcome.errorAs<CloudSyncError>() == expected, name);
            QVERIFY2(expected || (!outcome.value->selectedWebsiteID && !outcome.value->updatedAt), name);
        }
    }

    void saveSendsTheStateWithoutItsTime()
    {
        server->enqueue(Reply::json(
            200, stateBody(R"("selectedWebsiteID":"c0ffee00-1234-4abc-9def-0123456789ab","refreshInterval":30,)"
                           R"("updatedAt":"2025-01-31T08:05:00Z")")));
        server->enqueue(Reply::json(200, stateBody()));

        CloudSyncState state{{site}, siteID, RefreshInterval::thirty, Instant::fromIso8601("2020-01-01T00:00:00Z")};
        const auto saved = await(syncClient().saveState(state, {}));
        QVERIFY(saved.value);
        QCOMPARE(saved.value->updatedAt, Instant::fromIso8601("2025-01-31T08:05:00Z"));
        QCOMPARE(saved.value->selectedWebsiteID, std::optional(siteID));
        state.selectedWebsiteID.reset();
        QVERIFY(await(syncClient().saveState(state, {})).value);

        const auto requests = server->requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].method, QByteArray("PUT"));
        QCOMPARE(requests[0].path, QStringLiteral("/v1/state"));
        QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(requests[0].header("Accept"), QByteArray("application/json"));
        const QJsonObject sent = QJsonDocument::fromJson(requests[0].body).object();
        QCOMPARE(sent.keys(), (QStringList{"refreshInterval", "selectedWebsiteID", "websites"}));
        QCOMPARE(sent["selectedWebsiteID"].toString(), QStringLiteral("C0FFEE00-1234-4ABC-9DEF-0123456789AB"));
        QCOMPARE(sent["refreshInterval"].toInteger(), 30);
        QCOMPARE(sent["websites"].toArray(), QJsonArray{site.toJson()});
        QCOMPARE(QJsonDocument::fromJson(requests[1].body).object().keys(), (QStringList{"refreshInterval", "websites"}));
    }

    void transferFailures()
    {
        ScriptedServer elsewhere;
        const std::tuple<const char *, Reply, TransferLimits, AnalyticsFailure, CloudSyncError> rows[] = {
            {"stopped midway", {200, "{\"partial\":", 0ms, Delivery::stall}, {}, AnalyticsFailure::cancelled,
             CloudSyncError::cancelled},
            {"dropped mid-body", {200, stateBody(), 0ms, Delivery::dropMidway}, {}, AnalyticsFailure::unavailable,
             CloudSyncError::server},
            {"oversized", Reply::json(200, stateBody()), {20s, stateBody().size() - 1},
             AnalyticsFailure::malformedResponse, CloudSyncError::malformedResponse},
            // The sync client counts a time-out as a failure of the service.
            {"slower than the time-out", {200, stateBody(), 1500ms}, {100ms}, AnalyticsFailure::timedOut,
             CloudSyncError::server},
            // The token is not handed on to another origin.
            {"redirect elsewhere", Reply::redirect(elsewhere.url().resolved(QUrl("/v1/stats"))), {},
             AnalyticsFailure::unavailable, CloudSyncError::server},
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

        base = ScriptedServer().url();  // refused
        QCOMPARE(failure(), AnalyticsFailure::unavailable);
        QCOMPARE(loadError(), CloudSyncError::server);
        base = QUrl("relative/base");
        QCOMPARE(failure(), AnalyticsFailure::unavailable);
        QCOMPARE(loadError(), CloudSyncError::server);
    }

    // Being offline cannot be staged on loopback.
    void offlineTransfers()
    {
        for (const auto code : {QNetworkReply::NetworkSessionFailedError, QNetworkReply::TemporaryNetworkFailureError,
                                QNetworkReply::BackgroundRequestNotAllowedError})
            QCOMPARE(cloudSyncErrorFrom(std::make_exception_ptr(TransferError{code})), CloudSyncError::offline);
    }
};

QTEST_GUILESS_MAIN(ClientsTest)
#include "ClientsTest.moc"
