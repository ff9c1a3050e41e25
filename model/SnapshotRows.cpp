#include "SnapshotRows.h"

#include "Json.h"

namespace SnapshotRows {

namespace {

using namespace Json;

Instant dateAt(const QJsonObject &object, const QString &key, DateForm form)
{
    const QJsonValue value = required(object, key);
    return form == DateForm::iso8601 ? toIsoInstant(value, key) : Instant{toNumber(value, key)};
}

QJsonValue dateValue(Instant instant, DateForm form)
{
    return form == DateForm::iso8601 ? QJsonValue(instant.toIso8601()) : QJsonValue(instant.sinceReferenceDate);
}

}  // namespace

HourlyVisitorCount readHour(const QJsonObject &object, DateForm form)
{
    return {dateAt(object, QStringLiteral("start"), form), integerAt(object, QStringLiteral("visitors"))};
}

CountryVisitors readCountry(const QJsonObject &object)
{
    return {stringAt(object, QStringLiteral("code")), integerAt(object, QStringLiteral("visitors"))};
}

RecentVisitor readRecent(const QJsonObject &object, DateForm form)
{
    RecentVisitor visitor;
    visitor.id = stringAt(object, QStringLiteral("id"));
    visitor.country = stringAt(object, QStringLiteral("country"));
    visitor.referrer = stringAt(object, QStringLiteral("referrer"));
    visitor.pages = toStringList(required(object, QStringLiteral("pages")), QStringLiteral("pages"));
    visitor.clicks = toStringList(required(object, QStringLiteral("clicks")), QStringLiteral("clicks"));
    visitor.seconds = integerAt(object, QStringLiteral("seconds"));
    visitor.lastSeen = dateAt(object, QStringLiteral("lastSeen"), form);
    return visitor;
}

QJsonObject write(const HourlyVisitorCount &hour, DateForm form)
{
    return {{QStringLiteral("start"), dateValue(hour.start, form)}, {QStringLiteral("visitors"), hour.visitors}};
}

QJsonObject write(const CountryVisitors &country)
{
    return {{QStringLiteral("code"), country.code}, {QStringLiteral("visitors"), country.visitors}};
}

QJsonObject write(const RecentVisitor &visitor, DateForm form)
{
    return {
        {QStringLiteral("id"), visitor.id},
        {QStringLiteral("country"), visitor.country},
        {QStringLiteral("referrer"), visitor.referrer},
        {QStringLiteral("pages"), stringArray(visitor.pages)},
        {QStringLiteral("clicks"), stringArray(visitor.clicks)},
        {QStringLiteral("seconds"), visitor.seconds},
        {QStringLiteral("lastSeen"), dateValue(visitor.lastSeen, form)},
    };
}

}  // namespace SnapshotRows
