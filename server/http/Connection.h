#pragma once

#include "ConnectionLimits.h"
#include "Endpoints.h"
#include "PeerConnections.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <memory>
#include <string>

// One client's connection from its first byte to its close: each request read within its
// limits and deadlines, answered in order, and handed to the worker threads when its endpoint
// waits for the database.
class Connection
{
public:
    Connection(boost::asio::ip::tcp::socket socket, Endpoints &endpoints, boost::asio::thread_pool &workers,
               const ConnectionLimits &limits, PeerConnections::Ticket ticket);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Serves the connection until it ends; the coroutine owns it. Run it on the socket's
    // executor, whose context one thread runs.
    static boost::asio::awaitable<void> run(std::unique_ptr<Connection> connection);

private:
    struct Deadline;

    boost::asio::awaitable<bool> nextRequestArrives();
    // One request and its answer; false when the connection is to close.
    boost::asio::awaitable<bool> exchange();
    boost::asio::awaitable<HttpResponse> answer(Endpoints::Route route, const HttpRequest &request);
    boost::asio::awaitable<bool> send(HttpResponse response, unsigned version, bool headOnly, bool keepAlive);
    boost::asio::awaitable<void> refuse(int status, const QString &message, unsigned version = 11);
    boost::asio::awaitable<void> closeGracefully();
    void startDeadline(ConnectionLimits::Duration limit);
    bool endDeadline();  // whether it passed

    boost::beast::tcp_stream m_stream;
    boost::beast::flat_buffer m_buffer;
    Endpoints &m_endpoints;
    boost::asio::thread_pool &m_workers;
    const ConnectionLimits &m_limits;
    PeerConnections::Ticket m_ticket;
    std::string m_peer;
    boost::asio::steady_timer m_deadlineTimer;
    std::shared_ptr<Deadline> m_deadline;
};
