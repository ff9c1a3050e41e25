#pragma once

#include "AnalyticsSnapshot.h"
#include "Instant.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// The stats endpoint's reply. Dates are ISO 8601 text in whole seconds; reading is strict
// (required keys, integral integers, no fractional seconds) and unknown keys are ignored.

// The reply's rows carry the same fields as the snapshot's; only their JSON differs
// (ISO 8601 dates here, seconds since 2001 in the persisted document).
using WireHour = HourlyVisitorCount;
using WireCountry = CountryVisitors;
using WireRecent = RecentVisitor;

struct WireStats {
    qint64 liveVisitors = 0;
    qint64 visitorsToday = 0;
    qint64 pageViewsToday = 0;
    QString liveWindowDescription;
    QList<WireHour> hourly;
    std::optional<bool> trackingInstalled;
    std::optional<qint64> visitorsWeek;
    std::optional<qint64> visitorsMonth;
    std::optional<qint64> visitorsAllTime;
    std::optional<QList<WireCountry>> countries;
    std::optional<QList<WireRecent>> recent;

    QJsonObject toJson() const;
    QByteArray encode() const;
    static WireStats fromJson(const QJsonObject &object);  // throws JsonError
    static WireStats decode(const QByteArray &bytes);      // throws JsonError

    // Any visitor or page view in the totals or in an hourly bucket.
    bool trafficSeen() const;
    AnalyticsSnapshot toSnapshot(Instant refreshedAt) const;

    bool operator==(const WireStats &) const = default;
};
