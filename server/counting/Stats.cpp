#include "Stats.h"

#include "Clock.h"
#include "VisitCounter.h"

#include <QDate>
#include <cmath>

namespace Stats {

FigureQuery query(qint64 site, int offsetMinutes, qint64 now)
{
    // Every zone in use is a whole number of quarter-hours from UTC; the counters are kept
    // in quarter-hours, so any other offset is taken to the nearest one.
    const qint64 offset = qint64(std::lround(offsetMinutes / 15.0)) * 15 * 60;
    const qint64 localNow = now + offset;
    const qint64 localDay = floorDiv(localNow, secondsPerDay);
    const qint64 midnight = localDay * secondsPerDay - offset;

    FigureQuery q;
    q.site = site;
    q.liveSince = now - liveWindow;
    q.todayFromSlot = slotOf(midnight);
    q.alignment = int(((-offset / 60) % 60 + 60) % 60 / 15);
    q.hoursTo = Counting::hourStart(now, q.alignment);
    q.hoursFrom = q.hoursTo - 23 * 3600;
    const qint64 weekday = ((localDay + 3) % 7 + 7) % 7;  // day 0 was a Thursday
    q.weekFromDay = localDay - weekday;
    const QDate epoch(1970, 1, 1);
    const QDate date = epoch.addDays(localDay);
    q.monthFromDay = epoch.daysTo(QDate(date.year(), date.month(), 1));
    q.todayDay = localDay;
    q.recentLimit = recentVisits;
    return q;
}

WireStats reply(const Figures &figures, const FigureQuery &query)
{
    WireStats stats;
    stats.liveVisitors = figures.live;
    stats.visitorsToday = figures.visitorsToday;
    stats.pageViewsToday = figures.pageViewsToday;
    stats.liveWindowDescription = QStringLiteral("in the last 5 minutes");
    for (qint64 start = query.hoursFrom; start <= query.hoursTo; start += 3600) {
        const auto found = figures.hours.find(start);
        stats.hourly.append(
            {Instant::fromUnixSeconds(double(start)), found == figures.hours.end() ? 0 : found->second});
    }
    stats.trackingInstalled = figures.tracked;
    stats.visitorsWeek = figures.weekBeforeToday + figures.visitorsToday;
    stats.visitorsMonth = figures.monthBeforeToday + figures.visitorsToday;
    stats.visitorsAllTime = figures.allBeforeToday + figures.visitorsToday;
    QList<WireCountry> countries;
    for (const auto &[code, visitors] : figures.countries)
        countries.append({code, visitors});
    stats.countries = countries;
    QList<WireRecent> recent;
    for (const auto &visit : figures.recent) {
        recent.append({visit.publicId, visit.country, visit.referrer, visit.pages, visit.clicks,
                       visit.lastSeen - visit.firstSeen, Instant::fromUnixSeconds(double(visit.lastSeen))});
    }
    stats.recent = recent;
    return stats;
}

}  // namespace Stats
