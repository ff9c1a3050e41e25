#include "ExampleWebsite.h"

#include <QDateTime>
#include <QTimeZone>
#include <array>
#include <cmath>

namespace ExampleWebsite {

namespace {

constexpr std::uint64_t fallbackSeed = 0x9E3779B97F4A7C15ULL;
constexpr std::array<int, 24> baseByHour{2,  1,  1,  0,  1,  3,  6,  11, 18, 24, 29, 27,
                                         22, 25, 31, 28, 21, 16, 12, 9,  7,  5,  4,  3};

QDateTime localTime(Instant instant)
{
    return instant.toDateTime().toLocalTime();
}

struct RecentRow {
    const char16_t *id;
    const char16_t *country;
    const char16_t *referrer;
    QList<QString> pages;
    QList<QString> clicks;
    qint64 baseSeconds;
    qint64 minuteOffset;
};

}  // namespace

bool isExampleDomain(const QString &text)
{
    QString value = text.trimmed().toLower();
    value.remove(QStringLiteral("https://"));
    value.remove(QStringLiteral("http://"));
    const auto pieces = value.split(u'/', Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return false;
    const QString &host = pieces.first();
    const QString example = QString::fromUtf16(domain);
    return host == example || host == QStringLiteral("www.") + example;
}

std::uint64_t seed(Instant now)
{
    const qint64 startOfDay = localTime(now).date().startOfDay(Qt::LocalTime).toSecsSinceEpoch();
    // A day before 1970 cannot become an unsigned seed; such a clock gets the fallback too.
    if (startOfDay <= 0)
        return fallbackSeed;
    return std::uint64_t(startOfDay);
}

AnalyticsSnapshot exampleSnapshot(Instant now)
{
    Generator generator{seed(now)};

    const QTime time = localTime(now).time();
    const double unix = now.unixSeconds();
    const double intoHour = time.minute() * 60 + time.second() + (unix - std::floor(unix));
    const Instant hourStart = now.addingSeconds(-intoHour);

    QList<HourlyVisitorCount> hours;
    for (int offset = -23; offset <= 0; ++offset) {
        const Instant start = hourStart.addingSeconds(offset * 3600.0);
        const int hour = localTime(start).time().hour();
        const std::uint64_t s = generator.next();
        hours.append({start, qint64(baseByHour[hour] + s % 5)});
    }

    const std::uint64_t a = generator.next(), b = generator.next(), c = generator.next();
    const std::uint64_t d = generator.next(), e = generator.next(), f = generator.next();

    QList<CountryVisitors> countries;
    countries.append({QStringLiteral("AZ"), qint64(48 + generator.next() % 20)});
    countries.append({QStringLiteral("DE"), qint64(31 + generator.next() % 12)});
    countries.append({QStringLiteral("US"), qint64(22 + generator.next() % 10)});
    countries.append({QStringLiteral("TR"), qint64(14 + generator.next() % 8)});
    countries.append({QStringLiteral("GB"), qint64(9 + generator.next() % 6)});

    const std::array<RecentRow, 5> rows{{
        {u"az-1",
         u"AZ",
         u"https://www.google.com/",
         {QStringLiteral("/")},
         {QStringLiteral("Pricing"), QStringLiteral("Get started")},
         154,
         0},
        {u"de-2",
         u"DE",
         u"https://news.ycombinator.com/",
         {QStringLiteral("/"), QStringLiteral("/docs")},
         {QStringLiteral("Documentation")},
         86,
         12},
        {u"us-3", u"US", u"", {QStringLiteral("/pricing")}, {QStringLiteral("Start trial")}, 243, 24},
        {u"tr-4",
         u"TR",
         u"https://twitter.com/",
         {QStringLiteral("/"), QStringLiteral("/blog")},
         {QStringLiteral("Read more")},
         41,
         36},
        {u"gb-5",
         u"GB",
         u"https://github.com/",
         {QStringLiteral("/docs"), QStringLiteral("/docs/install")},
         {QStringLiteral("Install")},
         312,
         48},
    }};
    QList<RecentVisitor> recent;
    for (const auto &row : rows) {
        const std::uint64_t m = generator.next();
        const std::uint64_t t = generator.next();
        RecentVisitor visitor;
        visitor.id = QString::fromUtf16(row.id);
        visitor.country = QString::fromUtf16(row.country);
        visitor.referrer = QString::fromUtf16(row.referrer);
        visitor.pages = row.pages;
        visitor.clicks = row.clicks;
        visitor.seconds = row.baseSeconds + qint64(t % 40);
        visitor.lastSeen = now.addingSeconds(-60.0 * double(qint64(m % 180) + row.minuteOffset));
        recent.append(visitor);
    }

    AnalyticsSnapshot snapshot;
    const qint64 today = 186 + qint64(a % 240);
    const qint64 week = today + 640 + qint64(d % 420);
    const qint64 month = week + 2100 + qint64(e % 1600);
    snapshot.liveVisitors = 3 + qint64(c % 8);
    snapshot.visitorsToday = today;
    snapshot.pageViewsToday = today + 140 + qint64(b % 280);
    snapshot.hourlyVisitors = hours;
    snapshot.refreshedAt = now;
    snapshot.trackingInstalled = true;
    snapshot.visitorsWeek = week;
    snapshot.visitorsMonth = month;
    snapshot.visitorsAllTime = month + 8400 + qint64(f % 3200);
    snapshot.countries = countries;
    snapshot.recentVisitors = recent;
    return snapshot;
}

}  // namespace ExampleWebsite
