#include "Instant.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

Instant Instant::now()
{
    return fromUnixSeconds(QDateTime::currentMSecsSinceEpoch() / 1000.0);
}

Instant Instant::fromDateTime(const QDateTime &dateTime)
{
    return fromUnixSeconds(dateTime.toMSecsSinceEpoch() / 1000.0);
}

namespace {

// Converting a double outside qint64's range to qint64 is undefined: clamp first. NaN, which
// no document can hold, takes the earliest end.
double clampedUnixSeconds(double seconds)
{
    if (!(seconds >= Instant::earliestUnixSeconds))
        return Instant::earliestUnixSeconds;
    return std::min(seconds, Instant::latestUnixSeconds);
}

}  // namespace

QDateTime Instant::toDateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::floor(clampedUnixSeconds(unixSeconds()) * 1000.0)), Qt::UTC);
}

std::optional<Instant> Instant::fromIso8601(const QString &text)
{
    // Qt's ISODate parser also takes fractions, week dates and missing zones: check the shape first.
    static const QRegularExpression shape(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})[Tt](\d{2}):(\d{2}):(\d{2})([Zz]|[+-]\d{2}:\d{2})$)"));
    const auto match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    const QString zone = match.captured(7);
    if (zone.size() == 6) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (zone.startsWith(u'-') ? -1 : 1);
    }
    const QDateTime utc(date, time, Qt::UTC);
    const double seconds = double(utc.toSecsSinceEpoch() - offsetSeconds);
    // "0001-01-01T00:00:00+01:00" is in year 0, which no wire date can name.
    if (seconds < earliestUnixSeconds || seconds > latestUnixSeconds)
        return std::nullopt;
    return fromUnixSeconds(seconds);
}

QString Instant::toIso8601() const
{
    const auto seconds = qint64(std::floor(clampedUnixSeconds(unixSeconds())));
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}
