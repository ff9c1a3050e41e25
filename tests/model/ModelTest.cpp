// Records, their JSON forms, the typed-text rules, failure classification and demo figures.
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

    void failureClassification()
    {
        using E = QNetworkReply::NetworkError;
        auto of = [](auto error) { return AnalyticsFailures::classify(std::make_exception_ptr(error)); };
        QCOMPARE(of(AnalyticsFailure::rateLimited), AnalyticsFailure::rateLimited);
        QCOMPARE(of(TransferError{E::TemporaryNetworkFailureError}), AnalyticsFailure::offline);
        QCOMPARE(of(TransferError{E::TimeoutError}), AnalyticsFailure::timedOut);
        // Qt reports its transfer time-out and our own abort alike.
        QCOMPARE(of(TransferError{E::OperationCanceledError, {}, false}), AnalyticsFailure::timedOut);
        QCOMPARE(of(TransferError{E::OperationCanceledError, {}, true}), AnalyticsFailure::cancelled);
        QCOMPARE(of(TransferError{E::AuthenticationRequiredError}), AnalyticsFailure::invalidCredentials);
        QCOMPARE(of(TransferError{E::ProtocolFailure}), AnalyticsFailure::malformedResponse);
        QCOMPARE(of(std::runtime_error("other")), AnalyticsFailure::unavailable);
        for (auto failure : AnalyticsFailures::allCases())
            QCOMPARE(AnalyticsFailures::message(failure).isEmpty(), failure == AnalyticsFailure::cancelled);
    }

    void wireDates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("utc");  // empty: refused
        QTest::newRow("numeric zone") << "2024-05-01T15:30:00+02:30"
                                      << "2024-05-01T13:00:00Z";
        QTest::newRow("fraction") << "2024-05-01T13:00:00.5Z"
                                  << "";
        QTest::newRow("no zone") << "2024-05-01T13:00:00"
                                 << "";
        QTest::newRow("no such day") << "2024-02-30T13:00:00Z"
                                     << "";
        // Every date read must be one the wire form can write back.
        QTest::newRow("first instant") << "0001-01-01T23:59:00+23:59"
                                       << "0001-01-01T00:00:00Z";
        QTest::newRow("year 0") << "0001-01-01T00:00:00+23:59"
                                << "";
        QTest::newRow("last instant") << "9999-12-31T23:59:59Z"
                                      << "9999-12-31T23:59:59Z";
        QTest::newRow("year 10000") << "9999-12-31T23:59:59-00:01"
                                    << "";
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
        // Worked out by hand from the generator, for 2026-03-10 12:30 UTC.
        QTest::addColumn<QString>("figure");
        QTest::addColumn<qint64>("expected");
        const std::pair<const char *, qint64> rows[] = {
            {"live", 4},
            {"today", 321},
            {"page views", 663},
            {"week", 1361},
            {"month", 4816},
            {"all time", 16094},
            {"oldest hour", 27},
            {"current hour", 25},
            {"AZ", 49},
            {"GB", 10},
            {"az-1 seconds", 189},
            {"az-1 minutes ago", 104},
            {"gb-5 seconds", 347},
            {"gb-5 minutes ago", 156},
        };
        for (const auto &[figure, expected] : rows)
            QTest::newRow(figure) << QString::fromLatin1(figure) << expected;
    }

    void exampleFiguresMatchHandComputedValues()
    {
        QFETCH(QString, figure);
        QFETCH(qint64, expected);
        setZone("UTC");
        const Instant now = utc(2026, 3, 10, 12, 30);
        const auto s = ExampleWebsite::exampleSnapshot(now);
        const auto minutesAgo = [&](const RecentVisitor &v) { return qint64(now.secondsSince(v.lastSeen) / 60); };
        const QMap<QString, qint64> figures{
            {"live", s.liveVisitors},
            {"today", s.visitorsToday},
            {"page views", s.pageViewsToday},
            {"week", *s.visitorsWeek},
            {"month", *s.visitorsMonth},
            {"all time", *s.visitorsAllTime},
            {"oldest hour", s.hourlyVisitors->first().visitors},
            {"current hour", s.hourlyVisitors->last().visitors},
            {"AZ", s.countries.first().visitors},
            {"GB", s.countries.last().visitors},
            {"az-1 seconds", s.recentVisitors.first().seconds},
            {"az-1 minutes ago", minutesAgo(s.recentVisitors.first())},
            {"gb-5 seconds", s.recentVisitors.last().seconds},
            {"gb-5 minutes ago", minutesAgo(s.recentVisitors.last())},
        };
        QCOMPARE(figures.value(figure, -1), expected);
    }

    void exampleGeneratorAndSeed()
    {
        ExampleWebsite::Generator generator{1};
        QCOMPARE((QList<quint64>{generator.next(), generator.next(), generator.next()}),
                 (QList<quint64>{7806831264735756412ULL, 9396908728118811419ULL, 11960119808228829710ULL}));
        setZone("UTC");
        QCOMPARE(ExampleWebsite::seed(utc(2026, 3, 10, 12, 30)), 1773100800ULL);
        const auto s = ExampleWebsite::exampleSnapshot(utc(2026, 3, 10, 12, 30));
        QCOMPARE(s.hourlyVisitors->size(), 24);
        QCOMPARE(s.hourlyVisitors->first().start, utc(2026, 3, 9, 13, 0));
        QCOMPARE(s.hourlyVisitors->last().start, utc(2026, 3, 10, 12, 0));
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
