// The account-state endpoint and the tokens, against a real server and database file.
#include "ServerFixture.h"
#include "StateRules.h"
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
        const QByteArray everything = server.everythingStored();
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

    void badStatesAreRefusedAndChangeNothing_data()
    {
        QTest::addColumn<std::string>("body");
        QTest::addColumn<QString>("reason");  // part of the error message, when the service words it
        const auto row = [](const char *tag, const std::string &body, const QString &reason = {}) {
            QTest::newRow(tag) << body << reason;
        };
        const auto withWebsites = [](const QStringList &websites) {
            return "{\"websites\":[" + websites.join(u',').toStdString() + "],\"refreshInterval\":60}";
        };
        const auto website = [](const QString &id) {
            return "{\"id\":\"" + id + "\",\"displayName\":\"\",\"domain\":\"a.example\"}";
        };
        QStringList thousandAndOne;
        for (int i = 0; i <= StateRules::websiteLimit; ++i)
            thousandAndOne << website(QUuid::createUuid().toString(QUuid::WithoutBraces));
        const QString a = QString::fromStdString(siteA);

        // How the shared decoder reads each field is tested with the app's clients; here, that
        // what it refuses ends in a 400, and what only the service checks.
        row("unfinished", "{\"websites\": [");
        row("empty", "");
        row("no websites", "{\"refreshInterval\":60}");
        row("websites not a list", "{\"websites\":{},\"refreshInterval\":60}");
        row("website without id", withWebsites({"{\"displayName\":\"x\",\"domain\":\"a.b\"}"}));
        row("name not a text", withWebsites({"{\"id\":\"" + a + "\",\"displayName\":7,\"domain\":\"a.b\"}"}));
        row("unknown interval", "{\"websites\":[],\"refreshInterval\":45}",
            "\"refreshInterval\" must be 30, 60 or 120");
        row("nil id", withWebsites({website("00000000-0000-0000-0000-000000000000")}),
            "a website's \"id\" must not be the nil UUID");
        row("one id twice",
            withWebsites({website(a), website("0BADF00D-0000-4000-8000-000000000001"), website(a.toLower())}),
            "the website id " + a + " is listed more than once");
        row("too many websites", withWebsites(thousandAndOne),
            "a state may list at most 1000 websites; this one lists 1001");
    }

    void badStatesAreRefusedAndChangeNothing()
    {
        QFETCH(std::string, body);
        QFETCH(QString, reason);
        RunningServer server(start);
        const QString token = server.createToken();
        QCOMPARE(statusOf(server.put(token, validState)), 200);
        const auto stored = [&] { return bodyOf(server.client()->Get("/v1/state", bearer(token))); };
        const QByteArray before = stored();

        const auto result = server.put(token, body);
        QCOMPARE(statusOf(result), 400);
        const QJsonValue error = Json::parseObject(bodyOf(result)).value("error");
        QVERIFY(error.isString());
        if (!reason.isEmpty())
            QCOMPARE(error.toString(), reason);
        QCOMPARE(stored(), before);
        QCOMPARE(server.storage->listedSites().size(), 1);
    }

    // A thousand websites are fine, and those dropped from the list that never counted anything
    // leave no row behind; over 256 KiB a state is refused by its declared length, or, chunked,
    // cut at the limit before socket buffers have taken a few MiB more.
    void bigStates()
    {
        RunningServer server(start);
        const QString token = server.createToken();
        WireState state;
        for (int i = 0; i < StateRules::websiteLimit; ++i)
            state.websites.append({QUuid::createUuid(), {}, QStringLiteral("a.example"), std::nullopt});
        QCOMPARE(statusOf(server.put(token, state.encode().toStdString())), 200);
        QCOMPARE(server.sqlValue("SELECT count(*) FROM sites"), StateRules::websiteLimit);
        QCOMPARE(statusOf(server.put(token, validState)), 200);
        QCOMPARE(server.sqlValue("SELECT count(*) FROM sites"), 1);

        const auto stored = [&] { return bodyOf(server.client()->Get("/v1/state", bearer(token))); };
        const QByteArray before = stored();
        const auto declared = server.put(
            token, "{\"websites\":[],\"refreshInterval\":60,\"pad\":\"" + std::string(256 * 1024, 'x') + "\"}");
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
