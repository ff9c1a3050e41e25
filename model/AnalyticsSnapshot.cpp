#include "AnalyticsSnapshot.h"

#include "Json.h"

namespace {

using namespace Json;

QJsonArray stringArray(const QList<QString> &strings)
{
    QJsonArray array;
    for (const auto &text : strings)
        array.append(text);
    return array;
}

qint64 integerAt(const QJsonObject &object, const QString &key)
{
    return toInteger(required(object, key), key);
}

Instant instantAt(const QJsonObject &object, const QString &key)
{
    return Instant{toNumber(required(object, key), key)};
}

std::optional<qint64> optionalInteger(const QJsonObject &object, const QString &key)
{
    if (auto value = optional(object, key))
        return toInteger(*value, key);
    return std::nullopt;
}

template <typename Record, typename Read>
QList<Record> records(const QJsonValue &value, const QString &key, Read read)
{
    QList<Record> result;
    for (const auto &element : toArray(value, key))
        result.append(read(toObject(element, key)));
    return result;
}

HourlyVisitorCount readHour(const QJsonObject &object)
{
    return {instantAt(object, QStringLiteral("start")), integerAt(object, QStringLiteral("visitors"))};
}

CountryVisitors readCountry(const QJsonObject &object)
{
    return {toString(required(object, QStringLiteral("code")), QStringLiteral("code")),
            integerAt(object, QStringLiteral("visitors"))};
}

RecentVisitor readRecent(const QJsonObject &object)
{
    RecentVisitor visitor;
    visitor.id = toString(required(object, QStringLiteral("id")), QStringLiteral("id"));
    visitor.country = toString(required(object, QStringLiteral("country")), QStringLiteral("country"));
    visitor.referrer = toString(required(object, QStringLiteral("referrer")), QStringLiteral("referrer"));
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
    QJsonArray countryArray;
    for (const auto &country : countries)
        countryArray.append(QJsonObject{{QStringLiteral("code"), country.code},
                                        {QStringLiteral("visitors"), country.visitors}});
    object.insert(QStringLiteral("countries"), countryArray);
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
    snapshot.visitorsWeek = optionalInteger(object, QStringLiteral("visitorsWeek"));
    snapshot.visitorsMonth = optionalInteger(object, QStringLiteral("visitorsMonth"));
    snapshot.visitorsAllTime = optionalInteger(object, QStringLiteral("visitorsAllTime"));
    if (auto countries = optional(object, QStringLiteral("countries")))
        snapshot.countries = records<CountryVisitors>(*countries, QStringLiteral("countries"), readCountry);
    if (auto recent = optional(object, QStringLiteral("recentVisitors")))
        snapshot.recentVisitors = records<RecentVisitor>(*recent, QStringLiteral("recentVisitors"), readRecent);
    return snapshot;
}
