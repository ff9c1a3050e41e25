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

    // The instants a date can show and the wire can carry: years 1 to 9999 in UTC. A stored
    // value may lie anywhere a double reaches; conversions take the nearest end of this range.
    static constexpr double earliestUnixSeconds = -62135596800.0;  // 0001-01-01T00:00:00Z
    static constexpr double latestUnixSeconds = 253402300799.0;    // 9999-12-31T23:59:59Z

    double unixSeconds() const { return sinceReferenceDate + referenceToUnix; }
    QDateTime toDateTime() const;  // millisecond precision, UTC, within the range above
    Instant addingSeconds(double seconds) const { return {sinceReferenceDate + seconds}; }
    double secondsSince(Instant other) const { return sinceReferenceDate - other.sinceReferenceDate; }

    // Wire dates: "2024-05-01T13:00:00Z" or with a numeric zone, never fractional seconds, and
    // only instants within the range above, so that every one read can be written back.
    static std::optional<Instant> fromIso8601(const QString &text);
    QString toIso8601() const;  // UTC, whole seconds, within the range above

    // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 misreads the defaulted comparison
    auto operator<=>(const Instant &) const = default;
};
