// Records, their JSON forms, the typed-text rules, failure classification and demo figures.
#include "AnalyticsFailure.h"
#include "AnalyticsSnapshot.h"
#include "Choices.h"
#include "Credentials.h"
#include "ExampleWebsite.h"
#include "Json.h"
#include "PersistedState.h"
#include "Website.h"

#include <QJsonDocument>
#include <QTest>

namespace {

AnalyticsSnapshot readSnapshot(const char *json)
{
    return AnalyticsSnapshot::fromJson(Json::parseObject(json));
}

bool snapshotUnreadable(const char *json)
{
    try {
        readSnapshot(json);
        return false;
    } catch (const JsonError &) {
        return true;
    }
}

const char *minimalSnapshot =
    R"({"liveVisitors":1,"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"","refreshedAt":10.5})";

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
    void snapshotReadDefaultsAndWriteRules()
    {
        const AnalyticsSnapshot snapshot = readSnapshot(minimalSnapshot);
        QVERIFY(!snapshot.trackingInstalled);
        QVERIFY(snapshot.countries.isEmpty() && snapshot.recentVisitors.isEmpty());
        QVERIFY(!snapshot.hourlyVisitors && !snapshot.visitorsWeek && !snapshot.visitorsMonth && !snapshot.visitorsAllTime);
        const QJsonObject written = snapshot.toJson();
        for (const char *key : {"trackingInstalled", "countries", "recentVisitors"})
            QVERIFY2(written.contains(key), key);
        for (const char *key : {"hourlyVisitors", "visitorsWeek", "visitorsMonth", "visitorsAllTime"})
            QVERIFY2(!written.contains(key), key);

        const auto empty = readSnapshot(
            R"({"liveVisitors":1,"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"","refreshedAt":0,
                "hourlyVisitors":[],"visitorsWeek":null})");
        QVERIFY(empty.hourlyVisitors && empty.hourlyVisitors->isEmpty());
        QVERIFY(!empty.visitorsWeek);
        QVERIFY(AnalyticsSnapshot::fromJson(empty.toJson()).hourlyVisitors.has_value());
    }

    void snapshotRejectsWrongShapes()
    {
        QVERIFY(snapshotUnreadable(R"({"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"","refreshedAt":1})"));
        QVERIFY(snapshotUnreadable(
            R"({"liveVisitors":1.5,"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"","refreshedAt":1})"));
        QVERIFY(snapshotUnreadable(
            R"({"liveVisitors":"1","visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"","refreshedAt":1})"));
        QVERIFY(snapshotUnreadable(R"({"liveVisitors":1,"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"",
                                       "refreshedAt":"2024-05-01T13:00:00Z"})"));
        QVERIFY(snapshotUnreadable(R"({"liveVisitors":1,"visitorsToday":2,"pageViewsToday":3,"liveWindowDescription":"",
                                       "refreshedAt":1,"countries":[{"code":"DE"}]})"));
        // 64-bit integers stay exact both ways.
        const auto big = readSnapshot(R"({"liveVisitors":9223372036854775807,"visitorsToday":2,"pageViewsToday":3,
                                          "liveWindowDescription":"","refreshedAt":1})");
        QCOMPARE(big.liveVisitors, std::numeric_limits<qint64>::max());
        QCOMPARE(AnalyticsSnapshot::fromJson(Json::parseObject(Json::compact(big.toJson()))).liveVisitors,
                 std::numeric_limits<qint64>::max());
    }

    void websiteJsonAndUuidCase()
    {
        const auto website = Website::fromJson(Json::parseObject(
            R"({"id":"0f8fad5b-d9cb-469f-a165-70867728950e","displayName":"Shop","domain":"shop.example.org"})"));
        QCOMPARE(website.toJson().value("id").toString(), QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
        QVERIFY(!website.toJson().contains("dashboardURLString"));
        for (const char *bad : {R"({"id":"x","displayName":"a","domain":"b"})",
                                R"({"id":"0f8fad5b-d9cb-469f-a165-70867728950e","domain":"b"})",
                                R"({"id":"{0f8fad5b-d9cb-469f-a165-70867728950e}","displayName":"a","domain":"b"})"}) {
            bool threw = false;
            try {
                Website::fromJson(Json::parseObject(bad));
            } catch (const JsonError &) {
                threw = true;
            }
            QVERIFY2(threw, bad);
        }
        const auto credentials = ProviderCredentials::fromJson(Json::parseObject(R"({"values":{"a":"1"}})"));
        QCOMPARE(credentials.values.value("a"), QStringLiteral("1"));
    }

    void intervalsOnlyFromTheirRawValues()
    {
        QCOMPARE(RefreshIntervals::fromRawValue(120), RefreshInterval::oneTwenty);
        QCOMPARE(RefreshIntervals::fromRawValue(45), std::nullopt);
        const QByteArray document = R"({"websites":[],"refreshInterval":45,"snapshots":[]})";
        QVERIFY(!PersistedState::decode(document));
        QVERIFY(PersistedState::decode(R"({"websites":[],"refreshInterval":30,"snapshots":[]})"));
        QVERIFY(!PersistedState::decode(R"({"websites":[],"refreshInterval":30})"));
        QVERIFY(!PersistedState::decode(R"({"websites":[],"refreshInterval":30,"snapshots":[],"cloudUpdatedAt":"2024"})"));
        QCOMPARE(RefreshIntervals::title(RefreshInterval::thirty), QStringLiteral("30 seconds"));
        QCOMPARE(MenuBarMetrics::title(MenuBarMetric::allTime), QStringLiteral("All time"));
        QCOMPARE(MenuBarMetrics::fromRawValue("allTime"), MenuBarMetric::allTime);
        QCOMPARE(PanelAppearances::fromRawValue("Dark"), std::nullopt);
    }

    void emptyOptionalsAreLeftOut()
    {
        const QByteArray bytes = PersistedState{}.encode();
        QVERIFY(!bytes.contains("selectedWebsiteID"));
        QVERIFY(!bytes.contains("cloudUpdatedAt"));
    }

    void normalizedDomain_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");  // empty: no value
        QTest::newRow("scheme, path, query, case") << "  HTTPS://WWW.Example.ORG/path?q=1#f \n" << "www.example.org";
        QTest::newRow("bare host") << "shop.example.org" << "shop.example.org";
        QTest::newRow("localhost keeps its port") << "http://localhost:8080/x" << "localhost:8080";
        QTest::newRow("port kept") << "example.org:8443" << "example.org:8443";
        QTest::newRow("user info dropped") << "https://me:pw@example.org" << "example.org";
        QTest::newRow("single label") << "intranet" << "";
        QTest::newRow("space in host") << "exa mple.org" << "";
        QTest::newRow("blank") << " \t\n" << "";
    }
    void normalizedDomain()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QCOMPARE(Website::normalizedDomain(typed).value_or(QString()), expected);
    }

    void dashboardAddresses()
    {
        QCOMPARE(Website::normalizedDashboardURL("  http://dash.example.org/x \n"),
                 QStringLiteral("http://dash.example.org/x"));
        QCOMPARE(Website::normalizedDashboardURL("HTTPS://Dash.example.org"), QStringLiteral("HTTPS://Dash.example.org"));
        QCOMPARE(Website::normalizedDashboardURL("ftp://example.org"), std::nullopt);
        QCOMPARE(Website::normalizedDashboardURL("https://"), std::nullopt);
        QCOMPARE(Website::normalizedDashboardURL("example.org"), std::nullopt);
        Website website{QUuid::createUuid(), "a", "a.org", QStringLiteral("mailto:x@y.org")};
        QCOMPARE(website.dashboardURL(), std::nullopt);
        website.dashboardURLString = QStringLiteral("https://dash.example.org/");
        QCOMPARE(website.dashboardURL(), QUrl("https://dash.example.org/"));
    }

    void failureClassification()
    {
        using E = QNetworkReply::NetworkError;
        auto of = [](auto error) { return AnalyticsFailures::classify(std::make_exception_ptr(error)); };
        QCOMPARE(of(AnalyticsFailure::rateLimited), AnalyticsFailure::rateLimited);
        QCOMPARE(of(TaskCancelled{}), AnalyticsFailure::cancelled);
        QCOMPARE(of(TransferError{E::TemporaryNetworkFailureError}), AnalyticsFailure::offline);
        QCOMPARE(of(TransferError{E::TimeoutError}), AnalyticsFailure::timedOut);
        // Qt reports its transfer time-out and our own abort alike.
        QCOMPARE(of(TransferError{E::OperationCanceledError, {}, false}), AnalyticsFailure::timedOut);
        QCOMPARE(of(TransferError{E::OperationCanceledError, {}, true}), AnalyticsFailure::cancelled);
        QCOMPARE(of(TransferError{E::AuthenticationRequiredError}), AnalyticsFailure::invalidCredentials);
        QCOMPARE(of(TransferError{E::ProtocolFailure}), AnalyticsFailure::malformedResponse);
        QCOMPARE(of(TransferError{E::HostNotFoundError}), AnalyticsFailure::unavailable);
        QCOMPARE(of(TransferError{E::RemoteHostClosedError}), AnalyticsFailure::unavailable);
        QCOMPARE(of(std::runtime_error("other")), AnalyticsFailure::unavailable);
        for (auto failure : AnalyticsFailures::allCases())
            QCOMPARE(AnalyticsFailures::message(failure).isEmpty(), failure == AnalyticsFailure::cancelled);
    }

    void strictWireDates()
    {
        QCOMPARE(Instant::fromIso8601("2024-05-01T13:00:00Z"), utc(2024, 5, 1, 13, 0));
        QCOMPARE(Instant::fromIso8601("2024-05-01T15:30:00+02:30"), utc(2024, 5, 1, 13, 0));
        QCOMPARE(Instant::fromIso8601("2024-05-01T13:00:00.5Z"), std::nullopt);
        QCOMPARE(Instant::fromIso8601("2024-05-01T13:00:00"), std::nullopt);
        QCOMPARE(Instant::fromIso8601("2024-02-30T13:00:00Z"), std::nullopt);
        QCOMPARE(utc(2024, 5, 1, 13, 0).toIso8601(), QStringLiteral("2024-05-01T13:00:00Z"));
    }

    void exampleDomains()
    {
        for (const char *yes : {"example.com", " HTTPS://www.Example.com/path", "http://example.com"})
            QVERIFY2(ExampleWebsite::isExampleDomain(yes), yes);
        for (const char *no : {"example.com:8080", "example.com.", "shop.example.com", "///", "", "example.org"})
            QVERIFY2(!ExampleWebsite::isExampleDomain(no), no);
    }

    void exampleGeneratorMatchesHandComputedValues()
    {
        ExampleWebsite::Generator generator{1};
        QCOMPARE(generator.next(), 7806831264735756412ULL);
        QCOMPARE(generator.next(), 9396908728118811419ULL);
        QCOMPARE(generator.next(), 11960119808228829710ULL);

        setZone("UTC");
        const auto snapshot = ExampleWebsite::exampleSnapshot(utc(2026, 3, 10, 12, 30));
        QCOMPARE(ExampleWebsite::seed(utc(2026, 3, 10, 12, 30)), 1773100800ULL);
        QCOMPARE(snapshot.liveVisitors, 4);
        QCOMPARE(snapshot.visitorsToday, 321);
        QCOMPARE(snapshot.pageViewsToday, 663);
        QCOMPARE(snapshot.visitorsWeek, 1361);
        QCOMPARE(snapshot.countries.first().visitors, 49);
        QCOMPARE(snapshot.hourlyVisitors->size(), 24);
        QCOMPARE(snapshot.hourlyVisitors->first().start, utc(2026, 3, 9, 13, 0));
        QCOMPARE(snapshot.hourlyVisitors->first().visitors, 27);
        QCOMPARE(snapshot.hourlyVisitors->last().start, utc(2026, 3, 10, 12, 0));
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
        const auto elsewhere = ExampleWebsite::exampleSnapshot(morning);
        for (const auto &s : {a, nextDay, elsewhere}) {
            QVERIFY(*s.visitorsWeek < *s.visitorsMonth);
            QVERIFY(*s.visitorsMonth < *s.visitorsAllTime);
        }
        setZone("UTC");
    }
};

QTEST_GUILESS_MAIN(ModelTest)
#include "ModelTest.moc"
