#include "HttpService.h"

#include "Json.h"
#include "StateRules.h"
#include "Stats.h"
#include "Tokens.h"
#include "TrackingScript.h"
#include "WireState.h"

#include <QUuid>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <httplib.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void sendJson(httplib::Response &response, int status, const QByteArray &body)
{
    response.status = status;
    response.set_content(body.constData(), size_t(body.size()), "application/json; charset=utf-8");
}

void sendError(httplib::Response &response, int status, const QString &message)
{
    sendJson(response, status, Json::compact(QJsonObject{{QStringLiteral("error"), message}}));
}

// The collector answers the same way whatever became of the event, so that nobody can probe
// which site ids exist.
void sendAccepted(httplib::Response &response)
{
    response.status = 202;
    response.set_header("Access-Control-Allow-Origin", "*");
    response.set_content("", "text/plain");
}

// Leave the rest of a refused body unread: the client is asked to close the connection.
void closeAfter(httplib::Response &response)
{
    response.set_header("Connection", "close");
}

std::optional<qint64> declaredLength(const httplib::Request &request)
{
    if (!request.has_header("Content-Length"))
        return std::nullopt;
    bool ok = false;
    const qint64 length = QByteArray::fromStdString(request.get_header_value("Content-Length")).toLongLong(&ok);
    return ok && length >= 0 ? std::optional(length) : std::optional<qint64>(std::numeric_limits<qint64>::max());
}

// Reads a body up to `limit` bytes; no value when it is longer (the rest is left unread).
std::optional<QByteArray> readBody(const httplib::ContentReader &reader, qsizetype limit)
{
    QByteArray body;
    bool tooLong = false;
    reader([&](const char *data, size_t length) {
        if (body.size() + qsizetype(length) > limit) {
            tooLong = true;
            return false;
        }
        body.append(data, qsizetype(length));
        return true;
    });
    if (tooLong)
        return std::nullopt;
    return body;
}

QString header(const httplib::Request &request, const char *name)
{
    return QString::fromStdString(request.get_header_value(name));
}

// Why a port cannot be had, in words, asked of the system before the server binds.
std::optional<QString> bindProblem(const std::string &host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return QStringLiteral("%1 is not an IP address").arg(QString::fromStdString(host));
    const int fd = socket(found->ai_family, SOCK_STREAM, 0);
    int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const int result = fd >= 0 ? ::bind(fd, found->ai_addr, found->ai_addrlen) : -1;
    const int error = errno;
    if (fd >= 0)
        close(fd);
    freeaddrinfo(found);
    if (result == 0)
        return std::nullopt;
    switch (error) {
    case EADDRINUSE:
        return QStringLiteral("the port is already in use (is another orvela-server running?)");
    case EACCES:
        return QStringLiteral("permission denied (ports below 1024 need privileges)");
    case EADDRNOTAVAIL:
        return QStringLiteral("the address does not belong to this machine");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

// Whether the client takes gzip: named in Accept-Encoding (or "*") without q=0.
bool acceptsGzip(const httplib::Request &request)
{
    const QByteArray accepted = QByteArray::fromStdString(request.get_header_value("Accept-Encoding")).toLower();
    for (const QByteArray &item : accepted.split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts.first().trimmed();
        if (coding != "gzip" && coding != "*")
            continue;
        bool refused = false;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed();
            if (parameter.startsWith("q=") && parameter.mid(2).toDouble() <= 0)
                refused = true;
        }
        return !refused;
    }
    return false;
}

bool matchesETag(const httplib::Request &request, std::string_view etag)
{
    const QByteArray wanted = QByteArray::fromStdString(request.get_header_value("If-None-Match"));
    if (wanted.trimmed() == "*")
        return true;
    for (QByteArray candidate : wanted.split(',')) {
        candidate = candidate.trimmed();
        if (candidate.startsWith("W/"))
            candidate = candidate.mid(2);
        if (candidate == QByteArray(etag.data(), qsizetype(etag.size())))
            return true;
    }
    return false;
}

// The script is compressed once at build time. The content type must stay one the HTTP library
// does not compress on its own, or the gzip form would be compressed a second time.
void sendScript(const httplib::Request &request, httplib::Response &response)
{
    const bool gzip = acceptsGzip(request);
    // Each form has its own tag, so that a cache never answers one with the other.
    const std::string etag = gzip ? std::string(TrackingScript::etag()).insert(1, "gz-")
                                  : std::string(TrackingScript::etag());
    response.set_header("ETag", etag);
    response.set_header("Cache-Control", "public, max-age=3600");
    response.set_header("Vary", "Accept-Encoding");
    // Pages of any origin load it, including those that require resources to opt in.
    response.set_header("Cross-Origin-Resource-Policy", "cross-origin");
    response.set_header("X-Content-Type-Options", "nosniff");
    if (matchesETag(request, etag)) {
        response.status = 304;
        return;
    }
    const std::string_view body = gzip ? TrackingScript::gzipped() : TrackingScript::minified();
    if (gzip)
        response.set_header("Content-Encoding", "gzip");
    response.status = 200;
    response.set_content(body.data(), body.size(), "application/javascript; charset=utf-8");
}

}  // namespace

