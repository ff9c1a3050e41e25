#pragma once

#include "ConnectionLimits.h"
#include "Endpoints.h"
#include "PeerConnections.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>
#include <string>
#include <vector>

// The listening socket: takes each connection, counts it against its peer, and starts its
// Connection on the next of the io_contexts, each run by one thread.
class Listener
{
public:
    // What the connections use must outlive the io_context, which destroys the last of them.
    // The socket listens on the first context.
    Listener(std::vector<boost::asio::io_context *> contexts, Endpoints &endpoints, boost::asio::thread_pool &workers,
             const ConnectionLimits &limits, PeerConnections &peers);

    // Binds to host:port (port 0: any free port), listens, and returns the port. Throws ListenError.
    int bind(const std::string &host, int port);
    // Accepts until the socket is closed.
    boost::asio::awaitable<void> accept();
    void close();

private:
    std::vector<boost::asio::io_context *> m_contexts;
    std::size_t m_next = 0;
    Endpoints &m_endpoints;
    boost::asio::thread_pool &m_workers;
    const ConnectionLimits &m_limits;
    PeerConnections &m_peers;
    boost::asio::ip::tcp::acceptor m_acceptor;
};
