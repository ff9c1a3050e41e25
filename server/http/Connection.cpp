#include "Connection.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <cstdio>
#include <iterator>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using boost::system::error_code;

namespace {

constexpr auto checked = asio::as_tuple(asio::use_awaitable);

// After the last answer, what the client still sends is read and dropped for a moment, so that
// closing does not reset the connection before the client has read that answer.
constexpr auto lingerTime = std::chrono::seconds(1);
constexpr std::size_t lingerBytes = 256 * 1024;

bool isHttpError(const error_code &error)
{
    return error.category() == http::make_error_code(http::error::end_of_stream).category();
}

QString seconds(ConnectionLimits::Duration duration)
{
    return QString::number(double(duration.count()) / 1000, 'g', 3);
}

asio::awaitable<HttpResponse> serveOnWorker(Endpoints &endpoints, Endpoints::Route route, const HttpRequest &request,
                                            const std::string &peer)
{
    co_return endpoints.serve(route, request, peer);
}

}  // namespace

// The deadline's state outlives the connection in the timer's handler, which may already be
// queued when the connection ends.
struct Connection::Deadline {
    beast::tcp_stream *stream = nullptr;
    unsigned phase = 0;
    bool passed = false;
};

Connection::Connection(asio::ip::tcp::socket socket, Endpoints &endpoints, asio::thread_pool &workers,
                       const ConnectionLimits &limits, PeerConnections::Ticket ticket)
    : m_stream(std::move(socket)),
      m_endpoints(endpoints),
      m_workers(workers),
      m_limits(limits),
      m_ticket(std::move(ticket)),
      m_deadlineTimer(m_stream.get_executor()),
      m_deadline(std::make_shared<Deadline>())
{
    m_deadline->stream = &m_stream;
    error_code ignored;
    m_peer = m_stream.socket().remote_endpoint(ignored).address().to_string();
}

Connection::~Connection()
{
    m_deadline->stream = nullptr;
}

asio::awaitable<void> Connection::run(std::unique_ptr<Connection> connection)
{
    // No co_await inside a condition: g++ 12 built one here into an illegal instruction.
    for (;;) {
        if (connection->m_buffer.size() == 0) {
            const bool arrived = co_await connection->nextRequestArrives();
            if (!arrived)
                break;
        }
        const bool goesOn = co_await connection->exchange();
        if (!goesOn)
            break;
        // An idle connection keeps no large buffer from its last request.
        if (connection->m_buffer.size() == 0 && connection->m_buffer.capacity() > 16 * 1024)
            connection->m_buffer.shrink_to_fit();
    }
    co_await connection->closeGracefully();
}

asio::awaitable<bool> Connection::nextRequestArrives()
{
    m_stream.expires_after(m_limits.idleTimeout);
    const auto [error, received] = co_await m_stream.async_read_some(m_buffer.prepare(1024), checked);
    m_stream.expires_never();
    if (error)
        co_return false;
    m_buffer.commit(received);
    co_return true;
}

