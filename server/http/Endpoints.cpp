#include "Endpoints.h"

#include "EventRules.h"
#include "Json.h"
#include "RequestTarget.h"
#include "ScriptResponse.h"
#include "StateRules.h"
#include "Stats.h"
#include "Tokens.h"
#include "WireState.h"

#include <QUuid>
#include <cstdio>
#include <limits>

namespace http = boost::beast::http;

namespace {

// The collector answers the same way whatever became of the event, so that nobody can probe
// which site ids exist.
void sendAccepted(HttpResponse &response)
{
    response.result(http::status::accepted);
    response.set(http::field::access_control_allow_origin, "*");
    response.set(http::field::content_type, "text/plain");
    response.body().clear();
}

std::string headerValue(const HttpRequest &request, const char *name)
{
    return std::string(request[name]);
}

QString header(const HttpRequest &request, const char *name)
{
    return QString::fromStdString(headerValue(request, name));
}

std::optional<qint64> declaredLength(const HttpRequest &request)
{
    if (request.count(http::field::content_length) == 0)
        return std::nullopt;
    bool ok = false;
    const qint64 length = QByteArray::fromStdString(headerValue(request, "Content-Length")).toLongLong(&ok);
    return ok && length >= 0 ? std::optional(length) : std::optional<qint64>(std::numeric_limits<qint64>::max());
}

HttpResponse refused(int status, const QString &message)
{
    HttpResponse response;
    Replies::error(response, status, message);
    Replies::closeAfter(response);
    return response;
}

HttpResponse acceptedAndClosed()
{
    HttpResponse response;
    sendAccepted(response);
    Replies::closeAfter(response);
    return response;
}

}  // namespace

Endpoints::Endpoints(Storage &storage, SiteDirectory &sites, Collector &collector, RateLimiter &rateLimiter,
                     Clock clock, bool trustProxy, std::shared_ptr<GeoIp> geoIp)
    : m_storage(storage),
      m_sites(sites),
      m_collector(collector),
      m_rateLimiter(rateLimiter),
      m_clock(std::move(clock)),
      m_trustProxy(trustProxy),
      m_geoIp(std::move(geoIp)),
      m_refusals([](const QString &line) { std::fprintf(stderr, "%s\n", qPrintable(line)); })
{}

Endpoints::Route Endpoints::route(const HttpRequest &request)
{
    // HEAD is a GET without the body.
    const http::verb method = request.method() == http::verb::head ? http::verb::get : request.method();
    const RequestTarget target(request.target());
    const QByteArray &path = target.path();
    if (method == http::verb::get) {
        if (path == "/healthz")
            return Route::health;
        if (path == "/script.js")
            return Route::script;
        if (path == "/v1/state")
            return Route::getState;
        if (path == "/v1/stats")
            return Route::getStats;
    } else if (method == http::verb::put && path == "/v1/state") {
        return Route::putState;
    } else if (method == http::verb::post && path == "/v1/event") {
        return Route::postEvent;
    } else if (method == http::verb::options && path == "/v1/event") {
        return Route::eventOptions;
    }
    switch (method) {
    case http::verb::get:
    case http::verb::post:
    case http::verb::put:
    case http::verb::delete_:
    case http::verb::options:
    case http::verb::patch: return Route::notFound;
    default: return Route::badMethod;
    }
}

bool Endpoints::waitsForStorage(Route route)
{
    return route == Route::getState || route == Route::putState || route == Route::getStats;
}

// Bodies are judged by their declared length before a byte of them is read.
Endpoints::Admission Endpoints::admit(Route route, const HttpRequest &request)
{
    const auto length = declaredLength(request);
    const bool hasBody = length.value_or(0) > 0 || request.count(http::field::transfer_encoding) > 0;
    if (route == Route::postEvent) {
        if (length && *length > EventRules::bodyLimit)
            return {acceptedAndClosed()};
        return {std::nullopt, std::uint64_t(EventRules::bodyLimit)};
    }
    if (route == Route::putState) {
        if (length && *length > stateLimit)
            return {refused(400, QStringLiteral("the state is larger than 256 KiB"))};
        return {std::nullopt, std::uint64_t(stateLimit)};
    }
    if (hasBody)
        return {refused(404, QStringLiteral("no such endpoint takes a body"))};
    return {};
}

HttpResponse Endpoints::refuseLongBody(Route route)
{
    if (route == Route::postEvent)
        return acceptedAndClosed();
    return refused(400, QStringLiteral("the state is larger than 256 KiB"));
}

