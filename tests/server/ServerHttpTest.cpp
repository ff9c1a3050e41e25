// The HTTP layer against clients that misbehave: slow, oversized, cut short, half-closed, or
// asking for ranges, each on raw sockets to a real server.
#include "PeerConnections.h"
#include "ServerFixture.h"
#include "WireState.h"
#include "WireStats.h"

#include <QtTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const qint64 start = utc("2024-05-07T12:00:00Z");
const QByteArray browser = "User-Agent: Mozilla/5.0 (X11; Linux x86_64) Firefox/125.0\r\n";

const QByteArray pageview = QByteArray::fromStdString(eventBody("pageview", "/"));

// A connection driven byte by byte, with nothing of an HTTP library in between.
class RawClient
{
public:
    explicit RawClient(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("cannot connect to the server");
    }
    ~RawClient() { close(m_fd); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t sent = ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += sent;
        }
        return true;
    }

    void halfClose() { shutdown(m_fd, SHUT_WR); }

    // Takes what has arrived within `wait`; false once the server has closed the connection.
    bool receive(std::chrono::milliseconds wait)
    {
        pollfd ready{m_fd, POLLIN, 0};
        if (poll(&ready, 1, int(wait.count())) <= 0)
            return !m_closed;
        char chunk[16384];
        const ssize_t got = recv(m_fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            m_closed = true;
        else
            m_received.append(chunk, got);
        return !m_closed;
    }

    // The status of the first answer whose head arrived within `wait`, or -1.
    int status(std::chrono::milliseconds wait = 15s)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (!m_received.contains("\r\n\r\n") && !m_closed && std::chrono::steady_clock::now() < deadline)
            receive(100ms);
        return m_received.startsWith("HTTP/1.") && m_received.contains("\r\n\r\n") ? m_received.mid(9, 3).toInt() : -1;
    }

private:
    int m_fd;
    QByteArray m_received;
    bool m_closed = false;
};

// A server with one account whose state lists the site as "Before".
struct Service {
    RunningServer server;
    QString token;

    explicit Service(HttpService::Options options = {}) : server(start, options), token(server.createToken())
    {
        QCOMPARE(statusOf(server.put(token, stateWith(siteId, QStringLiteral("Before")))), 200);
    }

    QByteArray withToken(QByteArray request) const { return request.replace("TOKEN", token.toUtf8()); }

    QString storedName() const
    {
        const auto state = WireState::decode(bodyOf(server.client()->Get("/v1/state", bearer(token))));
        return state.websites.isEmpty() ? QString() : state.websites.first().displayName;
    }

    httplib::Result stats() const
    {
        return server.client()->Get("/v1/stats?website=" + std::string(siteId) + "&offset=0", bearer(token));
    }

    qint64 pageViews() const { return WireStats::decode(bodyOf(stats())).pageViewsToday; }
};

const HttpService::Options shortDeadlines{.limits = {.headerTimeout = 1s, .bodyTimeout = 1s, .idleTimeout = 300ms}};

QByteArray putRequest(const QByteArray &body, qsizetype declared)
{
    return "PUT /v1/state HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer TOKEN\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
        QByteArray::number(declared) + "\r\n\r\n" + body;
}

QByteArray eventRequest(const QByteArray &body, qsizetype declared)
{
    return "POST /v1/event HTTP/1.1\r\nHost: x\r\n" + browser +
        "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(declared) + "\r\n\r\n" + body;
}

const QByteArray plainGet = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";

}  // namespace

