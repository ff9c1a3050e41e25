// Records, their JSON forms, the typed-text rules, failure messages and demo figures.
#include "AnalyticsFailure.h"
#include "AnalyticsSnapshot.h"
#include "Choices.h"
#include "ExampleWebsite.h"
#include "Json.h"
#include "PersistedState.h"
#include "Website.h"

#include <QTest>

namespace {

const QByteArray minimalSnapshot =
    R"({"liveVisitors":1,"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"","refreshedAt":10.5})";

AnalyticsSnapshot readSnapshot(const QByteArray &json)
{
    return AnalyticsSnapshot::fromJson(Json::parseObject(json));
}

template<typename Read>
bool rejected(Read read)
{
    try {
        read();
        return false;
    } catch (const JsonError &) {
        return true;
    }
}

Instant utc(int year, int month, int day, int hour, int minute)
{
    return Instant::fromDateTime(QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC));
}

void setZone(const char *zone)
{
    qputenv("TZ", zone);
    tzset();
}

}  // namespace

class ModelTest : public QObject
{
    Q_OBJECT

private slots:
    void snapshotJson()
    {
        const AnalyticsSnapshot snapshot = readSnapshot(minimalSnapshot);
        QVERIFY(!snapshot.trackingInstalled);
        QVERIFY(snapshot.countries.isEmpty() && snapshot.recentVisitors.isEmpty());
        QVERIFY(!snapshot.hourlyVisitors && !snapshot.visitorsWeek && !snapshot.visitorsMonth &&
                !snapshot.visitorsAllTime);
        // Absent optionals are left out when written; the lists and the flag never are.
        QCOMPARE(snapshot.toJson().keys(),
                 (QStringList{"countries", "liveVisitors", "liveWindowDescription", "pageViewsToday", "recentVisitors",
                              "refreshedAt", "trackingInstalled", "visitorsToday"}));
        // An empty hour list is not an absent one; a null week is absent.
        const auto empty =
            readSnapshot(QByteArray(minimalSnapshot).replace("}", R"(,"hourlyVisitors":[],"visitorsWeek":null})"));
        QVERIFY(empty.hourlyVisitors && empty.hourlyVisitors->isEmpty() && !empty.visitorsWeek);
        QVERIFY(AnalyticsSnapshot::fromJson(empty.toJson()).hourlyVisitors.has_value());
        // 64-bit integers stay exact both ways.
        const auto big = readSnapshot(QByteArray(minimalSnapshot).replace(":1,", ":9223372036854775807,"));
        QCOMPARE(readSnapshot(Json::compact(big.toJson())).liveVisitors, std::numeric_limits<qint64>::max());

        const char *wrongShapes[][2] = {
            {R"("liveVisitors":1,)", ""},
            {":1,", ":1.5,"},
            {":1,", R"(:"1",)"},
            {"10.5", R"("2024-05-01T13:00:00Z")"},
            {"10.5", R"(1,"countries":[{"code":"DE"}])"},
        };
        for (const auto &[from, to] : wrongShapes)
            QVERIFY2(rejected([&] { readSnapshot(QByteArray(minimalSnapshot).replace(from, to)); }), to);
    }

    void websiteJson()
    {
        const auto website = Website::fromJson(Json::parseObject(
            R"({"id":"0f8fad5b-d9cb-469f-a165-70867728950e","displayName":"Shop","domain":"shop.example.org"})"));
        // The id is written upper case whatever case it was read in; no dashboard, no key.
        QCOMPARE(website.toJson(),
                 (QJsonObject{{"id", "0F8FAD5B-D9CB-469F-A165-70867728950E"},
                              {"displayName", "Shop"},
                              {"domain", "shop.example.org"}}));
        for (const char *bad : {R"({"id":"x","displayName":"a","domain":"b"})",
                                R"({"id":"0f8fad5b-d9cb-469f-a165-70867728950e","domain":"b"})",
                                R"({"id":"{0f8fad5b-d9cb-469f-a165-70867728950e}","displayName":"a","domain":"b"})"})
            QVERIFY2(rejected([&] { Website::fromJson(Json::parseObject(bad)); }), bad);
    }

