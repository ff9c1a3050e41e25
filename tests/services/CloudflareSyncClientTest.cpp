// The account-state client against a real loopback server.
#include "AnalyticsFailure.h"
#include "AwaitTask.h"
#include "CloudflareSyncClient.h"
#include "CredentialStoring.h"
#include "NetworkTransfer.h"
#include "ScriptedServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;
using Delivery = ScriptedServer::Reply::Delivery;

namespace {

const QUuid siteID = QUuid::fromString(QStringLiteral("{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}"));
const Website site{siteID, "Blog", "blog.example.org", std::nullopt};

QByteArray stateBody(const QByteArray &rest)
{
    return R"({"websites":[{"id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d","displayName":"Blog",)"
           R"("domain":"blog.example.org"}],)" + rest + "}";
}

Instant at(const char *iso)
{
    return *Instant::fromIso8601(QString::fromLatin1(iso));
}

}  // namespace

class CloudflareSyncClientTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;

    CloudflareSyncClient client(CloudflareSyncClient::TokenProvider tokens = [] { return QStringLiteral("token"); },
                                QUrl base = {}, TransferLimits limits = {})
    {
        return CloudflareSyncClient(base.isEmpty() ? server->url() : base, std::move(tokens), *manager, limits);
    }

    static Outcome<CloudSyncState> load(CloudflareSyncClient syncClient, std::stop_token stop = {})
    {
        return await(syncClient.loadState(stop));
    }

    static std::optional<CloudSyncError> errorOf(const Outcome<CloudSyncState> &outcome)
    {
        return outcome.errorAs<CloudSyncError>();
    }