asio::awaitable<bool> Connection::exchange()
{
    http::request_parser<http::string_body> parser;
    parser.header_limit(std::uint32_t(m_limits.headerBytes));
    // Each endpoint has its own body limit, set once the headers say which one is asked for.
    parser.body_limit(boost::none);

    startDeadline(m_limits.headerTimeout);
    const auto [headerError, headerSize] = co_await http::async_read_header(m_stream, m_buffer, parser, checked);
    if (endDeadline() && headerError) {
        co_await refuse(
            408, QStringLiteral("the headers did not arrive within %1 seconds").arg(seconds(m_limits.headerTimeout)));
        co_return false;
    }
    if (headerError == http::error::header_limit) {
        co_await refuse(431, QStringLiteral("the headers are longer than %1 bytes").arg(m_limits.headerBytes));
        co_return false;
    }
    if (headerError == http::error::partial_message) {
        co_await refuse(400, QStringLiteral("the request ended within its headers"));
        co_return false;
    }
    if (headerError == http::error::end_of_stream || (headerError && !isHttpError(headerError)))
        co_return false;
    if (headerError) {
        co_await refuse(400, QStringLiteral("the request could not be served"));
        co_return false;
    }

    const HttpRequest &header = parser.get();
    if (std::size_t(std::distance(header.begin(), header.end())) > m_limits.headerFields) {
        co_await refuse(431, QStringLiteral("the request has more than %1 header fields").arg(m_limits.headerFields),
                        header.version());
        co_return false;
    }
    const Endpoints::Route route = Endpoints::route(header);
    Endpoints::Admission admission = Endpoints::admit(route, header);
    if (admission.refusal) {
        co_await send(std::move(*admission.refusal), header.version(), false, false);
        co_return false;
    }

    if (!parser.is_done()) {
        if (beast::iequals(header[http::field::expect], "100-continue")) {
            http::response<http::empty_body> proceed{http::status::continue_, header.version()};
            m_stream.expires_after(m_limits.writeTimeout);
            const auto [error, written] = co_await http::async_write(m_stream, proceed, checked);
            m_stream.expires_never();
            if (error)
                co_return false;
        }
        parser.body_limit(admission.bodyLimit);
        startDeadline(m_limits.bodyTimeout);
        const auto [bodyError, bodySize] = co_await http::async_read(m_stream, m_buffer, parser, checked);
        // A body cut short, by the client or by the deadline, is refused whole: none of it is used.
        if (endDeadline() && bodyError) {
            co_await refuse(
                400, QStringLiteral("the body did not arrive within %1 seconds").arg(seconds(m_limits.bodyTimeout)),
                header.version());
            co_return false;
        }
        if (bodyError == http::error::body_limit) {
            co_await send(Endpoints::refuseLongBody(route), header.version(), false, false);
            co_return false;
        }
        if (bodyError == http::error::partial_message) {
            co_await refuse(400, QStringLiteral("the body ended before its declared length"), header.version());
            co_return false;
        }
        if (bodyError && !isHttpError(bodyError))
            co_return false;
        if (bodyError) {
            co_await refuse(400, QStringLiteral("the request could not be served"), header.version());
            co_return false;
        }
    }

    const HttpRequest request = parser.release();
    HttpResponse response = co_await answer(route, request);
    co_return co_await send(std::move(response), request.version(), request.method() == http::verb::head,
                            request.keep_alive());
}

asio::awaitable<HttpResponse> Connection::answer(Endpoints::Route route, const HttpRequest &request)
{
    try {
        if (!Endpoints::waitsForStorage(route))
            co_return m_endpoints.serve(route, request, m_peer);
        co_return co_await asio::co_spawn(m_workers, serveOnWorker(m_endpoints, route, request, m_peer),
                                          asio::use_awaitable);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "orvela-server: %s\n", error.what());
    } catch (...) {}
    HttpResponse failed;
    Replies::error(failed, 500, QStringLiteral("internal error"));
    co_return failed;
}

asio::awaitable<bool> Connection::send(HttpResponse response, unsigned version, bool headOnly, bool keepAlive)
{
    const bool endpointKeepsAlive = response.keep_alive();
    response.version(version);
    response.keep_alive(keepAlive && endpointKeepsAlive);
    response.prepare_payload();
    http::response_serializer<http::string_body> serializer(response);
    m_stream.expires_after(m_limits.writeTimeout);
    error_code error;
    if (headOnly)
        std::tie(error, std::ignore) = co_await http::async_write_header(m_stream, serializer, checked);
    else
        std::tie(error, std::ignore) = co_await http::async_write(m_stream, serializer, checked);
    m_stream.expires_never();
    co_return !error && response.keep_alive();
}

asio::awaitable<void> Connection::refuse(int status, const QString &message, unsigned version)
{
    HttpResponse response;
    Replies::error(response, status, message);
    co_await send(std::move(response), version, false, false);
}

asio::awaitable<void> Connection::closeGracefully()
{
    auto &socket = m_stream.socket();
    if (!socket.is_open())
        co_return;
    error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    m_stream.expires_after(lingerTime);
    m_buffer.clear();
    for (std::size_t dropped = 0; dropped < lingerBytes;) {
        const auto [error, received] = co_await m_stream.async_read_some(m_buffer.prepare(4096), checked);
        if (error)
            break;
        dropped += received;
    }
    m_stream.expires_never();
    socket.close(ignored);
}

// The stream's own timeouts close the socket; this one only stops the reading, so that the
// client can still be told why.
void Connection::startDeadline(ConnectionLimits::Duration limit)
{
    m_deadline->passed = false;
    const unsigned phase = ++m_deadline->phase;
    m_deadlineTimer.expires_after(limit);
    m_deadlineTimer.async_wait([deadline = m_deadline, phase](const error_code &error) {
        if (error || !deadline->stream || deadline->phase != phase)
            return;
        deadline->passed = true;
        error_code ignored;
        deadline->stream->socket().shutdown(asio::ip::tcp::socket::shutdown_receive, ignored);
    });
}

bool Connection::endDeadline()
{
    ++m_deadline->phase;
    m_deadlineTimer.cancel();
    return m_deadline->passed;
}