    void persistedDocument()
    {
        // Only the offered intervals are read, and the snapshots and dates must have their form.
        QVERIFY(PersistedState::decode(R"({"websites":[],"refreshInterval":30,"snapshots":[]})"));
        for (const char *bad :
             {R"({"websites":[],"refreshInterval":45,"snapshots":[]})", R"({"websites":[],"refreshInterval":30})",
              R"({"websites":[],"refreshInterval":30,"snapshots":[],"cloudUpdatedAt":"2024"})"})
            QVERIFY2(!PersistedState::decode(bad), bad);
        const QByteArray bytes = PersistedState{}.encode();
        QVERIFY(!bytes.contains("selectedWebsiteID") && !bytes.contains("cloudUpdatedAt"));
        QCOMPARE(RefreshIntervals::title(RefreshInterval::thirty), QStringLiteral("30 seconds"));
    }

    void typedAddresses()
    {
        const QList<std::pair<QString, QString>> domains{
            {"  HTTPS://WWW.Example.ORG/path?q=1#f \n", "www.example.org"},
            {"http://localhost:8080/x", "localhost:8080"},
            {"example.org:8443", "example.org:8443"},
            {"https://me:pw@example.org", "example.org"},
            {"intranet", ""},  // empty: no value
            {"exa mple.org", ""},
            {" \t\n", ""},
        };
        for (const auto &[typed, expected] : domains)
            QVERIFY2(Website::normalizedDomain(typed).value_or(QString()) == expected, qPrintable(typed));

        QCOMPARE(Website::normalizedDashboardURL("  http://dash.example.org/x \n"), "http://dash.example.org/x");
        QCOMPARE(Website::normalizedDashboardURL("https://"), std::nullopt);
        QCOMPARE(Website::normalizedDashboardURL("example.org"), std::nullopt);
        // A stored address that is no web page is never offered as a link.
        Website website{QUuid::createUuid(), "a", "a.org", QStringLiteral("ftp://dash.example.org/")};
        QCOMPARE(website.dashboardURL(), std::nullopt);
        website.dashboardURLString = QStringLiteral("https://dash.example.org/");
        QCOMPARE(website.dashboardURL(), QUrl("https://dash.example.org/"));
    }

    void onlyACancelledFetchGoesUnmentioned()
    {
        for (auto failure : AnalyticsFailures::allCases())
            QCOMPARE(AnalyticsFailures::message(failure).isEmpty(), failure == AnalyticsFailure::cancelled);
    }