private slots:
    void init()
    {
        server = std::make_unique<ScriptedServer>();
        manager = std::make_unique<QNetworkAccessManager>();
    }

    void cleanup()
    {
        manager.reset();
        server.reset();
    }

    void loadSendsAPlainGet()
    {
        server->enqueue(ScriptedServer::Reply::json(200, stateBody(R"("refreshInterval":60)")));
        const QUrl base(server->url().toString() + QStringLiteral("/some/path?stale=1"));
        const auto outcome = load(client([] { return QStringLiteral("\n  sync-token  "); }, base));
        QVERIFY(outcome.value);
        QCOMPARE(*outcome.value, (CloudSyncState{{site}, std::nullopt, RefreshInterval::sixty, std::nullopt}));

        const auto request = server->requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QStringLiteral("/v1/state"));
        QVERIFY(request.query.isEmpty());
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer sync-token"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QVERIFY(!request.hasHeader("Content-Type"));
        QVERIFY(request.body.isEmpty());
    }

    void saveSendsTheStateWithoutItsTime()
    {
        server->enqueue(ScriptedServer::Reply::json(
            200, stateBody(R"("selectedWebsiteID":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d","refreshInterval":30,)"
                           R"("updatedAt":"2025-01-31T08:05:00Z")")));
        server->enqueue(ScriptedServer::Reply::json(200, stateBody(R"("refreshInterval":120)")));

        const CloudSyncState state{{site}, siteID, RefreshInterval::thirty, at("2020-01-01T00:00:00Z")};
        const auto saved = await(client().saveState(state, {}));
        QVERIFY(saved.value);
        QCOMPARE(saved.value->updatedAt, std::optional(at("2025-01-31T08:05:00Z")));
        QCOMPARE(saved.value->selectedWebsiteID, std::optional(siteID));

        CloudSyncState unselected = state;
        unselected.selectedWebsiteID.reset();
        QVERIFY(await(client().saveState(unselected, {})).value);

        const auto requests = server->requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].method, QByteArray("PUT"));
        QCOMPARE(requests[0].path, QStringLiteral("/v1/state"));
        QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(requests[0].header("Accept"), QByteArray("application/json"));
        const QJsonObject sent = QJsonDocument::fromJson(requests[0].body).object();
        QCOMPARE(sent.keys(), (QStringList{"refreshInterval", "selectedWebsiteID", "websites"}));
        QCOMPARE(sent["selectedWebsiteID"].toString(), QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"));
        QCOMPARE(sent["refreshInterval"].toInteger(), 30);
        QCOMPARE(sent["websites"].toArray(), QJsonArray{site.toJson()});

        const QJsonObject sentUnselected = QJsonDocument::fromJson(requests[1].body).object();
        QCOMPARE(sentUnselected.keys(), (QStringList{"refreshInterval", "websites"}));
    }

    void tokenProblemsSendNothing()
    {
        const auto blank = load(client([] { return QStringLiteral(" \r\n "); }));
        QCOMPARE(errorOf(blank), std::optional(CloudSyncError::missingToken));

        const auto none = load(client([]() -> QString { throw CloudSyncError::missingToken; }));
        QCOMPARE(errorOf(none), std::optional(CloudSyncError::missingToken));

        // The keychain's own error reaches the caller as it was thrown.
        const auto keychain = await(client([]() -> QString { throw KeychainStoreError::status(2); })
                                        .saveState(CloudSyncState{}, {}));
        QCOMPARE(keychain.errorAs<KeychainStoreError>(), std::optional(KeychainStoreError::status(2)));

        QVERIFY(server->requests().isEmpty());
    }

    void statuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<CloudSyncError>("expected");
        QTest::newRow("400") << 400 << CloudSyncError::malformedResponse;
        QTest::newRow("401") << 401 << CloudSyncError::unauthorized;
        for (int status : {201, 204, 403, 404, 409, 500, 503})
            QTest::addRow("%d", status) << status << CloudSyncError::server;
    }

    void statuses()
    {
        QFETCH(int, status);
        QFETCH(CloudSyncError, expected);
        server->enqueue(ScriptedServer::Reply::json(status, stateBody(R"("refreshInterval":60)")));
        QCOMPARE(errorOf(load(client())), std::optional(expected));
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("readable");
        QTest::newRow("null selection, no time") << stateBody(R"("selectedWebsiteID":null,"refreshInterval":120)")
                                                 << true;
        QTest::newRow("unknown keys") << stateBody(R"("refreshInterval":30,"theme":"dark")") << true;
        QTest::newRow("not JSON") << QByteArray("upstream connect error") << false;
        QTest::newRow("interval 45") << stateBody(R"("refreshInterval":45)") << false;
        QTest::newRow("interval missing") << stateBody(R"("selectedWebsiteID":null)") << false;
        QTest::newRow("fractional seconds") << stateBody(R"("refreshInterval":60,"updatedAt":"2025-01-31T08:05:00.250Z")")
                                            << false;
        QTest::newRow("website without domain")
            << QByteArray(R"({"websites":[{"id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d","displayName":"Blog"}],)"
                          R"("refreshInterval":60})")
            << false;
    }

    void replies()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, readable);
        server->enqueue(ScriptedServer::Reply::json(200, body));
        const auto outcome = load(client());
        if (readable) {
            QVERIFY(outcome.value);
            QCOMPARE(outcome.value->selectedWebsiteID, std::nullopt);
            QCOMPARE(outcome.value->updatedAt, std::nullopt);
        } else {
            QCOMPARE(errorOf(outcome), std::optional(CloudSyncError::malformedResponse));
        }
    }

    void transferFailures()
    {
        ScriptedServer::Reply stalled = ScriptedServer::Reply::json(200, "{\"websites\":[");
        stalled.delivery = Delivery::stall;
        server->enqueue(stalled);
        std::stop_source source;
        QTimer::singleShot(100ms, [&source] { source.request_stop(); });
        QCOMPARE(errorOf(load(client(), source.get_token())), std::optional(CloudSyncError::cancelled));
        QVERIFY(server->waitForClientToLeave(2s));

        // Unlike the stats client, a time-out is a failure of the service here.
        ScriptedServer::Reply slow = ScriptedServer::Reply::json(200, stateBody(R"("refreshInterval":60)"));
        slow.delay = 1500ms;
        server->enqueue(slow);
        TransferLimits quick;
        quick.timeout = 100ms;
        QCOMPARE(errorOf(load(client([] { return QStringLiteral("t"); }, {}, quick))),
                 std::optional(CloudSyncError::server));

        ScriptedServer::Reply cut = ScriptedServer::Reply::json(200, stateBody(R"("refreshInterval":60)"));
        cut.delivery = Delivery::dropMidway;
        server->enqueue(cut);
        QCOMPARE(errorOf(load(client())), std::optional(CloudSyncError::server));

        server->enqueue(ScriptedServer::Reply::json(200, stateBody(R"("refreshInterval":60)") + QByteArray(3000, ' ')));
        TransferLimits small;
        small.maxBodyBytes = 1024;
        QCOMPARE(errorOf(load(client([] { return QStringLiteral("t"); }, {}, small))),
                 std::optional(CloudSyncError::malformedResponse));

        const QUrl nowhere(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()));
        QCOMPARE(errorOf(load(client([] { return QStringLiteral("t"); }, nowhere))), std::optional(CloudSyncError::server));

        // The token is not handed on to another origin.
        ScriptedServer elsewhere;
        server->enqueue(ScriptedServer::Reply::redirect(elsewhere.url().resolved(QUrl("/v1/state"))));
        QCOMPARE(errorOf(load(client())), std::optional(CloudSyncError::server));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void transportClassification_data()
    {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<CloudSyncError>("expected");
        using E = QNetworkReply;
        const auto transfer = [](E::NetworkError code, bool stopped = false) {
            return std::make_exception_ptr(TransferError{code, std::nullopt, stopped});
        };
        QTest::newRow("no network") << transfer(E::NetworkSessionFailedError) << CloudSyncError::offline;
        QTest::newRow("connection lost") << transfer(E::TemporaryNetworkFailureError) << CloudSyncError::offline;
        QTest::newRow("data not allowed") << transfer(E::BackgroundRequestNotAllowedError) << CloudSyncError::offline;
        QTest::newRow("our stop") << transfer(E::OperationCanceledError, true) << CloudSyncError::cancelled;
        QTest::newRow("time-out") << transfer(E::OperationCanceledError) << CloudSyncError::server;
        QTest::newRow("socket time-out") << transfer(E::TimeoutError) << CloudSyncError::server;
        QTest::newRow("host not found") << transfer(E::HostNotFoundError) << CloudSyncError::server;
        QTest::newRow("task cancelled") << std::make_exception_ptr(TaskCancelled{}) << CloudSyncError::cancelled;
        QTest::newRow("already ours") << std::make_exception_ptr(CloudSyncError::unauthorized)
                                      << CloudSyncError::unauthorized;
        QTest::newRow("oversized") << std::make_exception_ptr(OversizedReply{10}) << CloudSyncError::malformedResponse;
        QTest::newRow("anything else") << std::make_exception_ptr(std::runtime_error("?")) << CloudSyncError::server;
    }

    void transportClassification()
    {
        QFETCH(std::exception_ptr, error);
        QFETCH(CloudSyncError, expected);
        QCOMPARE(cloudSyncErrorFrom(error), expected);
    }
};

QTEST_GUILESS_MAIN(CloudflareSyncClientTest)
#include "CloudflareSyncClientTest.moc"