class ServerHttpTest : public QObject
{
    Q_OBJECT

private slots:
    void slowConnectionsDelayNobody()
    {
        Service service;
        // More trickling connections than a server with a thread per connection has threads.
        std::vector<std::unique_ptr<RawClient>> slow;
        for (int i = 0; i < 40; ++i) {
            slow.push_back(std::make_unique<RawClient>(service.server.port));
            slow.back()->send("GET /healthz HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        }
        std::atomic<bool> done = false;
        std::thread trickle([&] {
            while (!done) {
                for (auto &client : slow)
                    client->send("a");
                std::this_thread::sleep_for(300ms);
            }
        });
        auto client = service.server.client();
        const auto health = client->Get("/healthz");
        const auto event = client->Post("/v1/event", {{"User-Agent", "Mozilla/5.0 (X11) Firefox/125.0"}},
                                        pageview.toStdString(), "text/plain");
        const auto stats = service.stats();
        done = true;
        trickle.join();
        QCOMPARE(statusOf(health), 200);
        QCOMPARE(statusOf(event), 202);
        QCOMPARE(statusOf(stats), 200);
        QCOMPARE(WireStats::decode(bodyOf(stats)).pageViewsToday, 1);
    }

    void oversizedHeadersAreRefusedEarly_data()
    {
        QTest::addColumn<QByteArray>("opening");
        QTest::addColumn<QByteArray>("repeated");
        QTest::addColumn<int>("times");
        QTest::newRow("150 fields") << QByteArray() << QByteArray("X-Field: 1\r\n") << 150;
        QTest::newRow("20 KiB of fields") << QByteArray() << "X-Field: " + QByteArray(400, 'v') + "\r\n" << 50;
        QTest::newRow("a 48 MiB line") << QByteArray("X-Long: ") << QByteArray(64 * 1024, 'v') << 768;
        QTest::newRow("48 MiB of short fields") << QByteArray() << QByteArray("X-F: v\r\n").repeated(8192) << 768;
    }

    void oversizedHeadersAreRefusedEarly()
    {
        QFETCH(QByteArray, opening);
        QFETCH(QByteArray, repeated);
        QFETCH(int, times);
        Service service;
        RawClient client(service.server.port);
        qsizetype sent = 0;
        bool sending = client.send("GET /healthz HTTP/1.1\r\nHost: x\r\n" + opening);
        for (int i = 0; sending && i < times; ++i) {
            sending = client.send(repeated);
            sent += sending ? repeated.size() : 0;
        }
        if (sending)
            client.send("\r\n\r\n");
        QCOMPARE(client.status(), 431);
        // The server stops reading at the limit: what was sent beyond it went into socket buffers.
        QVERIFY2(sent < qsizetype(24) << 20, QByteArray::number(sent).constData());
    }

    void rawRequestsAreAnswered_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("halfClose");
        QTest::addColumn<bool>("closes");          // the server ends the connection on its own
        QTest::addColumn<QByteArray>("trickled");  // sent every 100 ms until it does
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("pageViews");
        const auto row = [](const char *tag, const QByteArray &request, bool halfClose, bool closes,
                            const QByteArray &trickled, int status, const QString &stored = "Before",
                            int pageViews = 0) {
            QTest::newRow(tag) << request << halfClose << closes << trickled << status << stored << pageViews;
        };
        const QByteArray state = QByteArray::fromStdString(stateWith(siteId, "After"));
        const QByteArray shortState = "{\"websites\":[],\"refreshInterval\":60}";
        row("headers trickled", "GET /healthz HTTP/1.1\r\nHost: x\r\nX-Slow: ", false, true, "a", 408);
        row("a body trickled", putRequest("{", 1000), false, true, " ", 400);
        row("an idle kept-alive connection", plainGet, false, true, {}, 200);
        row("a half-closed GET", plainGet, true, false, {}, 200);
        row("a half-closed PUT", putRequest(state, state.size()), true, false, {}, 200, "After");
        row("a half-closed event", eventRequest(pageview, pageview.size()), true, false, {}, 202, "Before", 1);
        row("a PUT that stalls", putRequest(shortState, shortState.size() + 50), false, false, {}, 400);
        row("a PUT cut short", putRequest(shortState, shortState.size() + 50), true, false, {}, 400);
        row("an event that stalls", eventRequest(pageview, pageview.size() + 20), false, false, {}, 400);
        row("an event cut short", eventRequest(pageview, pageview.size() + 20), true, false, {}, 400);
    }

    void rawRequestsAreAnswered()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, halfClose);
        QFETCH(bool, closes);
        QFETCH(QByteArray, trickled);
        QFETCH(int, status);
        QFETCH(QString, stored);
        QFETCH(int, pageViews);
        Service service(shortDeadlines);
        RawClient client(service.server.port);
        QVERIFY(client.send(service.withToken(request)));
        if (halfClose)
            client.halfClose();
        // A byte every 100 ms, far inside any gap between bytes a server might allow, for
        // several times the 1 s deadline.
        const auto giveUp = std::chrono::steady_clock::now() + 8s;
        while (closes && client.receive(100ms) && std::chrono::steady_clock::now() < giveUp)
            client.send(trickled);
        QVERIFY2(!closes || !client.receive(0ms), "the connection is still open");
        QCOMPARE(client.status(), status);
        QCOMPARE(service.storedName(), stored);
        QCOMPARE(service.pageViews(), pageViews);
    }

    void rangesAreIgnored_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("range");
        std::string many = "bytes=";
        for (int i = 0; i < 900; ++i)
            many += std::to_string(i) + "-" + std::to_string(i) + ",";
        many.pop_back();
        QTest::newRow("script, one range") << "/script.js" << QStringLiteral("bytes=0-10");
        QTest::newRow("script, 900 ranges") << "/script.js" << QString::fromStdString(many);
        QTest::newRow("health") << "/healthz" << QStringLiteral("bytes=2-5");
        QTest::newRow("state") << "/v1/state" << QStringLiteral("bytes=0-0");
    }

    void rangesAreIgnored()
    {
        QFETCH(QString, path);
        QFETCH(QString, range);
        Service service;
        auto client = service.server.client();
        const auto whole = client->Get(path.toStdString(), bearer(service.token));
        httplib::Headers headers = bearer(service.token);
        headers.emplace("Range", range.toStdString());
        const auto ranged = client->Get(path.toStdString(), headers);
        QCOMPARE(statusOf(ranged), 200);
        QVERIFY(!ranged->has_header("Content-Range"));
        QCOMPARE(bodyOf(ranged), bodyOf(whole));
    }

    void connectionsAreCountedPerPeer_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("steps");     // addresses to admit, or "-N" to close step N's connection
        QTest::addColumn<QString>("admitted");  // y or n for each address
        const auto row = [](const char *tag, int limit, const QString &steps, const QString &admitted) {
            QTest::newRow(tag) << limit << steps << admitted;
        };
        row("one address", 2, "192.0.2.1 192.0.2.1 192.0.2.1 192.0.2.2", "yyny");
        row("a closed connection frees its place", 2, "192.0.2.1 192.0.2.1 -0 192.0.2.1 192.0.2.1", "yyyn");
        row("IPv4 however the socket sees it", 2, "192.0.2.1 ::ffff:192.0.2.1 192.0.2.1", "yyn");
        row("IPv6 by its /64", 2, "2001:db8::1 2001:db8::ffff:2 2001:db8::3 2001:db8:0:1::1", "yyny");
        row("loopback is not counted", 1, "127.0.0.1 127.0.0.1 127.0.0.2 ::1 ::1 ::ffff:127.0.0.1 ::ffff:127.0.0.1",
            "yyyyyyy");
        row("no limit", 0, "192.0.2.1 192.0.2.1 192.0.2.1", "yyy");
    }

    void connectionsAreCountedPerPeer()
    {
        QFETCH(int, limit);
        QFETCH(QString, steps);
        QFETCH(QString, admitted);
        PeerConnections peers(limit);
        std::vector<std::optional<PeerConnections::Ticket>> tickets;
        QString outcome;
        for (const QString &step : steps.split(u' ')) {
            if (step.startsWith(u'-')) {
                tickets.at(step.mid(1).toInt()).reset();
                tickets.emplace_back();
                continue;
            }
            tickets.push_back(peers.admit(boost::asio::ip::make_address(step.toStdString())));
            outcome += tickets.back() ? u'y' : u'n';
        }
        QCOMPARE(outcome, admitted);
    }
};

QTEST_GUILESS_MAIN(ServerHttpTest)
#include "ServerHttpTest.moc"
