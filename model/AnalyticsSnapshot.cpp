#include "AnalyticsSnapshot.h"

#include "Json.h"

namespace {

using namespace Json;

Instant instantAt(const QJsonObject &object, const QString &key)
{
    return Instant{toNumber(required(object, key), key)};
}

HourlyVisitorCount readHour(const QJsonObject &object)
{
    return {instantAt(object, QStringLiteral("start")), integerAt(object, QStringLiteral("visitors"))};
}

CountryVisitors readCountry(const QJsonObject &object)
{
    return {stringAt(object, QStringLiteral("code")),
            integerAt(object, QStringLiteral("visitors"))};
}

RecentVisitor readRecent(const QJsonObject &object)
{
    RecentVisitor visitor;
    visitor.id = stringAt(object, QStringLiteral("id"));
    visitor.country = stringAt(object, QStringLiteral("country"));
    visitor.referrer = stringAt(object, QStringLiteral("referrer"));
    visitor.pages = toStringList(required(object, QStringLiteral("pages")), QStringLiteral("pages"));
    visitor.clicks = toStringList(required(object, QStringLiteral("clicks")), QStringLiteral("clicks"));
    visitor.seconds = integerAt(object, QStringLiteral("seconds"));
    visitor.lastSeen = instantAt(object, QStringLiteral("lastSeen"));
    return visitor;
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
    if (hourlyVisitors) {
        QJsonArray hours;
        for (const auto &hour : *hourlyVisitors)
            hours.append(QJsonObject{{QStringLiteral("start"), hour.start.sinceReferenceDate},
                                     {QStringLiteral("visitors"), hour.visitors}});
        object.insert(QStringLiteral("hourlyVisitors"), hours);
    }
    if (visitorsWeek)
        object.insert(QStringLiteral("visitorsWeek"), *visitorsWeek);
    if (visitorsMonth)
        object.insert(QStringLiteral("visitorsMonth"), *visitorsMonth);
    if (visitorsAllTime)
        object.insert(QStringLiteral("visitorsAllTime"), *visitorsAllTime);
    object.insert(QStringLiteral("countries"), array(countries, [](const CountryVisitors &country) {
                      return QJsonObject{{QStringLiteral("code"), country.code},
                                         {QStringLiteral("visitors"), country.visitors}};
                  }));
    QJsonArray recentArray;
    for (const auto &visitor : recentVisitors)
        recentArray.append(QJsonObject{
            {QStringLiteral("id"), visitor.id},
            {QStringLiteral("country"), visitor.country},
            {QStringLiteral("referrer"), visitor.referrer},
            {QStringLiteral("pages"), stringArray(visitor.pages)},
            {QStringLiteral("clicks"), stringArray(visitor.clicks)},
            {QStringLiteral("seconds"), visitor.seconds},
            {QStringLiteral("lastSeen"), visitor.lastSeen.sinceReferenceDate},
        });
    object.insert(QStringLiteral("recentVisitors"), recentArray);
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
    snapshot.liveWindowDescription = toString(required(object, QStringLiteral("liveWindowDescription")),
                                              QStringLiteral("liveWindowDescription"));
    snapshot.refreshedAt = instantAt(object, QStringLiteral("refreshedAt"));
    if (auto tracking = optional(object, QStringLiteral("trackingInstalled")))
        snapshot.trackingInstalled = toBool(*tracking, QStringLiteral("trackingInstalled"));
    snapshot.visitorsWeek = optionalIntegerAt(object, QStringLiteral("visitorsWeek"));
    snapshot.visitorsMonth = optionalIntegerAt(object, QStringLiteral("visitorsMonth"));
    snapshot.visitorsAllTime = optionalIntegerAt(object, QStringLiteral("visitorsAllTime"));
    if (auto countries = optional(object, QStringLiteral("countries")))
        snapshot.countries = records<CountryVisitors>(*countries, QStringLiteral("countries"), readCountry);
    if (auto recent = optional(object, QStringLiteral("recentVisitors")))
        snapshot.recentVisitors = records<RecentVisitor>(*recent, QStringLiteral("recentVisitors"), readRecent);
    return snapshot;
}