HttpResponse Endpoints::serve(Route route, const HttpRequest &request, const std::string &peer)
{
    HttpResponse response;
    switch (route) {
    case Route::health: Replies::json(response, 200, R"({"status":"ok"})"); break;
    case Route::script: sendScript(request, response); break;
    case Route::getState: getState(request, response); break;
    case Route::putState: putState(request, response, QByteArray::fromStdString(request.body())); break;
    case Route::getStats: getStats(request, response); break;
    case Route::postEvent:
        sendAccepted(response);
        postEvent(request, peer, QByteArray::fromStdString(request.body()));
        break;
    case Route::eventOptions:
        response.result(http::status::no_content);
        response.set(http::field::access_control_allow_origin, "*");
        response.set(http::field::access_control_allow_methods, "POST");
        response.set(http::field::access_control_allow_headers, "Content-Type");
        response.set(http::field::access_control_max_age, "86400");
        break;
    case Route::notFound: Replies::error(response, 404, QStringLiteral("not found")); break;
    case Route::badMethod: Replies::error(response, 400, QStringLiteral("the request could not be served")); break;
    }
    return response;
}

std::optional<QByteArray> Endpoints::account(const HttpRequest &request, HttpResponse &response)
{
    const QString token = Tokens::fromAuthorization(header(request, "Authorization"));
    if (!token.isEmpty()) {
        QByteArray hash = Tokens::hash(token);
        if (m_storage.hasAccount(hash))
            return hash;
    }
    Replies::error(response, 401, QStringLiteral("unknown or missing token"));
    return std::nullopt;
}

void Endpoints::getState(const HttpRequest &request, HttpResponse &response)
{
    const auto hash = account(request, response);
    if (!hash)
        return;
    const auto stored = m_storage.state(*hash);
    if (!stored) {
        Replies::error(response, 401, QStringLiteral("unknown or missing token"));
        return;
    }
    WireState state;
    if (stored->document)
        state = WireState::decode(*stored->document);
    if (stored->updatedAt)
        state.updatedAt = Instant::fromUnixSeconds(double(*stored->updatedAt));
    Replies::json(response, 200, state.encode());
}

void Endpoints::putState(const HttpRequest &request, HttpResponse &response, const QByteArray &body)
{
    const auto hash = account(request, response);
    if (!hash)
        return;
    WireState state;
    try {
        state = WireState::decode(body);
    } catch (const JsonError &error) {
        Replies::error(response, 400, error.reason);
        return;
    }
    if (const auto problem = StateRules::problem(state)) {
        Replies::error(response, 400, *problem);
        return;
    }
    // The service alone sets the time of a save.
    state.updatedAt.reset();
    const auto updatedAt = m_storage.replaceState(*hash, state.encode(), StateRules::listedSites(state), m_clock());
    if (!updatedAt) {
        Replies::error(response, 401, QStringLiteral("unknown or missing token"));
        return;
    }
    m_sites.reload();
    state.updatedAt = Instant::fromUnixSeconds(double(*updatedAt));
    Replies::json(response, 200, state.encode());
}

void Endpoints::getStats(const HttpRequest &request, HttpResponse &response)
{
    const auto hash = account(request, response);
    if (!hash)
        return;
    const RequestTarget target(request.target());
    const QString websiteText = QString::fromUtf8(target.value("website"));
    const QString offsetText = QString::fromUtf8(target.value("offset"));
    const QUuid website = websiteText.size() == 36 ? QUuid::fromString(websiteText) : QUuid();
    bool offsetOk = false;
    const int offset = offsetText.toInt(&offsetOk);
    if (website.isNull() || target.count("website") != 1 || target.count("offset") != 1) {
        Replies::error(response, 400, QStringLiteral("the query needs one website id and one offset"));
        return;
    }
    if (!offsetOk || offset < -Stats::maximumOffset || offset > Stats::maximumOffset) {
        Replies::error(response, 400, QStringLiteral("\"offset\" must be minutes east of UTC"));
        return;
    }
    const auto site = m_storage.ownedSite(*hash, Json::uuidText(website));
    if (!site) {
        Replies::error(response, 404, QStringLiteral("this account has no such website"));
        return;
    }
    // Every event accepted before this request is in the figures.
    m_collector.flush();
    const FigureQuery query = Stats::query(*site, offset, m_clock());
    Replies::json(response, 200, Stats::reply(m_storage.figures(query), query).encode());
}

void Endpoints::postEvent(const HttpRequest &request, const std::string &peer, const QByteArray &body)
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
    const QString address = EventRules::clientAddress(peer, headerValue(request, "X-Forwarded-For"), m_trustProxy);
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
    m_collector.submit(std::move(incoming));
}

QString Endpoints::countryOf(const HttpRequest &request, const QString &address) const
{
    if (m_trustProxy) {
        for (const char *name : {"CF-IPCountry", "X-Country-Code"}) {
            const QString code = EventRules::countryCode(header(request, name));
            if (!code.isEmpty())
                return code;
        }
    }
    return m_geoIp ? m_geoIp->country(address) : QString();
}
