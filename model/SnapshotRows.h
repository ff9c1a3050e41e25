#pragma once

#include "AnalyticsSnapshot.h"

#include <QJsonObject>

// The JSON of a snapshot's rows, shared by the persisted document and the stats reply. Only
// their dates differ: seconds since 2001 in the document, ISO 8601 text on the wire.
enum class DateForm { secondsSince2001, iso8601 };

namespace SnapshotRows {

// Readers throw JsonError for a missing key or a wrong type.
HourlyVisitorCount readHour(const QJsonObject &object, DateForm form);
CountryVisitors readCountry(const QJsonObject &object);
RecentVisitor readRecent(const QJsonObject &object, DateForm form);

QJsonObject write(const HourlyVisitorCount &hour, DateForm form);
QJsonObject write(const CountryVisitors &country);
QJsonObject write(const RecentVisitor &visitor, DateForm form);

}  // namespace SnapshotRows
