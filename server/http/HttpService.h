#pragma once

#include "Clock.h"
#include "Collector.h"
#include "ConnectionLimits.h"
#include "DailySalts.h"
#include "GeoIp.h"
#include "ListenError.h"
#include "RateLimiter.h"
#include "SiteDirectory.h"
#include "Storage.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace boost::asio {
class io_context;
class thread_pool;
}  // namespace boost::asio
class Endpoints;
class Listener;
class PeerConnections;

// The service's HTTP face: the account state, the stats, the event collector and the health
// check. A few threads, each with an io_context of its own, serve every connection without
// blocking; the endpoints that wait for the database run on a small pool of workers.
class HttpService
{
public:
    struct Options {
        bool trustProxy = false;
        qint64 retainDays = 30;
        double rateBurst = 100;    // events a client may send at once
        double ratePerSecond = 2;  // and then on average
        int ioThreads = 2;
        int workerThreads = 4;
        ConnectionLimits limits;  // connections per peer are not counted with trustProxy
    };

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
    Storage &m_storage;
    Clock m_clock;
    Options m_options;
    SiteDirectory m_sites;
    std::unique_ptr<Collector> m_collector;
    RateLimiter m_rateLimiter;
    // In this order: what connections use outlives the io_contexts, which destroy the last
    // connections, and the workers are done before that.
    std::unique_ptr<Endpoints> m_endpoints;
    std::unique_ptr<PeerConnections> m_peers;
    std::vector<std::unique_ptr<boost::asio::io_context>> m_contexts;  // one per I/O thread
    std::unique_ptr<boost::asio::thread_pool> m_workers;
    std::unique_ptr<Listener> m_listener;
    std::thread m_thread;
};
