#include "ScriptedServer.h"

#include <QTcpServer>
#include <csignal>
#include <condition_variable>
#include <deque>
#include <httplib.h>
#include <mutex>
#include <thread>

struct ScriptedServer::State {
    httplib::Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<Reply> script;
    QList<Request> requests;
    int clientsLeft = 0;
    bool stopping = false;

    void answer(const httplib::Request &request, httplib::Response &response);
};

namespace {

QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

}  // namespace

bool ScriptedServer::Request::hasHeader(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray ScriptedServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

void ScriptedServer::State::answer(const httplib::Request &request, httplib::Response &response)
{
    Request recorded;
    recorded.method = bytes(request.method);
    recorded.path = QString::fromStdString(request.path);
    const QByteArray target = bytes(request.target);
    if (const auto mark = target.indexOf('?'); mark >= 0)
        recorded.query = QUrlQuery(QString::fromUtf8(target.mid(mark + 1)));
    for (const auto &[key, value] : request.headers)
        recorded.headers.append({bytes(key), bytes(value)});
    recorded.body = bytes(request.body);

    Reply reply{500, "no scripted reply", "text/plain"};
    {
        std::unique_lock lock(mutex);
        requests.append(recorded);
        if (!script.empty()) {
            reply = script.front();
            script.pop_front();
        }
        // Waits on the condition so that stopping the server cuts the delay short.
        changed.wait_for(lock, reply.delay, [this] { return stopping; });
    }

    response.status = reply.status;
    for (const auto &[name, value] : reply.headers)
        response.set_header(name.toStdString(), value.toStdString());
    const auto type = reply.contentType.toStdString();
    const auto body = std::make_shared<QByteArray>(reply.body);
    switch (reply.delivery) {
    case Reply::Delivery::complete:
        response.set_content(body->toStdString(), type);
        break;
    case Reply::Delivery::dropMidway:
        response.set_content_provider(size_t(body->size()), type,
                                      [body](size_t offset, size_t, httplib::DataSink &sink) {
                                          if (offset > 0)
                                              return false;  // closes the connection short of the length
                                          return sink.write(body->constData(), size_t(body->size() / 2));
                                      });
        break;
    case Reply::Delivery::stall:
        // Gives up after a few seconds, so that a client that never leaves fails its test instead of hanging it.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        response.set_chunked_content_provider(type, [this, body, giveUp, sent = false](size_t, httplib::DataSink &sink) mutable {
            if (!sent) {
                sent = true;
                return sink.write(body->constData(), size_t(body->size()));
            }
            std::unique_lock lock(mutex);
            if (changed.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopping; })
                || std::chrono::steady_clock::now() > giveUp)
                return false;
            lock.unlock();
            // A write to a connection the client closed fails, at the latest the second time.
            if (!sink.write(" ", 1)) {
                lock.lock();
                ++clientsLeft;
                changed.notify_all();
                return false;
            }
            return true;
        });
        break;
    }
}

ScriptedServer::ScriptedServer()
    : m_state(std::make_unique<State>())
{
    // A client that leaves mid-reply must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    m_state->server.set_tcp_nodelay(true);
    // One request per connection, so stopping never waits for an idle client.
    m_state->server.set_keep_alive_max_count(1);
    const auto handler = [state = m_state.get()](const httplib::Request &request, httplib::Response &response) {
        state->answer(request, response);
    };
    m_state->server.Get(".*", handler);
    m_state->server.Put(".*", handler);
    m_state->server.Post(".*", handler);
    m_state->server.Delete(".*", handler);
    m_state->port = m_state->server.bind_to_any_port("127.0.0.1");
    m_state->thread = std::thread([state = m_state.get()] { state->server.listen_after_bind(); });
    // stop() does nothing to a server that is not running yet.
    while (!m_state->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ScriptedServer::~ScriptedServer()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->changed.notify_all();
    m_state->server.stop();
    m_state->thread.join();
}

QUrl ScriptedServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_state->port));
}

void ScriptedServer::enqueue(const Reply &reply)
{
    std::lock_guard lock(m_state->mutex);
    m_state->script.push_back(reply);
}

QList<ScriptedServer::Request> ScriptedServer::requests() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->requests;
}

bool ScriptedServer::waitForClientToLeave(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [this] { return m_state->clientsLeft > 0; });
}

quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
