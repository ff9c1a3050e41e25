#include "HttpService.h"

#include "Endpoints.h"
#include "Listener.h"
#include "PeerConnections.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cstdio>
#include <vector>

namespace asio = boost::asio;

HttpService::HttpService(Storage &storage, Clock clock, Options options, std::shared_ptr<GeoIp> geoIp)
    : m_storage(storage),
      m_clock(std::move(clock)),
      m_options(options),
      m_sites(storage),
      m_rateLimiter(options.rateBurst, options.ratePerSecond)
{
    m_sites.reload();
    m_collector = std::make_unique<Collector>(m_storage, m_sites, m_clock, Collector::Options{options.retainDays});
    m_endpoints = std::make_unique<Endpoints>(m_storage, m_sites, *m_collector, m_rateLimiter, m_clock,
                                              options.trustProxy, std::move(geoIp));
    // Behind a proxy every connection comes from it: the proxy limits its clients.
    m_peers = std::make_unique<PeerConnections>(options.trustProxy ? 0 : options.limits.connectionsPerPeer);
    m_io = std::make_unique<asio::io_context>(std::max(1, options.ioThreads));
    m_workers = std::make_unique<asio::thread_pool>(std::size_t(std::max(1, options.workerThreads)));
    m_listener = std::make_unique<Listener>(*m_io, *m_endpoints, *m_workers, m_options.limits, *m_peers);
}

HttpService::~HttpService()
{
    stop();
    m_listener.reset();
    m_workers.reset();
    m_io.reset();
}

int HttpService::bind(const std::string &host, int port)
{
    return m_listener->bind(host, port);
}

void HttpService::run()
{
    asio::co_spawn(*m_io, m_listener->accept(), [](std::exception_ptr failure) {
        try {
            if (failure)
                std::rethrow_exception(failure);
        } catch (const std::exception &exception) {
            std::fprintf(stderr, "orvela-server: stopped listening: %s\n", exception.what());
        }
    });
    std::vector<std::thread> others;
    for (int i = 1; i < m_options.ioThreads; ++i)
        others.emplace_back([this] { m_io->run(); });
    m_io->run();
    for (auto &thread : others)
        thread.join();
    // No thread serves connections any more: new ones are refused rather than queued.
    m_listener->close();
    m_collector->stop();
}

void HttpService::start()
{
    m_thread = std::thread([this] { run(); });
}

void HttpService::stop()
{
    m_io->stop();
    if (m_thread.joinable())
        m_thread.join();
    // A handler under way finishes; those not yet started are dropped with their connections.
    m_workers->stop();
    m_workers->join();
    m_collector->stop();
}
