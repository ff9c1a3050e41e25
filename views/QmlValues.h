#pragma once

#include "AnalyticsSnapshot.h"
#include "Website.h"

#include <QUuid>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

// The plain JavaScript values the pages see of the model's records, and the way back.
// Instants travel as seconds since 2001-01-01T00:00:00Z, identifiers as upper-case UUID text.
namespace QmlValues {

QString idText(const QUuid &id);
// No value for text that is not a UUID.
std::optional<QUuid> idFrom(const QString &text);

// {id, displayName, domain, dashboardURLString (as stored, "" for none), dashboardURL (the
//  address to open, "" when there is no usable one), isExample}
QVariantMap website(const Website &website);
// The record of such a value; "" in dashboardURLString means no dashboard.
Website websiteFrom(const QVariantMap &value);
// {liveVisitors, visitorsToday, pageViewsToday, hourlyVisitors (list, or null when absent),
//  refreshedAt, trackingInstalled}; the countries and visitors are list models of their own.
QVariantMap snapshot(const AnalyticsSnapshot &snapshot);

QVariantList hours(const QList<HourlyVisitorCount> &hours);
QList<HourlyVisitorCount> hoursFrom(const QVariantList &values);

}  // namespace QmlValues
