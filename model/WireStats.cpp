#include "WireStats.h"

#include "Json.h"

#include <QJsonArray>
#include <algorithm>

namespace {

using namespace Json;

Instant dateAt(const QJsonObject &object, const QString &key)
{
    return toIsoInstant(required(object, key), key);
}

WireHour readHour(const QJsonObject &object)
{
    return {dateAt(object, QStringLiteral("start")), integerAt(object, QStringLiteral("visitors"))};
}

WireCountry readCountry(const QJsonObject &object)
{
    return {stringAt(object, QStringLiteral("code")), integerAt(object, QStringLiteral("visitors"))};
}

WireRecent readRecent(const QJsonObject &object)
{
    WireRecent recent;
    recent.id = stringAt(object, QStringLiteral("id"));
    recent.country = stringAt(object, QStringLiteral("country"));
    recent.referrer = stringAt(object, QStringLiteral("referrer"));
    recent.pages = toStringList(required(object, QStringLiteral("pages")), QStringLiteral("pages"));
    recent.clicks = toStringList(required(object, QStringLiteral("clicks")), QStringLiteral("clicks"));
    recent.seconds = integerAt(object, QStringLiteral("seconds"));
    recent.lastSeen = dateAt(object, QStringLiteral("lastSeen"));
    return recent;
}

QJsonObject writeHour(const WireHour &hour)
{
    return {{QStringLiteral("start"), hour.start.toIso8601()}, {QStringLiteral("visitors"), hour.visitors}};
}

QJsonObject writeCountry(const WireCountry &country)
{
    return {{QStringLiteral("code"), country.code}, {QStringLiteral("visitors"), country.visitors}};
}

QJsonObject writeRecent(const WireRecent &recent)
{
    return {
        {QStringLiteral("id"), recent.id},
        {QStringLiteral("country"), recent.country},
        {QStringLiteral("referrer"), recent.referrer},
        {QStringLiteral("pages"), stringArray(recent.pages)},
        {QStringLiteral("clicks"), stringArray(recent.clicks)},
        {QStringLiteral("seconds"), recent.seconds},
        {QStringLiteral("lastSeen"), recent.lastSeen.toIso8601()},
    };
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
        object.insert(QStringLiteral("countries"), array(*countries, writeCountry));
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
        stats.countries = records<WireCountry>(*value, QStringLiteral("countries"), readCountry);
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
