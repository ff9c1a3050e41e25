#pragma once

#include "Clock.h"
#include "DailySalts.h"
#include "Storage.h"

#include <QByteArray>
#include <QString>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>

// One event as it reaches the counter. `client` (address and user agent) only goes into the
// visitor's keyed hash; it is never written anywhere.
struct IncomingEvent {
    qint64 site = 0;
    QString siteUuid;
    EventKind kind = EventKind::pageview;
    QString page;
    QString referrer;
    QString label;
    QByteArray client;
    QString country;
    qint64 at = 0;
};

namespace Counting {
constexpr qint64 visitGap = 30 * 60;   // a longer pause starts a new visit
constexpr qint64 saltGrace = 30 * 60;  // the previous day's salt still continues open visits
constexpr int alignments = 4;          // hours may start at :00, :15, :30 or :45 UTC

// Start of the hour containing `at` for hours that begin `alignment` quarters past the UTC hour.
inline qint64 hourStart(qint64 at, int alignment)
{
    const qint64 shift = alignment * slotLength;
    return floorDiv(at - shift, 3600) * 3600 + shift;
}
}  // namespace Counting

// Turns events into visitors, visits and roll-up increments. Single-threaded: the collector's
// writer thread owns it. Keeps today's visitors (and yesterday's during the grace period) and
// the open visits in memory, and can rebuild them from the storage after a restart.
class VisitCounter
{
public:
    VisitCounter(Storage &storage, DailySalts &salts);

    // Reloads the visitors and open visits of the current salt day(s).
    void restore(qint64 now);
    // Retires the previous day's salt and visitors once the grace period is over; true when
    // it did, so that the stored visitors of that day can go too.
    bool maintain(qint64 now);
    // The oldest salt day still in use at `now`.
    static qint64 firstKeptDay(qint64 now);

    void add(const IncomingEvent &event, EventBatch &batch);
    // Appends the visitors and visits touched since the last call.
    void finish(EventBatch &batch);

private:
    struct Visitor {
        qint64 site = 0;
        QByteArray hash;
        qint64 lastSeen = -1;
        qint64 visit = 0;
        QString country;
    };

    static QByteArray visitorHash(const QByteArray &salt, const IncomingEvent &event);
    VisitRow *openVisit(qint64 id, qint64 at);

    Storage &m_storage;
    DailySalts &m_salts;
    std::map<qint64, std::unordered_map<std::string, Visitor>> m_visitors;  // by salt day
    std::unordered_map<qint64, VisitRow> m_visits;
    qint64 m_lastVisitId = 0;
    qint64 m_keptFrom = std::numeric_limits<qint64>::min();
    std::map<std::pair<qint64, std::string>, bool> m_touchedVisitors;
    std::map<qint64, bool> m_touchedVisits;
};
