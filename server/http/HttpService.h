#pragma once

#include "Clock.h"
#include "Collector.h"
#include "EventRules.h"
#include "RateLimiter.h"
#include "GeoIp.h"
#include "HostRefusals.h"
#include "SiteDirectory.h"
#include "Storage.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

struct ListenError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The service's HTTP face: the account state, the stats, the event collector and the health
// check, on a pool of threads, one per open connection.
class HttpService
{
public:
    struct Options {
        bool trustProxy = false;
        qint64 retainDays = 30;
        double rateBurst = 100;     // events a client may send at once
        double ratePerSecond = 2;   // and then on average
        int threads = 128;
    };

    static constexpr qsizetype stateLimit = 256 * 1024;

    HttpService(Storage &storage, DailySalts &salts, Clock clock, Options options, std::shared_ptr<GeoIp> geoIp = {});
    ~HttpService();

    // Binds to host:port (port 0: any free port) and returns the port. Throws ListenError.
    int bind(const std::string &host, int port);
    // Serves until stop(); then commits the events still queued.
    void run();
    void start();  // run() on a thread of its own
    void stop();

    Collector &collector() { return *m_collector; }

private:
    void routes();
    std::optional<QByteArray> account(const httplib::Request &request, httplib::Response &response);
    void getState(const httplib::Request &request, httplib::Response &response);
    void putState(const httplib::Request &request, httplib::Response &response, const QByteArray &body);
    void getStats(const httplib::Request &request, httplib::Response &response);
    void postEvent(const httplib::Request &request, const QByteArray &body);
    QString countryOf(const httplib::Request &request, const QString &address) const;

    Storage &m_storage;
    Clock m_clock;
    Options m_options;
    std::shared_ptr<GeoIp> m_geoIp;
    SiteDirectory m_sites;
    HostRefusals m_refusals;
    std::unique_ptr<Collector> m_collector;
    RateLimiter m_rateLimiter;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
};
