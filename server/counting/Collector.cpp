#include "Collector.h"

#include "Storage.h"

#include <cstdio>

Collector::Collector(Storage &storage, SiteDirectory &sites, DailySalts &salts, Clock clock, Options options)
    : m_storage(storage),
      m_sites(sites),
      m_clock(std::move(clock)),
      m_options(options),
      m_counter(salts)
{
    m_lastReload = m_clock();
    m_thread = std::thread([this] { run(); });
}

Collector::~Collector()
{
    stop();
}

bool Collector::submit(IncomingEvent event)
{
    bool first = false;
    {
        std::lock_guard lock(m_lock);
        if (m_stopping || m_queue.size() >= m_options.queueLimit)
            return false;
        first = m_queue.empty();
        m_queue.push_back(std::move(event));
    }
    // The writer takes the whole queue when it wakes: one wake-up per round is enough.
    if (first)
        m_wake.notify_one();
    return true;
}

void Collector::flush()
{
    std::unique_lock lock(m_lock);
    if (m_queue.empty() && !m_busy)
        return;
    // Served by the first round that starts after this: it takes everything queued so far.
    const quint64 ticket = ++m_flushRequests;
    m_wake.notify_one();
    m_committed.wait(lock, [&] { return m_flushesServed >= ticket || m_finished; });
}

void Collector::stop()
{
    {
        std::lock_guard lock(m_lock);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    {
        std::lock_guard lock(m_lock);
        m_finished = true;
    }
    m_committed.notify_all();
}

void Collector::housekeeping(qint64 now)
{
    try {
        // Once yesterday's salt is retired, its visitors can go too.
        if (m_counter.maintain(now))
            m_tidying = true;
        if (now - m_lastReload >= 5 || now < m_lastReload) {
            m_sites.reload();
            m_lastReload = now;
        }
        if (now - m_lastTidy >= 3600 || now < m_lastTidy) {
            m_tidying = true;
            m_lastTidy = now;
        }
        if (m_tidying) {
            const Retention retention{now - m_options.retainDays * secondsPerDay, now - 3 * secondsPerDay,
                                      VisitCounter::firstKeptDay(now)};
            m_tidying = !m_storage.tidy(retention, m_options.tidyBudget).done;
        }
    } catch (const StorageError &error) {
        // Tried again within the hour rather than at once.
        m_tidying = false;
        std::fprintf(stderr, "orvela-server: housekeeping failed: %s\n", error.what());
    }
}

void Collector::run()
{
    for (;;) {
        std::vector<IncomingEvent> work;
        quint64 serving = 0;
        bool last = false;
        {
            std::unique_lock lock(m_lock);
            // While housekeeping has rounds to go, it goes on between batches without a pause.
            m_wake.wait_for(lock, m_tidying ? std::chrono::seconds(0) : std::chrono::seconds(1),
                            [&] { return !m_queue.empty() || m_stopping || m_flushRequests > m_flushesServed; });
            work.swap(m_queue);
            serving = m_flushRequests;
            last = m_stopping;
            m_busy = !work.empty();
        }
        // Events first. The salts retire no later than the batch's first event, whose salt may
        // still be needed.
        if (!work.empty()) {
            try {
                if (m_counter.maintain(std::min(m_clock(), work.front().at)))
                    m_tidying = true;
                m_counter.count(work, m_storage);
            } catch (const StorageError &error) {
                std::fprintf(stderr, "orvela-server: could not store %zu events: %s\n", work.size(), error.what());
            }
        }
        if (!last)
            housekeeping(m_clock());
        {
            std::lock_guard lock(m_lock);
            m_flushesServed = serving;
            m_busy = false;
        }
        m_committed.notify_all();
        if (last)
            break;
    }
}
