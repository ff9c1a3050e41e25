#pragma once

#include "Clock.h"
#include "SiteDirectory.h"
#include "VisitCounter.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// Takes accepted events from the HTTP threads and writes them from one thread, in batches:
// whatever arrived while the previous batch was being committed goes into the next
// transaction. Between batches it does the housekeeping: salt rotation, reloading the sites,
// and deleting what retention and ended accounts let go, a bounded round at a time, so that
// no batch ever waits for more than one round.
class Collector
{
public:
    struct Options {
        qint64 retainDays = 30;
        size_t queueLimit = 200000;  // beyond this, events are dropped rather than held
        qint64 tidyBudget = 500;     // rows housekeeping deletes at most per round
    };

    Collector(Storage &storage, SiteDirectory &sites, DailySalts &salts, Clock clock, Options options);
    ~Collector();

    // False when the event was dropped because the queue is full.
    bool submit(IncomingEvent event);
    // Returns once every event submitted before the call is committed, and the housekeeping
    // round after that commit has run.
    void flush();
    // Commits what is queued and ends the writer thread.
    void stop();

private:
    void run();
    void housekeeping(qint64 now);

    Storage &m_storage;
    SiteDirectory &m_sites;
    Clock m_clock;
    Options m_options;
    VisitCounter m_counter;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_committed;
    std::vector<IncomingEvent> m_queue;
    quint64 m_flushRequests = 0;
    quint64 m_flushesServed = 0;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_busy = false;  // a round with events is under way
    // The writer thread's own.
    qint64 m_lastTidy = 0;
    qint64 m_lastReload = 0;
    bool m_tidying = false;  // a round is due
    std::thread m_thread;
};
