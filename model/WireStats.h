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

struct WireHour {
    Instant start;
    qint64 visitors = 0;
    bool operator==(const WireHour &) const = default;
};

struct WireCountry {
    QString code;
    qint64 visitors = 0;
    bool operator==(const WireCountry &) const = default;
};

struct WireRecent {
    QString id;
    QString country;
    QString referrer;
    QList<QString> pages;
    QList<QString> clicks;
    qint64 seconds = 0;
    Instant lastSeen;
    bool operator==(const WireRecent &) const = default;
};

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
