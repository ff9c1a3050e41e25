// The account-state endpoint and the tokens, against a real server and database file.
#include "ServerFixture.h"
#include "WireState.h"

#include <QFile>
#include <QtTest>
#include <map>
#include <thread>

namespace {

const qint64 start = utc("2024-05-07T10:00:00Z");

const std::string siteA = "C0FFEE00-1234-4ABC-9DEF-0123456789AB";
const std::string validState = "{\"websites\":[{\"id\":\"" + siteA +
                               "\",\"displayName\":\"\",\"domain\":\"shop.example.net\"}],\"selectedWebsiteID\":\"" + siteA +
                               "\",\"refreshInterval\":30}";

std::optional<Instant> at(qint64 seconds)
{
    return Instant::fromUnixSeconds(double(seconds));
}

}  // namespace

class ServerStateTest : public QObject
{
    Q_OBJECT

private slots:
    void eachAccountHasItsStateAndOnlyItsTokenHash()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        const QString other = server.createToken();
        const auto load = [&](const httplib::Headers &headers) { return server.client()->Get("/v1/state", headers); };
        const QJsonObject neverWritten{{"websites", QJsonArray()}, {"refreshInterval", 60}};
        QCOMPARE(Json::parseObject(bodyOf(load(bearer(token)))), neverWritten);

        WireState expected = WireState::decode(QByteArray::fromStdString(validState));
        expected.updatedAt = at(start);
        QCOMPARE(WireState::decode(bodyOf(server.put(token, validState))), expected);
        QCOMPARE(WireState::decode(bodyOf(load(bearer(token)))), expected);
        QCOMPARE(Json::parseObject(bodyOf(load(bearer(other)))), neverWritten);

        // Surrounding blanks are not part of a token; anything else unknown is refused.
        QCOMPARE(statusOf(load({{"Authorization", "Bearer  " + token.toStdString() + " "}})), 200);
        QCOMPARE(statusOf(load({})), 401);
        QCOMPARE(statusOf(load(bearer(QStringLiteral("orv_not-a-token")))), 401);
        QCOMPARE(statusOf(server.put(QStringLiteral("nope"), validState)), 401);

        // Only the hash of a token is stored.
        QByteArray everything;
        for (const QString suffix : {"", "-wal", "-shm"}) {
            QFile file(server.databasePath() + suffix);
            if (file.open(QIODevice::ReadOnly))
                everything += file.readAll();
        }
        QVERIFY(everything.contains(QByteArray::fromStdString(siteA)));  // the state is there
        QVERIFY(everything.contains(Tokens::hash(token)));
        QVERIFY(!everything.contains(token.toUtf8()));
        QVERIFY(!everything.contains(token.mid(4, 16).toUtf8()));

        // The clock has not moved: the next save is still strictly later.
        QCOMPARE(WireState::decode(bodyOf(server.put(token, stateWith(siteA)))).updatedAt, at(start + 1));
        // An updatedAt sent by a client is not taken.
        *server.now = start + 100;
        const auto clientTime =
            server.put(token, "{\"websites\":[],\"refreshInterval\":60,\"updatedAt\":\"2030-01-01T00:00:00Z\"}");
        QCOMPARE(WireState::decode(bodyOf(clientTime)).updatedAt, at(start + 100));
    }

    void badStatesAreRefusedAndChangeNothing()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        QCOMPARE(statusOf(server.put(token, validState)), 200);
        const auto stored = [&] { return bodyOf(server.client()->Get("/v1/state", bearer(token))); };
        const QByteArray before = stored();

        // How the shared decoder reads each field is tested with the app's clients; here, that
        // what it refuses, and the interval only the server checks, ends in a 400.
        using namespace std::string_literals;
        const auto withWebsite = [](const std::string &fields) {
            return "{\"websites\":[{" + fields + "}],\"refreshInterval\":60}";
        };
        for (const std::string &body :
             {"{\"websites\": ["s, ""s, "{\"refreshInterval\":60}"s, "{\"websites\":{},\"refreshInterval\":60}"s,
              "{\"websites\":[],\"refreshInterval\":45}"s, withWebsite("\"displayName\":\"x\",\"domain\":\"a.b\""),
              withWebsite("\"id\":\"" + siteA + "\",\"displayName\":7,\"domain\":\"a.b\"")}) {
            const auto result = server.put(token, body);
            QVERIFY2(statusOf(result) == 400 && Json::parseObject(bodyOf(result)).value("error").isString(), body.c_str());
        }

        // Over 256 KiB: refused by its declared length, or, chunked, cut at the limit before
        // socket buffers have taken a few MiB more.
        const auto declared = server.put(token, "{\"websites\":[],\"refreshInterval\":60,\"pad\":\"" +
                                                    std::string(256 * 1024, 'x') + "\"}");
        QVERIFY2(answeredOrCut(declared, 400), httplib::to_string(declared.error()).c_str());
        size_t sent = 0;
        const auto chunked = server.client()->Put(
            "/v1/state", bearer(token),
            [&](size_t, httplib::DataSink &sink) {
                const std::string piece(64 * 1024, ' ');
                sent += piece.size();
                return sent > size_t(64) << 20 ? (sink.done(), true) : sink.write(piece.data(), piece.size());
            },
            "application/json");
        QVERIFY2(answeredOrCut(chunked, 400), httplib::to_string(chunked.error()).c_str());
        QVERIFY2(sent < size_t(24) << 20, "the server went on reading the chunked body");
        QCOMPARE(stored(), before);
    }

    void concurrentSavesAreAllKeptInOrder()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        constexpr int threads = 8, savesEach = 6;
        std::mutex lock;
        std::map<qint64, QString> saves;  // updatedAt -> the name saved
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < savesEach; ++i) {
                    const auto result = server.put(token, stateWith(siteA, QStringLiteral("w%1-%2").arg(t).arg(i)));
                    if (statusOf(result) != 200)
                        continue;
                    const WireState state = WireState::decode(bodyOf(result));
                    std::lock_guard guard(lock);
                    saves.emplace(qint64(state.updatedAt->unixSeconds()), state.websites.first().displayName);
                }
            });
        }
        for (auto &worker : workers)
            worker.join();

        // The clock stood still, so every save got its own second, one after the other, and
        // what is stored is the save that was answered last.
        QCOMPARE(int(saves.size()), threads * savesEach);
        QCOMPARE(saves.begin()->first, start);
        QCOMPARE(saves.rbegin()->first, start + threads * savesEach - 1);
        const WireState stored = WireState::decode(bodyOf(server.client()->Get("/v1/state", bearer(token))));
        QCOMPARE(stored.websites.first().displayName, saves.rbegin()->second);
        QCOMPARE(stored.updatedAt, at(saves.rbegin()->first));
    }
};

QTEST_GUILESS_MAIN(ServerStateTest)
#include "ServerStateTest.moc"
