#pragma once

#include <QtGlobal>
#include <functional>

// Seconds since the Unix epoch. Everything that depends on the time of day asks this, so tests
// can step through midnights and salt changes without waiting.
using Clock = std::function<qint64()>;

Clock systemClock();

constexpr qint64 secondsPerDay = 86400;

inline qint64 floorDiv(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

inline qint64 utcDay(qint64 at)
{
    return floorDiv(at, secondsPerDay);
}

// The counters' unit: a quarter of an hour, so that any zone in use has its own midnight.
constexpr qint64 slotLength = 15 * 60;

inline qint64 slotOf(qint64 at)
{
    return floorDiv(at, slotLength);
}
