#pragma once

#include "Instant.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

struct HourlyVisitorCount {
    Instant start;
    qint64 visitors = 0;
    bool operator==(const HourlyVisitorCount &) const = default;
};

struct CountryVisitors {
    QString code;
    qint64 visitors = 0;
    bool operator==(const CountryVisitors &) const = default;
};

struct RecentVisitor {
    QString id;
    QString country;
    QString referrer;
    QList<QString> pages;
    QList<QString> clicks;
    qint64 seconds = 0;
    Instant lastSeen;
    bool operator==(const RecentVisitor &) const = default;
};

// The result of one successful fetch for one website. Its JSON form is the persisted
// document's: dates are seconds since 2001-01-01T00:00:00Z.
struct AnalyticsSnapshot {
    qint64 liveVisitors = 0;
    qint64 visitorsToday = 0;
    qint64 pageViewsToday = 0;
    // Absent only in snapshots stored without the key; distinct from an empty list.
    std::optional<QList<HourlyVisitorCount>> hourlyVisitors;
    QString liveWindowDescription;
    Instant refreshedAt;
    bool trackingInstalled = false;
    std::optional<qint64> visitorsWeek;
    std::optional<qint64> visitorsMonth;
    std::optional<qint64> visitorsAllTime;
    QList<CountryVisitors> countries;
    QList<RecentVisitor> recentVisitors;

    QJsonObject toJson() const;
    static AnalyticsSnapshot fromJson(const QJsonObject &object);  // throws JsonError

    bool operator==(const AnalyticsSnapshot &) const = default;
};
