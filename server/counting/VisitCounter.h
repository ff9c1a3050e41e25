#pragma once

#include "Clock.h"
#include "DailySalts.h"
#include "Storage.h"

#include <QByteArray>
#include <QString>
#include <limits>
#include <optional>
#include <vector>

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

// Turns events into visitors, visits and roll-up increments: the counting rules, the same for
// every engine. The visitors and visits it works on come from the engine for each batch (see
// WorkingSet), so that several servers can count into one database. Single-threaded: the
// collector's writer thread owns it.
class VisitCounter
{
public:
    explicit VisitCounter(DailySalts &salts);

    // Moves the salts on to the day of `now`, and retires the previous day's salt once the
    // grace period is over; true when it retired one, so that the stored visitors of that day
    // can go too.
    bool maintain(qint64 now);
    // The oldest salt day still in use at `now`.
    static qint64 firstKeptDay(qint64 now);

    // Counts the events into the storage, in one transaction.
    void count(const std::vector<IncomingEvent> &events, Storage &storage);

private:
    // An event with the visitor it belongs to, worked out once for all tries of a batch.
    struct Named {
        const IncomingEvent *event = nullptr;
        VisitorKey visitor;
        std::optional<VisitorKey> previous;  // the same client under the day before's salt
    };

    static QByteArray visitorHash(const QByteArray &salt, const IncomingEvent &event);
    EventBatch apply(const std::vector<Named> &events, WorkingSet &set) const;

    DailySalts &m_salts;
    qint64 m_keptFrom = std::numeric_limits<qint64>::min();
    qint64 m_today = std::numeric_limits<qint64>::min();
};
