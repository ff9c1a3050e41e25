// The account-state endpoint and the tokens, against a real server and database file.
#include "ServerFixture.h"
#include "WireState.h"

#include <QFile>
#include <QtTest>
#include <set>
#include <thread>

namespace {

const qint64 start = utc("2024-05-07T10:00:00Z");

const std::string siteA = "C0FFEE00-1234-4ABC-9DEF-0123456789AB";
const std::string validState = "{\"websites\":[{\"id\":\"" + siteA +
                               "\",\"displayName\":\"\",\"domain\":\"shop.example.net\"}],\"selectedWebsiteID\":\"" + siteA +
                               "\",\"refreshInterval\":30}";

}  // namespace

class ServerStateTest : public QObject
{
    Q_OBJECT

private slots:
    void neverWrittenStateAndRoundTrip()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        auto client = server.client();

        auto result = client->Get("/v1/state", bearer(token));
        QCOMPARE(statusOf(result), 200);
        QCOMPARE(Json::parseObject(bodyOf(result)), (QJsonObject{{"websites", QJsonArray()}, {"refreshInterval", 60}}));

        result = server.put(token, validState);
        QCOMPARE(statusOf(result), 200);
        const WireState saved = WireState::decode(bodyOf(result));
        QCOMPARE(saved.updatedAt, Instant::fromUnixSeconds(double(start)));
        QCOMPARE(saved.websites.size(), 1);
        QCOMPARE(saved.websites.first().displayName, QString());
        QCOMPARE(saved.refreshInterval, 30);
        result = client->Get("/v1/state", bearer(token));
        QCOMPARE(statusOf(result), 200);
        QCOMPARE(WireState::decode(bodyOf(result)), saved);