HttpService::HttpService(Storage &storage, DailySalts &salts, Clock clock, Options options,
                         std::shared_ptr<GeoIp> geoIp)
    : m_storage(storage),
      m_clock(std::move(clock)),
      m_options(options),
      m_geoIp(std::move(geoIp)),
      m_sites(storage),
      m_refusals([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); }),
      m_rateLimiter(options.rateBurst, options.ratePerSecond),
      m_server(std::make_unique<httplib::Server>())
{
    m_sites.reload();
    m_collector = std::make_unique<Collector>(m_storage, m_sites, salts, m_clock, Collector::Options{options.retainDays});

    const int threads = options.threads;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    m_server->set_tcp_nodelay(true);
    // Only SO_REUSEADDR: the library's default SO_REUSEPORT would let a second server share the port.
    m_server->set_socket_options([](int fd) {
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    m_server->set_read_timeout(5, 0);
    m_server->set_write_timeout(5, 0);
    m_server->set_keep_alive_timeout(5);
    m_server->set_keep_alive_max_count(1000);
    m_server->set_payload_max_length(size_t(stateLimit));
    routes();
}

HttpService::~HttpService()
{
    stop();
}

int HttpService::bind(const std::string &host, int port)
{
    if (const auto problem = bindProblem(host, port))
        throw ListenError(problem->toStdString());
    if (port == 0) {
        const int bound = m_server->bind_to_any_port(host);
        if (bound <= 0)
            throw ListenError("no free port");
        return bound;
    }
    if (!m_server->bind_to_port(host, port))
        throw ListenError("the port could not be bound");
    return port;
}

void HttpService::run()
{
    m_server->listen_after_bind();
    m_collector->stop();
}

void HttpService::start()
{
    m_thread = std::thread([this] { run(); });
}

void HttpService::stop()
{
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_collector->stop();
}

void HttpService::routes()
{
    using httplib::Request, httplib::Response, httplib::ContentReader;
    auto &server = *m_server;

    // Bodies are judged by their declared length before a byte of them is read.
    server.set_pre_routing_handler([](const Request &request, Response &response) {
        const auto length = declaredLength(request);
        const bool hasBody = length.value_or(0) > 0 || request.has_header("Transfer-Encoding");
        if (request.path == "/v1/event" && request.method == "POST") {
            if (length && *length > EventRules::bodyLimit) {
                sendAccepted(response);
                closeAfter(response);
                return httplib::Server::HandlerResponse::Handled;
            }
        } else if (request.path == "/v1/state" && request.method == "PUT") {
            if (length && *length > stateLimit) {
                sendError(response, 400, QStringLiteral("the state is larger than 256 KiB"));
                closeAfter(response);
                return httplib::Server::HandlerResponse::Handled;
            }
        } else if (hasBody) {
            sendError(response, 404, QStringLiteral("no such endpoint takes a body"));
            closeAfter(response);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    server.Get("/healthz", [](const Request &, Response &response) {
        sendJson(response, 200, R"({"status":"ok"})");
    });
    server.Get("/script.js", [](const Request &request, Response &response) { sendScript(request, response); });
    server.Get("/v1/state", [this](const Request &request, Response &response) { getState(request, response); });
    server.Put("/v1/state", [this](const Request &request, Response &response, const ContentReader &reader) {
        const auto body = readBody(reader, stateLimit);
        if (!body) {
            sendError(response, 400, QStringLiteral("the state is larger than 256 KiB"));
            closeAfter(response);
            return;
        }
        putState(request, response, *body);
    });
    server.Get("/v1/stats", [this](const Request &request, Response &response) { getStats(request, response); });
    server.Post("/v1/event", [this](const Request &request, Response &response, const ContentReader &reader) {
        const auto body = readBody(reader, EventRules::bodyLimit);
        sendAccepted(response);
        if (!body) {
            closeAfter(response);
            return;
        }
        postEvent(request, *body);
    });
    server.Options("/v1/event", [](const Request &, Response &response) {
        response.status = 204;
        response.set_header("Access-Control-Allow-Origin", "*");
        response.set_header("Access-Control-Allow-Methods", "POST");
        response.set_header("Access-Control-Allow-Headers", "Content-Type");
        response.set_header("Access-Control-Max-Age", "86400");
    });

    server.set_error_handler([](const Request &, Response &response) {
        if (!response.body.empty())
            return;
        switch (response.status) {
        case 404:
            sendError(response, 404, QStringLiteral("not found"));
            break;
        case 413:
            sendError(response, 413, QStringLiteral("the body is too large"));
            break;
        default:
            sendError(response, response.status, QStringLiteral("the request could not be served"));
        }
    });
    server.set_exception_handler([](const Request &, Response &response, std::exception_ptr error) {
        QString reason = QStringLiteral("internal error");
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "orvela-server: %s\n", e.what());
        } catch (...) {
        }
        sendError(response, 500, reason);
    });
}

std::optional<QByteArray> HttpService::account(const httplib::Request &request, httplib::Response &response)
{
    const QString token = Tokens::fromAuthorization(header(request, "Authorization"));
    if (!token.isEmpty()) {
        QByteArray hash = Tokens::hash(token);
        if (m_storage.hasAccount(hash))
            return hash;
    }
    sendError(response, 401, QStringLiteral("unknown or missing token"));
    return std::nullopt;
}

void HttpService::getState(const httplib::Request &request, httplib::Response &response)
{
    const auto hash = account(request, response);
    if (!hash)
        return;
    const auto stored = m_storage.state(*hash);
    if (!stored) {
        sendError(response, 401, QStringLiteral("unknown or missing token"));
        return;
    }
    WireState state;
    if (stored->document)
        state = WireState::decode(*stored->document);
    if (stored->updatedAt)
        state.updatedAt = Instant::fromUnixSeconds(double(*stored->updatedAt));
    sendJson(response, 200, state.encode());
}

void HttpService::putState(const httplib::Request &request, httplib::Response &response, const QByteArray &body)
{
    const auto hash = account(request, response);
    if (!hash)
        return;
    WireState state;
    try {
        state = WireState::decode(body);
    } catch (const JsonError &error) {
        sendError(response, 400, error.reason);
        return;
    }
    if (const auto problem = StateRules::problem(state)) {
        sendError(response, 400, *problem);
        return;
    }
    // The service alone sets the time of a save.
    state.updatedAt.reset();
    const auto updatedAt = m_storage.replaceState(*hash, state.encode(), StateRules::listedSites(state), m_clock());
    if (!updatedAt) {
        sendError(response, 401, QStringLiteral("unknown or missing token"));
        return;
    }
    m_sites.reload();
    state.updatedAt = Instant::fromUnixSeconds(double(*updatedAt));
    sendJson(response, 200, state.encode());
}

void HttpService::getStats(const httplib::Request &request, httplib::Response &response)
{
    const auto hash = account(request, response);
    if (!hash)
        return;
    const QString websiteText = QString::fromStdString(request.get_param_value("website"));
    const QString offsetText = QString::fromStdString(request.get_param_value("offset"));
    const QUuid website = websiteText.size() == 36 ? QUuid::fromString(websiteText) : QUuid();
    bool offsetOk = false;
    const int offset = offsetText.toInt(&offsetOk);
    if (website.isNull() || request.get_param_value_count("website") != 1 ||
        request.get_param_value_count("offset") != 1) {
        sendError(response, 400, QStringLiteral("the query needs one website id and one offset"));
        return;
    }
    if (!offsetOk || offset < -Stats::maximumOffset || offset > Stats::maximumOffset) {
        sendError(response, 400, QStringLiteral("\"offset\" must be minutes east of UTC"));
        return;
    }
    const auto site = m_storage.ownedSite(*hash, Json::uuidText(website));
    if (!site) {
        sendError(response, 404, QStringLiteral("this account has no such website"));
        return;
    }
    // Every event accepted before this request is in the figures.
    m_collector->flush();
    const FigureQuery query = Stats::query(*site, offset, m_clock());
    sendJson(response, 200, Stats::reply(m_storage.figures(query), query).encode());
}

void HttpService::postEvent(const httplib::Request &request, const QByteArray &body)
{
    const auto event = EventRules::parse(body);
    if (!event)
        return;
    const auto site = m_sites.find(event->siteUuid);
    if (!site)
        return;
    if (!EventRules::belongsTo(event->host, site->host)) {
        m_refusals.refuse(event->siteUuid, site->host, event->host, m_clock());
        return;
    }
    const QString userAgent = header(request, "User-Agent");
    if (EventRules::isBot(userAgent))
        return;
    const QString address =
        EventRules::clientAddress(request.remote_addr, request.get_header_value("X-Forwarded-For"), m_options.trustProxy);
    const qint64 now = m_clock();
    if (!m_rateLimiter.allow(address, now))
        return;
    IncomingEvent incoming;
    incoming.site = site->id;
    incoming.siteUuid = event->siteUuid;
    incoming.kind = event->kind;
    incoming.page = event->page;
    incoming.referrer = event->referrer;
    incoming.label = event->label;
    incoming.client = address.toUtf8() + '\n' + userAgent.toUtf8();
    incoming.country = countryOf(request, address);
    incoming.at = now;
    m_collector->submit(std::move(incoming));
}

QString HttpService::countryOf(const httplib::Request &request, const QString &address) const
{
    if (m_options.trustProxy) {
        for (const char *name : {"CF-IPCountry", "X-Country-Code"}) {
            const QString code = EventRules::countryCode(header(request, name));
            if (!code.isEmpty())
                return code;
        }
    }
    return m_geoIp ? m_geoIp->country(address) : QString();
}
