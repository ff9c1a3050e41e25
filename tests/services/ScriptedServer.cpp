#include "ScriptedServer.h"

#include <condition_variable>
#include <csignal>
#include <deque>
#include <httplib.h>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

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

void ScriptedServer::State::answer(const httplib::Request &request, httplib::Response &response)
{
    Request recorded{QByteArray::fromStdString(request.method), QString::fromStdString(request.path)};
    if (const auto mark = request.target.find('?'); mark != std::string::npos)
        recorded.query = QUrlQuery(QString::fromStdString(request.target.substr(mark + 1)));
    for (const auto &[key, value] : request.headers)
        recorded.headers.insert(QByteArray::fromStdString(key).toLower(), QByteArray::fromStdString(value));
    recorded.body = QByteArray::fromStdString(request.body);

    Reply reply{500, "no scripted reply"};
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
    if (!reply.location.isEmpty())
        response.set_header("Location", reply.location.toEncoded().toStdString());
    // With a parameter, so that the server never compresses: a compressed stream would hold
    // back the bytes of a stalled reply.
    const char *type = "application/json; charset=utf-8";
    const auto body = std::make_shared<std::string>(reply.body.toStdString());
    if (reply.delivery == Delivery::complete) {
        response.set_content(*body, type);
    } else if (reply.delivery == Delivery::dropMidway) {
        response.set_content_provider(body->size(), type, [body](size_t offset, size_t, httplib::DataSink &sink) {
            // Closes the connection short of the announced length.
            return offset == 0 && sink.write(body->data(), body->size() / 2);
        });
    } else {
        // Gives up after a few seconds, so that a client that never leaves fails its test instead of hanging it.
        const auto giveUp = std::chrono::steady_clock::now() + 5s;
        response.set_chunked_content_provider(
            type, [this, body, giveUp, sent = false](size_t, httplib::DataSink &sink) mutable {
                if (!std::exchange(sent, true))
                    return sink.write(body->data(), body->size());
                std::unique_lock lock(mutex);
                if (changed.wait_for(lock, 10ms, [this] { return stopping; }) ||
                    std::chrono::steady_clock::now() > giveUp)
                    return false;
                // A write to a connection the client closed fails, at the latest the second time.
                if (sink.write(" ", 1))
                    return true;
                ++clientsLeft;
                changed.notify_all();
                return false;
            });
    }
}

ScriptedServer::ScriptedServer() : m_state(std::make_unique<State>())
{
    // A client that leaves mid-reply must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    auto &server = m_state->server;
    server.set_tcp_nodelay(true);
    // One request per connection, so stopping never waits for an idle client.
    server.set_keep_alive_max_count(1);
    const auto handler = [state = m_state.get()](const auto &request, auto &response) {
        state->answer(request, response);
    };
    server.Get(".*", handler).Put(".*", handler).Post(".*", handler).Delete(".*", handler);
    m_state->port = server.bind_to_any_port("127.0.0.1");
    m_state->thread = std::thread([&server] { server.listen_after_bind(); });
    // stop() does nothing to a server that is not running yet.
    while (!server.is_running())
        std::this_thread::sleep_for(1ms);
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
    if (!m_state->changed.wait_for(lock, timeout, [this] { return m_state->clientsLeft > 0; }))
        return false;
    --m_state->clientsLeft;
    return true;
}