    void wireDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("utc");  // empty: refused
        const auto row = [](const char *name, const char *text, const char *utc) {
            QTest::newRow(name) << QString::fromLatin1(text) << QString::fromLatin1(utc);
        };
        row("numeric zone", "2024-05-01T15:30:00+02:30", "2024-05-01T13:00:00Z");
        row("fraction", "2024-05-01T13:00:00.5Z", "");
        row("no zone", "2024-05-01T13:00:00", "");
        row("no such day", "2024-02-30T13:00:00Z", "");
        // Every date read must be one the wire form can write back.
        row("first instant", "0001-01-01T23:59:00+23:59", "0001-01-01T00:00:00Z");
        row("year 0", "0001-01-01T00:00:00+23:59", "");
        row("last instant", "9999-12-31T23:59:59Z", "9999-12-31T23:59:59Z");
        row("year 10000", "9999-12-31T23:59:59-00:01", "");
    }

    void wireDates()
    {
        QFETCH(QString, text);
        QFETCH(QString, utc);
        const auto instant = Instant::fromIso8601(text);
        QCOMPARE(instant ? instant->toIso8601() : QString(), utc);
        if (instant)
            QCOMPARE(Instant::fromIso8601(utc), instant);
    }

    void storedDatesOutOfRange_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("far future") << 7.36e76 << "9999-12-31T23:59:59Z";
        QTest::newRow("far past") << -7.36e76 << "0001-01-01T00:00:00Z";
        QTest::newRow("just in range") << 253402300799.0 - Instant::referenceToUnix << "9999-12-31T23:59:59Z";
    }

    void storedDatesOutOfRange()
    {
        // Any double is a readable stored date; what shows it takes the nearest end of the range.
        QFETCH(double, stored);
        QFETCH(QString, shown);
        QCOMPARE(Instant{stored}.toDateTime().toString(Qt::ISODate), shown);
        QCOMPARE(Instant{stored}.toIso8601(), shown);
        AnalyticsSnapshot snapshot;
        snapshot.refreshedAt = Instant{stored};
        PersistedState state;
        state.snapshots = {{QUuid::createUuid(), snapshot}};
        QCOMPARE(PersistedState::decode(state.encode()), state);
    }

    void exampleDomains()
    {
        for (const char *yes : {"example.com", " HTTPS://www.Example.com/path", "http://example.com"})
            QVERIFY2(ExampleWebsite::isExampleDomain(yes), yes);
        for (const char *no : {"example.com:8080", "example.com.", "shop.example.com", "///", "", "example.org"})
            QVERIFY2(!ExampleWebsite::isExampleDomain(no), no);
    }

    void exampleFiguresMatchHandComputedValues_data()
    {
        QTest::addColumn<qint64>("figure");
        QTest::addColumn<qint64>("expected");
        const auto row = [](const char *name, qint64 figure, qint64 expected) {
            QTest::newRow(name) << figure << expected;
        };
        // Worked out by hand from the generator, for 2026-03-10 12:30 UTC.
        setZone("UTC");
        const Instant now = utc(2026, 3, 10, 12, 30);
        const auto s = ExampleWebsite::exampleSnapshot(now);
        const auto minutesAgo = [&](const RecentVisitor &v) { return qint64(now.secondsSince(v.lastSeen) / 60); };
        row("live", s.liveVisitors, 4);
        row("today", s.visitorsToday, 321);
        row("page views", s.pageViewsToday, 663);
        row("week", *s.visitorsWeek, 1361);
        row("month", *s.visitorsMonth, 4816);
        row("all time", *s.visitorsAllTime, 16094);
        row("oldest hour", s.hourlyVisitors->first().visitors, 27);
        row("current hour", s.hourlyVisitors->last().visitors, 25);
        row("AZ", s.countries.first().visitors, 49);
        row("GB", s.countries.last().visitors, 10);
        row("az-1 seconds", s.recentVisitors.first().seconds, 189);
        row("az-1 minutes ago", minutesAgo(s.recentVisitors.first()), 104);
        row("gb-5 seconds", s.recentVisitors.last().seconds, 347);
        row("gb-5 minutes ago", minutesAgo(s.recentVisitors.last()), 156);
        row("hours", s.hourlyVisitors->size(), 24);
        row("oldest hour, seconds ago", qint64(now.secondsSince(s.hourlyVisitors->first().start)), 23 * 3600 + 1800);
        row("current hour, seconds ago", qint64(now.secondsSince(s.hourlyVisitors->last().start)), 1800);
    }

    void exampleFiguresMatchHandComputedValues()
    {
        QFETCH(qint64, figure);
        QFETCH(qint64, expected);
        QCOMPARE(figure, expected);
    }

    void exampleFiguresFollowTheLocalDay()
    {
        setZone("Asia/Kolkata");
        const Instant morning = utc(2026, 3, 10, 1, 0), evening = utc(2026, 3, 10, 17, 0);
        const auto a = ExampleWebsite::exampleSnapshot(morning), b = ExampleWebsite::exampleSnapshot(evening);
        QCOMPARE(a.visitorsToday, b.visitorsToday);
        QCOMPARE(a.countries, b.countries);
        QVERIFY(a.recentVisitors.first().lastSeen != b.recentVisitors.first().lastSeen);
        // Half-hour zones put the buckets at half past the UTC hour.
        QCOMPARE(a.hourlyVisitors->last().start, utc(2026, 3, 10, 0, 30));
        const auto nextDay = ExampleWebsite::exampleSnapshot(evening.addingSeconds(86400));
        QVERIFY(nextDay.visitorsToday != a.visitorsToday || nextDay.pageViewsToday != a.pageViewsToday);
        // The same instant is another local day in New York, so another seed.
        const auto kolkataSeed = ExampleWebsite::seed(morning);
        setZone("America/New_York");
        QCOMPARE(ExampleWebsite::seed(morning), kolkataSeed - 86400 + 5 * 3600 + 30 * 60 + 4 * 3600);
        for (const auto &s : {a, nextDay, ExampleWebsite::exampleSnapshot(morning)})
            QVERIFY(*s.visitorsWeek < *s.visitorsMonth && *s.visitorsMonth < *s.visitorsAllTime);
        setZone("UTC");
    }
};

QTEST_GUILESS_MAIN(ModelTest)
#include "ModelTest.moc"
