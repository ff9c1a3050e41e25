#pragma once

#include "Clock.h"
#include "Collector.h"
#include "GeoIp.h"
#include "HostRefusals.h"
#include "RateLimiter.h"
#include "Replies.h"
#include "SiteDirectory.h"
#include "Storage.h"

#include <cstdint>
#include <memory>
#include <optional>

// What the service answers: the routes, the checks made before a body is read, and one member
// function per endpoint.
class Endpoints
{
public:
    enum class Route { health, script, getState, putState, getStats, postEvent, eventOptions, notFound, badMethod };

    // The verdict on a request whose headers are in and whose body is not.
    struct Admission {
        std::optional<HttpResponse> refusal;
        std::uint64_t bodyLimit = 0;  // for a body of undeclared length
    };

    static constexpr qsizetype stateLimit = 256 * 1024;

    Endpoints(Storage &storage, SiteDirectory &sites, Collector &collector, RateLimiter &rateLimiter, Clock clock,
              bool trustProxy, std::shared_ptr<GeoIp> geoIp);

    static Route route(const HttpRequest &request);
    // These read or write the database, or wait for the collector: never on a thread that
    // serves connections.
    static bool waitsForStorage(Route route);
    static Admission admit(Route route, const HttpRequest &request);
    // The answer to a body that went past Admission::bodyLimit.
    static HttpResponse refuseLongBody(Route route);

    // `peer`: the socket's address, as text.
    HttpResponse serve(Route route, const HttpRequest &request, const std::string &peer);

private:
    std::optional<QByteArray> account(const HttpRequest &request, HttpResponse &response);
    void getState(const HttpRequest &request, HttpResponse &response);
    void putState(const HttpRequest &request, HttpResponse &response, const QByteArray &body);
    void getStats(const HttpRequest &request, HttpResponse &response);
    void postEvent(const HttpRequest &request, const std::string &peer, const QByteArray &body);
    QString countryOf(const HttpRequest &request, const QString &address) const;

    Storage &m_storage;
    SiteDirectory &m_sites;
    Collector &m_collector;
    RateLimiter &m_rateLimiter;
    Clock m_clock;
    bool m_trustProxy;
    std::shared_ptr<GeoIp> m_geoIp;
    HostRefusals m_refusals;
};
