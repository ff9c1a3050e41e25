#include "QmlValues.h"

#include "ExampleWebsite.h"

namespace QmlValues {

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> idFrom(const QString &text)
{
    const QUuid id = QUuid::fromString(text);
    return id.isNull() ? std::nullopt : std::optional(id);
}

QVariantMap website(const Website &website)
{
    const std::optional<QUrl> dashboard = website.dashboardURL();
    return {
        {QStringLiteral("id"), idText(website.id)},
        {QStringLiteral("displayName"), website.displayName},
        {QStringLiteral("domain"), website.domain},
        {QStringLiteral("dashboardURLString"), website.dashboardURLString.value_or(QString())},
        {QStringLiteral("dashboardURL"), dashboard ? dashboard->toString() : QString()},
        {QStringLiteral("isExample"), ExampleWebsite::isExampleDomain(website.domain)},
    };
}

Website websiteFrom(const QVariantMap &value)
{
    const QString dashboard = value.value(QStringLiteral("dashboardURLString")).toString();
    return {idFrom(value.value(QStringLiteral("id")).toString()).value_or(QUuid()),
            value.value(QStringLiteral("displayName")).toString(), value.value(QStringLiteral("domain")).toString(),
            dashboard.isEmpty() ? std::nullopt : std::optional(dashboard)};
}

QVariantMap snapshot(const AnalyticsSnapshot &snapshot)
{
    return {
        {QStringLiteral("liveVisitors"), snapshot.liveVisitors},
        {QStringLiteral("visitorsToday"), snapshot.visitorsToday},
        {QStringLiteral("pageViewsToday"), snapshot.pageViewsToday},
        {QStringLiteral("hourlyVisitors"),
         snapshot.hourlyVisitors ? QVariant(hours(*snapshot.hourlyVisitors)) : QVariant::fromValue(nullptr)},
        {QStringLiteral("refreshedAt"), snapshot.refreshedAt.sinceReferenceDate},
        {QStringLiteral("trackingInstalled"), snapshot.trackingInstalled},
    };
}

QVariantList hours(const QList<HourlyVisitorCount> &hours)
{
    QVariantList values;
    for (const HourlyVisitorCount &hour : hours)
        values.append(QVariantMap{{QStringLiteral("start"), hour.start.sinceReferenceDate},
                                  {QStringLiteral("visitors"), hour.visitors}});
    return values;
}

QList<HourlyVisitorCount> hoursFrom(const QVariantList &values)
{
    QList<HourlyVisitorCount> hours;
    for (const QVariant &value : values) {
        const QVariantMap map = value.toMap();
        hours.append({Instant{map.value(QStringLiteral("start")).toDouble()},
                      map.value(QStringLiteral("visitors")).toLongLong()});
    }
    return hours;
}

}  // namespace QmlValues
