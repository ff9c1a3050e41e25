#include "Listener.h"

#include "Connection.h"
#include "ListenError.h"

#include <QString>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <cerrno>
#include <cstdio>

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

// Why a port cannot be had, in words.
std::string bindProblem(const error_code &error)
{
    switch (error.value()) {
    case EADDRINUSE: return "the port is already in use (is another orvela-server running?)";
    case EACCES: return "permission denied (ports below 1024 need privileges)";
    case EADDRNOTAVAIL: return "the address does not belong to this machine";
    default: return error.message();
    }
}

// A connection that failed before it was taken; the next one may do better.
bool clientGone(const error_code &error)
{
    const int code = error.value();
    return code == ECONNABORTED || code == EPROTO || code == EPERM;
}

}  // namespace

Listener::Listener(std::vector<asio::io_context *> contexts, Endpoints &endpoints, asio::thread_pool &workers,
                   const ConnectionLimits &limits, PeerConnections &peers)
    : m_contexts(std::move(contexts)),
      m_endpoints(endpoints),
      m_workers(workers),
      m_limits(limits),
      m_peers(peers),
      m_acceptor(*m_contexts.front())
{}

int Listener::bind(const std::string &host, int port)
{
    error_code error;
    const auto address = asio::ip::make_address(host, error);
    if (error)
        throw ListenError(host + " is not an IP address");
    const tcp::endpoint endpoint(address, asio::ip::port_type(port));
    // Only SO_REUSEADDR, so that a restart need not wait for old connections, but never
    // SO_REUSEPORT, which would let a second server share the port.
    if (m_acceptor.open(endpoint.protocol(), error) ||
        m_acceptor.set_option(tcp::acceptor::reuse_address(true), error) || m_acceptor.bind(endpoint, error) ||
        m_acceptor.listen(asio::socket_base::max_listen_connections, error)) {
        error_code ignored;
        m_acceptor.close(ignored);
        throw ListenError(bindProblem(error));
    }
    return m_acceptor.local_endpoint().port();
}

asio::awaitable<void> Listener::accept()
{
    bool starved = false;
    while (m_acceptor.is_open()) {
        // Each connection stays on one context, so that its handlers never run at once.
        asio::io_context &context = *m_contexts[m_next++ % m_contexts.size()];
        auto [error, socket] = co_await m_acceptor.async_accept(context, asio::as_tuple(asio::use_awaitable));
        if (error == asio::error::operation_aborted)
            co_return;
        if (error) {
            // Out of descriptors, most likely: the connection waits in the backlog until one is
            // free, and the failure is told once rather than in a loop.
            if (!clientGone(error)) {
                if (!starved)
                    std::fprintf(stderr, "orvela-server: cannot take more connections: %s\n", error.message().c_str());
                starved = true;
                asio::steady_timer pause(m_acceptor.get_executor(), std::chrono::milliseconds(100));
                co_await pause.async_wait(asio::use_awaitable);
            }
            continue;
        }
        starved = false;
        const auto peer = socket.remote_endpoint(error);
        if (error)
            continue;
        auto ticket = m_peers.admit(peer.address());
        if (!ticket)
            continue;
        socket.set_option(tcp::no_delay(true), error);
        const auto executor = socket.get_executor();
        auto connection =
            std::make_unique<Connection>(std::move(socket), m_endpoints, m_workers, m_limits, std::move(*ticket));
        asio::co_spawn(executor, Connection::run(std::move(connection)), [](std::exception_ptr failure) {
            try {
                if (failure)
                    std::rethrow_exception(failure);
            } catch (const std::exception &exception) {
                std::fprintf(stderr, "orvela-server: a connection failed: %s\n", exception.what());
            }
        });
    }
}

void Listener::close()
{
    error_code ignored;
    m_acceptor.close(ignored);
}
