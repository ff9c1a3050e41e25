#include "HttpService.h"

#include "Endpoints.h"
#include "Listener.h"
#include "PeerConnections.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <cstdio>
#include <vector>

namespace asio = boost::asio;

HttpService::HttpService(Storage &storage, DailySalts &salts, Clock clock, Options options,
                         std::shared_ptr<GeoIp> geoIp)
    : m_storage(storage),
      m_clock(std::move(clock)),
      m_options(options),
      m_sites(storage),
      m_rateLimiter(options.rateBurst, options.ratePerSecond)
{
    m_sites.reload();
    m_collector =
        std::make_unique<Collector>(m_storage, m_sites, salts, m_clock, Collector::Options{options.retainDays});
    m_endpoints = std::make_unique<Endpoints>(m_storage, m_sites, *m_collector, m_rateLimiter, m_clock,
                                              options.trustProxy, std::move(geoIp));
    // Behind a proxy every connection comes from it: the proxy limits its clients.
    m_peers = std::make_unique<PeerConnections>(options.trustProxy ? 0 : options.limits.connectionsPerPeer);
    std::vector<asio::io_context *> contexts;
    for (int i = 0; i < std::max(1, options.ioThreads); ++i) {
        m_contexts.push_back(std::make_unique<asio::io_context>(1));
        contexts.push_back(m_contexts.back().get());
    }
    m_workers = std::make_unique<asio::thread_pool>(std::size_t(std::max(1, options.workerThreads)));
    m_listener = std::make_unique<Listener>(contexts, *m_endpoints, *m_workers, m_options.limits, *m_peers);
}

HttpService::~HttpService()
{
    stop();
    m_listener.reset();
    m_workers.reset();
    m_contexts.clear();
}

int HttpService::bind(const std::string &host, int port)
{
    return m_listener->bind(host, port);
}

void HttpService::run()
{
    asio::io_context &first = *m_contexts.front();
    asio::co_spawn(first, m_listener->accept(), [](std::exception_ptr failure) {
        try {
            if (failure)
                std::rethrow_exception(failure);
        } catch (const std::exception &exception) {
            std::fprintf(stderr, "orvela-server: stopped listening: %s\n", exception.what());
        }
    });
    // The other contexts wait for connections until stop().
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> waiting;
    std::vector<std::thread> others;
    for (size_t i = 1; i < m_contexts.size(); ++i) {
        waiting.push_back(asio::make_work_guard(*m_contexts[i]));
        others.emplace_back([context = m_contexts[i].get()] { context->run(); });
    }
    first.run();
    for (auto &context : m_contexts)
        context->stop();
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
    for (auto &context : m_contexts)
        context->stop();
    if (m_thread.joinable())
        m_thread.join();
    // A handler under way finishes; those not yet started are dropped with their connections.
    m_workers->stop();
    m_workers->join();
    m_collector->stop();
}
