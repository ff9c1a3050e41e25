#include "AnalyticsSnapshot.h"

#include "Json.h"
#include "SnapshotRows.h"

namespace {

using namespace Json;

constexpr DateForm form = DateForm::secondsSince2001;

HourlyVisitorCount readHour(const QJsonObject &object)
{
    return SnapshotRows::readHour(object, form);
}

RecentVisitor readRecent(const QJsonObject &object)
{
    return SnapshotRows::readRecent(object, form);
}

}  // namespace

QJsonObject AnalyticsSnapshot::toJson() const
{
    QJsonObject object{
        {QStringLiteral("liveVisitors"), liveVisitors},
        {QStringLiteral("visitorsToday"), visitorsToday},
        {QStringLiteral("pageViewsToday"), pageViewsToday},
        {QStringLiteral("liveWindowDescription"), liveWindowDescription},
        {QStringLiteral("refreshedAt"), refreshedAt.sinceReferenceDate},
        {QStringLiteral("trackingInstalled"), trackingInstalled},
    };
    if (hourlyVisitors)
        object.insert(QStringLiteral("hourlyVisitors"), array(*hourlyVisitors, [](const HourlyVisitorCount &hour) {
                          return SnapshotRows::write(hour, form);
                      }));
    if (visitorsWeek)
        object.insert(QStringLiteral("visitorsWeek"), *visitorsWeek);
    if (visitorsMonth)
        object.insert(QStringLiteral("visitorsMonth"), *visitorsMonth);
    if (visitorsAllTime)
        object.insert(QStringLiteral("visitorsAllTime"), *visitorsAllTime);
    object.insert(QStringLiteral("countries"),
                  array(countries, [](const CountryVisitors &country) { return SnapshotRows::write(country); }));
    object.insert(QStringLiteral("recentVisitors"), array(recentVisitors, [](const RecentVisitor &visitor) {
                      return SnapshotRows::write(visitor, form);
                  }));
    return object;
}

AnalyticsSnapshot AnalyticsSnapshot::fromJson(const QJsonObject &object)
{
    AnalyticsSnapshot snapshot;
    snapshot.liveVisitors = integerAt(object, QStringLiteral("liveVisitors"));
    snapshot.visitorsToday = integerAt(object, QStringLiteral("visitorsToday"));
    snapshot.pageViewsToday = integerAt(object, QStringLiteral("pageViewsToday"));
    if (auto hours = optional(object, QStringLiteral("hourlyVisitors")))
        snapshot.hourlyVisitors = records<HourlyVisitorCount>(*hours, QStringLiteral("hourlyVisitors"), readHour);
    snapshot.liveWindowDescription =
        toString(required(object, QStringLiteral("liveWindowDescription")), QStringLiteral("liveWindowDescription"));
    snapshot.refreshedAt =
        Instant{toNumber(required(object, QStringLiteral("refreshedAt")), QStringLiteral("refreshedAt"))};
    if (auto tracking = optional(object, QStringLiteral("trackingInstalled")))
        snapshot.trackingInstalled = toBool(*tracking, QStringLiteral("trackingInstalled"));
    snapshot.visitorsWeek = optionalIntegerAt(object, QStringLiteral("visitorsWeek"));
    snapshot.visitorsMonth = optionalIntegerAt(object, QStringLiteral("visitorsMonth"));
    snapshot.visitorsAllTime = optionalIntegerAt(object, QStringLiteral("visitorsAllTime"));
    if (auto countries = optional(object, QStringLiteral("countries")))
        snapshot.countries =
            records<CountryVisitors>(*countries, QStringLiteral("countries"), SnapshotRows::readCountry);
    if (auto recent = optional(object, QStringLiteral("recentVisitors")))
        snapshot.recentVisitors = records<RecentVisitor>(*recent, QStringLiteral("recentVisitors"), readRecent);
    return snapshot;
}