        // The clock has not moved: the next save is still strictly later.
        result = server.put(token, stateWith(siteA, QStringLiteral("Shop")));
        QCOMPARE(WireState::decode(bodyOf(result)).updatedAt, Instant::fromUnixSeconds(double(start + 1)));
        // An updatedAt sent by a client is not taken.
        *server.now = start + 100;
        result = server.put(token, "{\"websites\":[],\"refreshInterval\":60,\"updatedAt\":\"2030-01-01T00:00:00Z\"}");
        QCOMPARE(WireState::decode(bodyOf(result)).updatedAt, Instant::fromUnixSeconds(double(start + 100)));
    }

    void badStatesAreRefusedAndChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        const QByteArray site = QByteArray::fromStdString(siteA);
        const auto withWebsite = [](const QByteArray &fields) {
            return "{\"websites\":[{" + fields + "}],\"refreshInterval\":60}";
        };
        QTest::newRow("not JSON") << QByteArray("{\"websites\": [");
        QTest::newRow("an array") << QByteArray("[]");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("no websites") << QByteArray("{\"refreshInterval\":60}");
        QTest::newRow("no interval") << QByteArray("{\"websites\":[]}");
        QTest::newRow("unknown interval") << QByteArray("{\"websites\":[],\"refreshInterval\":45}");
        QTest::newRow("interval as text") << QByteArray("{\"websites\":[],\"refreshInterval\":\"60\"}");
        QTest::newRow("fractional interval") << QByteArray("{\"websites\":[],\"refreshInterval\":60.5}");
        QTest::newRow("websites not a list") << QByteArray("{\"websites\":{},\"refreshInterval\":60}");
        QTest::newRow("website without id") << withWebsite("\"displayName\":\"x\",\"domain\":\"a.b\"");
        QTest::newRow("id not a UUID") << withWebsite("\"id\":\"shop\",\"displayName\":\"x\",\"domain\":\"a.b\"");
        QTest::newRow("name a number") << withWebsite("\"id\":\"" + site + "\",\"displayName\":7,\"domain\":\"a.b\"");
        QTest::newRow("website without domain") << withWebsite("\"id\":\"" + site + "\",\"displayName\":\"x\"");
        QTest::newRow("selection not a UUID") << QByteArray("{\"websites\":[],\"refreshInterval\":60,\"selectedWebsiteID\":5}");
        QTest::newRow("updatedAt with fractions")
            << QByteArray("{\"websites\":[],\"refreshInterval\":60,\"updatedAt\":\"2024-05-01T13:00:00.5Z\"}");
        QTest::newRow("over 256 KiB") << QByteArray("{\"websites\":[],\"refreshInterval\":60,\"pad\":\"") +
                                             QByteArray(256 * 1024, 'x') + QByteArray("\"}");
    }

    void badStatesAreRefusedAndChangeNothing()
    {
        QFETCH(QByteArray, body);
        RunningServer server(start);
        const QString token = server.createToken();
        QCOMPARE(statusOf(server.put(token, validState)), 200);
        const QByteArray before = bodyOf(server.client()->Get("/v1/state", bearer(token)));

        const auto result = server.put(token, body.toStdString());
        QCOMPARE(statusOf(result), 400);
        QVERIFY(Json::parseObject(bodyOf(result)).value("error").isString());
        QCOMPARE(bodyOf(server.client()->Get("/v1/state", bearer(token))), before);
    }

    void oversizedBodiesAreRefusedUnread()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        // A declared length over the limit is answered before any of the body is sent.
        httplib::Headers headers = bearer(token);
        headers.emplace("Content-Length", std::to_string(1 << 30));
        QCOMPARE(statusOf(server.client()->Put("/v1/state", headers, std::string(), "application/json")), 400);

        // A chunked body is cut at the limit: the client either sees the 400 or can no longer
        // write, once socket buffers have taken a few MiB more.
        size_t sent = 0;
        const auto chunked = server.client()->Put(
            "/v1/state", bearer(token),
            [&](size_t, httplib::DataSink &sink) {
                const std::string piece(64 * 1024, ' ');
                sent += piece.size();
                return sent > size_t(64) << 20 ? (sink.done(), true) : sink.write(piece.data(), piece.size());
            },
            "application/json");
        QVERIFY2(statusOf(chunked) == 400 || chunked.error() == httplib::Error::Canceled ||
                     chunked.error() == httplib::Error::Write || chunked.error() == httplib::Error::Read,
                 httplib::to_string(chunked.error()).c_str());
        QVERIFY2(sent < size_t(24) << 20, "the server went on reading the chunked body");
        QCOMPARE(statusOf(server.client()->Get("/v1/state", bearer(token))), 200);
    }

    void tokensAreAccountsAndHashedAtRest()
    {
        RunningServer server(start);
        const QString first = server.createToken();
        const QString second = server.createToken();
        QVERIFY(first != second);
        auto client = server.client();
        QCOMPARE(statusOf(server.put(first, validState)), 200);
        QCOMPARE(WireState::decode(bodyOf(client->Get("/v1/state", bearer(second)))).websites.size(), 0);

        QCOMPARE(statusOf(client->Get("/v1/state")), 401);
        QCOMPARE(statusOf(client->Get("/v1/state", bearer(QStringLiteral("orv_not-a-token")))), 401);
        QCOMPARE(statusOf(client->Get("/v1/state", {{"Authorization", "Basic " + first.toStdString()}})), 401);
        QCOMPARE(statusOf(server.put(QStringLiteral("nope"), validState)), 401);
        // Surrounding blanks are not part of a token.
        QCOMPARE(statusOf(client->Get("/v1/state", {{"Authorization", "Bearer  " + first.toStdString() + " "}})), 200);

        // Only the hash of a token is stored.
        QByteArray everything;
        for (const QString suffix : {"", "-wal", "-shm"}) {
            QFile file(server.databasePath() + suffix);
            if (file.open(QIODevice::ReadOnly))
                everything += file.readAll();
        }
        QVERIFY(everything.contains(QByteArray::fromStdString(siteA)));  // the state is there
        QVERIFY(everything.contains(Tokens::hash(first)));
        QVERIFY(!everything.contains(first.toUtf8()));
        QVERIFY(!everything.contains(first.mid(4, 16).toUtf8()));

        // Revoked: the same token no longer opens anything.
        const QString prefix = QString::fromLatin1(Tokens::hash(first).toHex().left(12));
        QCOMPARE(runTokenCommand({CommandLine::Token::Action::revoke, prefix, server.folder.path()}, *server.storage, start)
                     .status,
                 0);
        QCOMPARE(statusOf(client->Get("/v1/state", bearer(first))), 401);
        QCOMPARE(statusOf(client->Get("/v1/state", bearer(second))), 200);
    }

    void concurrentSavesAreAllKeptInOrder()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        constexpr int threads = 8, savesEach = 6;
        std::mutex lock;
        std::vector<std::pair<qint64, QString>> replies;  // updatedAt, the name saved
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < savesEach; ++i) {
                    const auto result = server.put(token, stateWith(siteA, QStringLiteral("w%1-%2").arg(t).arg(i)));
                    if (statusOf(result) != 200)
                        continue;
                    const WireState state = WireState::decode(bodyOf(result));
                    std::lock_guard guard(lock);
                    replies.emplace_back(qint64(state.updatedAt->unixSeconds()), state.websites.first().displayName);
                }
            });
        }
        for (auto &worker : workers)
            worker.join();

        // The clock stood still, so every save got its own second, one after the other, and
        // what is stored is the save that was answered last.
        QCOMPARE(int(replies.size()), threads * savesEach);
        std::set<qint64> times;
        for (const auto &reply : replies)
            times.insert(reply.first);
        QCOMPARE(int(times.size()), threads * savesEach);
        QCOMPARE(*times.begin(), start);
        QCOMPARE(*times.rbegin(), start + threads * savesEach - 1);
        const auto latest = std::max_element(replies.begin(), replies.end());
        const WireState stored = WireState::decode(bodyOf(server.client()->Get("/v1/state", bearer(token))));
        QCOMPARE(stored.websites.first().displayName, latest->second);
        QCOMPARE(qint64(stored.updatedAt->unixSeconds()), latest->first);
    }
};

QTEST_GUILESS_MAIN(ServerStateTest)
#include "ServerStateTest.moc"
