#pragma once

#include <QDateTime>
#include <QString>
#include <compare>
#include <optional>

// An absolute instant kept as seconds since 2001-01-01T00:00:00Z, the form the
// persisted document stores, so a stored value reads back bit-for-bit equal.
struct Instant {
    static constexpr double referenceToUnix = 978307200.0;

    double sinceReferenceDate = 0;

    static Instant now();
    static Instant fromUnixSeconds(double seconds) { return {seconds - referenceToUnix}; }
    static Instant fromDateTime(const QDateTime &dateTime);

    double unixSeconds() const { return sinceReferenceDate + referenceToUnix; }
    QDateTime toDateTime() const;  // millisecond precision, UTC
    Instant addingSeconds(double seconds) const { return {sinceReferenceDate + seconds}; }
    double secondsSince(Instant other) const { return sinceReferenceDate - other.sinceReferenceDate; }

    // Wire dates: "2024-05-01T13:00:00Z" or with a numeric zone, never fractional seconds.
    static std::optional<Instant> fromIso8601(const QString &text);
    QString toIso8601() const;  // UTC, whole seconds

    auto operator<=>(const Instant &) const = default;
};
