#include "WireStats.h"

#include "Json.h"
#include "SnapshotRows.h"

#include <QJsonArray>
#include <algorithm>

namespace {

using namespace Json;

constexpr DateForm form = DateForm::iso8601;

WireHour readHour(const QJsonObject &object)
{
    return SnapshotRows::readHour(object, form);
}

WireRecent readRecent(const QJsonObject &object)
{
    return SnapshotRows::readRecent(object, form);
}

QJsonObject writeHour(const WireHour &hour)
{
    return SnapshotRows::write(hour, form);
}

QJsonObject writeRecent(const WireRecent &recent)
{
    return SnapshotRows::write(recent, form);
}

}  // namespace

QJsonObject WireStats::toJson() const
{
    QJsonObject object{
        {QStringLiteral("liveVisitors"), liveVisitors},
        {QStringLiteral("visitorsToday"), visitorsToday},
        {QStringLiteral("pageViewsToday"), pageViewsToday},
        {QStringLiteral("liveWindowDescription"), liveWindowDescription},
        {QStringLiteral("hourly"), array(hourly, writeHour)},
    };
    if (trackingInstalled)
        object.insert(QStringLiteral("trackingInstalled"), *trackingInstalled);
    if (visitorsWeek)
        object.insert(QStringLiteral("visitorsWeek"), *visitorsWeek);
    if (visitorsMonth)
        object.insert(QStringLiteral("visitorsMonth"), *visitorsMonth);
    if (visitorsAllTime)
        object.insert(QStringLiteral("visitorsAllTime"), *visitorsAllTime);
    if (countries)
        object.insert(QStringLiteral("countries"),
                      array(*countries, [](const WireCountry &country) { return SnapshotRows::write(country); }));
    if (recent)
        object.insert(QStringLiteral("recent"), array(*recent, writeRecent));
    return object;
}

QByteArray WireStats::encode() const
{
    return Json::compact(toJson());
}

WireStats WireStats::fromJson(const QJsonObject &object)
{
    WireStats stats;
    stats.liveVisitors = integerAt(object, QStringLiteral("liveVisitors"));
    stats.visitorsToday = integerAt(object, QStringLiteral("visitorsToday"));
    stats.pageViewsToday = integerAt(object, QStringLiteral("pageViewsToday"));
    stats.liveWindowDescription = stringAt(object, QStringLiteral("liveWindowDescription"));
    stats.hourly = records<WireHour>(required(object, QStringLiteral("hourly")), QStringLiteral("hourly"), readHour);
    if (const auto value = optional(object, QStringLiteral("trackingInstalled")))
        stats.trackingInstalled = toBool(*value, QStringLiteral("trackingInstalled"));
    stats.visitorsWeek = optionalIntegerAt(object, QStringLiteral("visitorsWeek"));
    stats.visitorsMonth = optionalIntegerAt(object, QStringLiteral("visitorsMonth"));
    stats.visitorsAllTime = optionalIntegerAt(object, QStringLiteral("visitorsAllTime"));
    if (const auto value = optional(object, QStringLiteral("countries")))
        stats.countries = records<WireCountry>(*value, QStringLiteral("countries"), SnapshotRows::readCountry);
    if (const auto value = optional(object, QStringLiteral("recent")))
        stats.recent = records<WireRecent>(*value, QStringLiteral("recent"), readRecent);
    return stats;
}

WireStats WireStats::decode(const QByteArray &bytes)
{
    return fromJson(Json::parseObject(bytes));
}

bool WireStats::trafficSeen() const
{
    if (liveVisitors > 0 || visitorsToday > 0 || pageViewsToday > 0)
        return true;
    return std::any_of(hourly.cbegin(), hourly.cend(), [](const WireHour &hour) { return hour.visitors > 0; });
}

AnalyticsSnapshot WireStats::toSnapshot(Instant refreshedAt) const
{
    AnalyticsSnapshot snapshot;
    snapshot.liveVisitors = liveVisitors;
    snapshot.visitorsToday = visitorsToday;
    snapshot.pageViewsToday = pageViewsToday;
    snapshot.liveWindowDescription = liveWindowDescription;
    snapshot.hourlyVisitors = hourly;
    snapshot.refreshedAt = refreshedAt;
    snapshot.trackingInstalled = trackingInstalled.value_or(false) || trafficSeen();
    snapshot.visitorsWeek = visitorsWeek;
    snapshot.visitorsMonth = visitorsMonth;
    snapshot.visitorsAllTime = visitorsAllTime;
    snapshot.countries = countries.value_or(QList<WireCountry>{});
    snapshot.recentVisitors = recent.value_or(QList<WireRecent>{});
    return snapshot;
}
