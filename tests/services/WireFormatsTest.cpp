// The JSON forms of both endpoints, the base-URL rules and the stats address.
#include "BaseURL.h"
#include "Json.h"
#include "OrvelaAnalyticsProvider.h"
#include "WireState.h"
#include "WireStats.h"

#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

namespace {

const QUuid siteID = QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));

Instant at(const char *iso)
{
    return *Instant::fromIso8601(QString::fromLatin1(iso));
}

// "\/" in the texts below: moc takes "//" in a multi-line raw string for a comment.
QJsonObject fullStats()
{
    return QJsonDocument::fromJson(R"({
        "liveVisitors": 3, "visitorsToday": 41, "pageViewsToday": 97,
        "liveWindowDescription": "last 5 minutes",
        "hourly": [{"start": "2024-05-01T13:00:00Z", "visitors": 7},
                   {"start": "2024-05-01T14:00:00+02:00", "visitors": 9007199254740993}],
        "trackingInstalled": false, "visitorsWeek": 300, "visitorsMonth": 1200, "visitorsAllTime": 50000,
        "countries": [{"code": "DE", "visitors": 20}, {"code": "US", "visitors": 11}],
        "recent": [{"id": "v1", "country": "DE", "referrer": "https:\/\/news.example.org\/x",
                    "pages": ["/", "/pricing"], "clicks": ["Sign up"], "seconds": 93,
                    "lastSeen": "2024-05-01T13:58:20Z"}],
        "somethingNew": {"ignored": true}
    })").object();
}

QJsonObject minimalStats()
{
    return QJsonDocument::fromJson(R"({"liveVisitors": 0, "visitorsToday": 0, "pageViewsToday": 0,
                                       "liveWindowDescription": "now", "hourly": []})")
        .object();
}

// Sets `value` at a path of keys and array indexes, e.g. {"recent", 0, "lastSeen"}.
QJsonValue withValue(QJsonValue root, QList<QVariant> path, const QJsonValue &value, bool remove = false)
{
    if (path.isEmpty())
        return value;
    const QVariant step = path.takeFirst();
    if (step.typeId() == QMetaType::Int) {
        QJsonArray array = root.toArray();
        array[step.toInt()] = withValue(array[step.toInt()], path, value, remove);
        return array;
    }
    QJsonObject object = root.toObject();
    if (remove && path.isEmpty())
        object.remove(step.toString());
    else
        object[step.toString()] = withValue(object[step.toString()], path, value, remove);
    return object;
}

bool decodeFails(const QJsonObject &object)
{
    try {
        WireStats::decode(Json::compact(object));
        return false;
    } catch (const JsonError &) {
        return true;
    }
}

QJsonObject stateDocument(const QByteArray &extra)
{
    return QJsonDocument::fromJson(R"({"websites": [{"id": "6f9619ff-8b86-d011-b42d-00c04fc964ff",
                                       "displayName": "Shop", "domain": "shop.example.net"}],
                                       "refreshInterval": 120)" + extra + "}")
        .object();
}

}  // namespace

class WireFormatsTest : public QObject
{
    Q_OBJECT

private slots:
    void statsDocumentReadsIntoSnapshot()
    {
        const WireStats stats = WireStats::fromJson(fullStats());
        const Instant now = at("2024-05-01T14:00:05Z");
        const AnalyticsSnapshot snapshot = stats.toSnapshot(now);

        QCOMPARE(snapshot.liveVisitors, 3);
        QCOMPARE(snapshot.visitorsToday, 41);
        QCOMPARE(snapshot.pageViewsToday, 97);
        QCOMPARE(snapshot.liveWindowDescription, QStringLiteral("last 5 minutes"));
        QCOMPARE(snapshot.refreshedAt, now);
        // 64-bit counts survive exactly, and a zone offset is honoured.
        const QList<HourlyVisitorCount> hours{{at("2024-05-01T13:00:00Z"), 7},
                                              {at("2024-05-01T12:00:00Z"), 9007199254740993}};
        QCOMPARE(snapshot.hourlyVisitors, std::optional(hours));
        QCOMPARE(snapshot.visitorsWeek, std::optional<qint64>(300));
        QCOMPARE(snapshot.visitorsMonth, std::optional<qint64>(1200));
        QCOMPARE(snapshot.visitorsAllTime, std::optional<qint64>(50000));
        QCOMPARE(snapshot.countries, (QList<CountryVisitors>{{"DE", 20}, {"US", 11}}));
        const RecentVisitor visit{"v1", "DE", "https://news.example.org/x", {"/", "/pricing"}, {"Sign up"}, 93,
                                  at("2024-05-01T13:58:20Z")};
        QCOMPARE(snapshot.recentVisitors, QList<RecentVisitor>{visit});
        // The reply says false, but traffic was seen.
        QVERIFY(snapshot.trackingInstalled);

        QCOMPARE(WireStats::decode(stats.encode()), stats);
    }

    void unreadableStats_data()
    {
        QTest::addColumn<QList<QVariant>>("path");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("remove");

        const QJsonValue none;
        QTest::newRow("liveVisitors missing") << QList<QVariant>{"liveVisitors"} << none << true;
        QTest::newRow("hourly missing") << QList<QVariant>{"hourly"} << none << true;
        QTest::newRow("hourly null") << QList<QVariant>{"hourly"} << QJsonValue(QJsonValue::Null) << false;
        QTest::newRow("description missing") << QList<QVariant>{"liveWindowDescription"} << none << true;
        QTest::newRow("count as text") << QList<QVariant>{"visitorsToday"} << QJsonValue("41") << false;
        QTest::newRow("fractional count") << QList<QVariant>{"pageViewsToday"} << QJsonValue(1.5) << false;
        QTest::newRow("fractional optional count") << QList<QVariant>{"visitorsWeek"} << QJsonValue(2.25) << false;
        QTest::newRow("flag as number") << QList<QVariant>{"trackingInstalled"} << QJsonValue(1) << false;
        QTest::newRow("fractional seconds")
            << QList<QVariant>{"hourly", 0, "start"} << QJsonValue("2024-05-01T13:00:00.000Z") << false;
        QTest::newRow("date without zone")
            << QList<QVariant>{"hourly", 1, "start"} << QJsonValue("2024-05-01T13:00:00") << false;
        QTest::newRow("date as number") << QList<QVariant>{"recent", 0, "lastSeen"} << QJsonValue(1714568300)
                                        << false;
        QTest::newRow("recent seconds missing") << QList<QVariant>{"recent", 0, "seconds"} << none << true;
        QTest::newRow("recent clicks missing") << QList<QVariant>{"recent", 0, "clicks"} << none << true;
        QTest::newRow("page not a string") << QList<QVariant>{"recent", 0, "pages", 1} << QJsonValue(2) << false;
        QTest::newRow("country code missing") << QList<QVariant>{"countries", 0, "code"} << none << true;
        QTest::newRow("countries as object") << QList<QVariant>{"countries"} << QJsonValue(QJsonObject{}) << false;
    }

    void unreadableStats()
    {
        QFETCH(QList<QVariant>, path);
        QFETCH(QJsonValue, value);
        QFETCH(bool, remove);
        QVERIFY(decodeFails(withValue(fullStats(), path, value, remove).toObject()));
    }

    void statsBodiesThatAreNoObject()
    {
        for (const QByteArray &body : {QByteArray("<html>busy</html>"), QByteArray("[]"), QByteArray(""),
                                      QByteArray(R"({"liveVisitors": 1)")}) {
            QVERIFY_THROWS_EXCEPTION(JsonError, WireStats::decode(body));
        }
    }

    void absentOptionalsStayAbsent()
    {
        QJsonObject document = minimalStats();
        for (const char *key : {"trackingInstalled", "visitorsWeek", "visitorsMonth", "visitorsAllTime", "countries",
                                "recent"})
            document.insert(QLatin1String(key), QJsonValue::Null);
        const WireStats stats = WireStats::fromJson(document);
        QCOMPARE(stats, WireStats::fromJson(minimalStats()));
        QCOMPARE(stats.countries, std::nullopt);

        const AnalyticsSnapshot snapshot = stats.toSnapshot(Instant{});
        QCOMPARE(snapshot.hourlyVisitors, std::optional(QList<HourlyVisitorCount>{}));
        QVERIFY(snapshot.countries.isEmpty());
        QVERIFY(snapshot.recentVisitors.isEmpty());
        QCOMPARE(snapshot.visitorsWeek, std::nullopt);
        QVERIFY(!snapshot.trackingInstalled);

        // Written back, absent values leave no key behind.
        const QJsonObject written = stats.toJson();
        QCOMPARE(written.keys(), (QStringList{"hourly", "liveVisitors", "liveWindowDescription", "pageViewsToday",
                                              "visitorsToday"}));
    }

    void trackingInstalled_data()
    {
        QTest::addColumn<QJsonObject>("changes");
        QTest::addColumn<bool>("expected");

        const QJsonArray idleHours{QJsonObject{{"start", "2024-05-01T13:00:00Z"}, {"visitors", 0}}};
        const QJsonArray busyHours{QJsonObject{{"start", "2024-05-01T13:00:00Z"}, {"visitors", 0}},
                                   QJsonObject{{"start", "2024-05-01T14:00:00Z"}, {"visitors", 1}}};
        QTest::newRow("nothing seen") << QJsonObject{{"hourly", idleHours}} << false;
        QTest::newRow("one visitor in an hour") << QJsonObject{{"hourly", busyHours}} << true;
        QTest::newRow("a live visitor") << QJsonObject{{"liveVisitors", 1}} << true;
        QTest::newRow("page views alone") << QJsonObject{{"pageViewsToday", 2}} << true;
        QTest::newRow("reported, no traffic") << QJsonObject{{"trackingInstalled", true}} << true;
        QTest::newRow("reported false, no traffic") << QJsonObject{{"trackingInstalled", false}} << false;
        QTest::newRow("negative totals") << QJsonObject{{"liveVisitors", -1}, {"visitorsToday", -5}} << false;
    }

    void trackingInstalled()
    {
        QFETCH(QJsonObject, changes);
        QFETCH(bool, expected);
        QJsonObject document = minimalStats();
        for (auto it = changes.begin(); it != changes.end(); ++it)
            document.insert(it.key(), it.value());
        QCOMPARE(WireStats::fromJson(document).toSnapshot(Instant{}).trackingInstalled, expected);
    }

    void stateRejects()
    {
        // The client's tests cover what a reply can hold; these are the remaining shapes.
        for (const QByteArray &extra : {QByteArray(R"(, "selectedWebsiteID": "not-a-uuid")"),
                                       QByteArray(R"(, "selectedWebsiteID": 7)"),
                                       QByteArray(R"(, "updatedAt": "2025-01-31")")}) {
            QVERIFY_THROWS_EXCEPTION(JsonError, WireState::fromJson(stateDocument(extra)));
        }
        QJsonObject fractional = stateDocument("");
        fractional[QStringLiteral("refreshInterval")] = 60.5;
        QVERIFY_THROWS_EXCEPTION(JsonError, WireState::fromJson(fractional));
    }

    void stateAsTheServiceWritesIt()
    {
        const Website site{siteID, "Shop", "shop.example.net", "https://dash.example.net"};
        const CloudSyncState state{{site}, siteID, RefreshInterval::thirty, at("2025-01-31T08:05:00Z")};
        WireState stored = WireState::forUpload(state);
        QCOMPARE(stored.updatedAt, std::nullopt);
        stored.updatedAt = state.updatedAt;
        QCOMPARE(stored.toJson()["updatedAt"].toString(), QStringLiteral("2025-01-31T08:05:00Z"));
        QCOMPARE(WireState::decode(stored.encode()).toCloudSyncState(), std::optional(state));
    }

    void baseURLRules_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("toRemember");
        QTest::addColumn<bool>("warns");

        const QString unset;  // a null text stands for "not set"
        const QString builtIn = QStringLiteral("https://orvela.invalid");
        QTest::newRow("nothing set") << unset << unset << builtIn << unset << false;
        QTest::newRow("https origin") << "https://stats.example.net" << unset << "https://stats.example.net"
                                      << "https://stats.example.net" << false;
        QTest::newRow("trailing slash, port, spaces") << "  HTTPS://Stats.Example.net:8443/ \n" << unset
                                                      << "https://stats.example.net:8443"
                                                      << "https://stats.example.net:8443" << false;
        QTest::newRow("already remembered") << "https://stats.example.net" << "https://stats.example.net"
                                            << "https://stats.example.net" << unset << false;
        QTest::newRow("remembered is used") << unset << "https://self.example.org" << "https://self.example.org"
                                            << unset << false;
        QTest::newRow("empty variable") << "" << "https://self.example.org" << "https://self.example.org" << unset
                                        << false;
        QTest::newRow("http on localhost") << "http://localhost:8787" << unset << "http://localhost:8787"
                                           << "http://localhost:8787" << false;
        QTest::newRow("http on 127.0.0.1") << "http://127.0.0.1:9" << unset << "http://127.0.0.1:9"
                                           << "http://127.0.0.1:9" << false;
        QTest::newRow("http on ::1") << "http://[::1]:8080" << unset << "http://[::1]:8080" << "http://[::1]:8080"
                                     << false;
        QTest::newRow("http elsewhere") << "http://stats.example.net" << "https://self.example.org"
                                        << "https://self.example.org" << unset << true;
        QTest::newRow("http to a LAN host") << "http://192.168.1.20" << unset << builtIn << unset << true;
        QTest::newRow("loopback look-alike") << "http://127.0.0.1.example.net" << unset << builtIn << unset << true;
        QTest::newRow("with a path") << "https://stats.example.net/api" << unset << builtIn << unset << true;
        QTest::newRow("with a query") << "https://stats.example.net/?a=1" << unset << builtIn << unset << true;
        QTest::newRow("with user info") << "https://me@stats.example.net" << unset << builtIn << unset << true;
        QTest::newRow("no scheme") << "stats.example.net" << unset << builtIn << unset << true;
        QTest::newRow("other scheme") << "ftp://stats.example.net" << unset << builtIn << unset << true;
        QTest::newRow("unusable remembered") << unset << "http://stats.example.net" << builtIn << unset << false;
    }

    void baseURLRules()
    {
        QFETCH(QString, environment);
        QFETCH(QString, remembered);
        QFETCH(QString, expected);
        QFETCH(QString, toRemember);
        QFETCH(bool, warns);
        const auto given = [](const QString &text) { return text.isNull() ? std::nullopt : std::optional(text); };

        const auto resolution = resolveBaseURL(given(environment), given(remembered));
        QCOMPARE(resolution.url, QUrl(expected));
        QCOMPARE(resolution.toRemember, given(toRemember));
        QCOMPARE(resolution.warning.has_value(), warns);
        if (warns)
            QVERIFY(resolution.warning->contains(QStringLiteral("ORVELA_BASE_URL")));
    }

    void theProcessWideBaseURLIsRemembered()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        qputenv("ORVELA_BASE_URL", "http://localhost:8787/");
        QCOMPARE(defaultBaseURL(), QUrl("http://localhost:8787"));

        QSettings stored(home.filePath(QStringLiteral("orvela/orvela.conf")), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("orvela.baseURL")).toString(), QStringLiteral("http://localhost:8787"));
        // Made once per process.
        qputenv("ORVELA_BASE_URL", "https://other.example.net");
        QCOMPARE(defaultBaseURL(), QUrl("http://localhost:8787"));
    }

    void statsAddress()
    {
        const auto url = [](const char *base) {
            return OrvelaAnalyticsProvider::statsURL(QUrl(QString::fromLatin1(base)), siteID, -210);
        };
        const QString query = QStringLiteral("?website=6f9619ff-8b86-d011-b42d-00c04fc964ff&offset=-210");
        QCOMPARE(url("https://stats.example.net"), QUrl("https://stats.example.net/v1/stats" + query));
        QCOMPARE(url("https://stats.example.net/"), QUrl("https://stats.example.net/v1/stats" + query));
        QCOMPARE(url("https://stats.example.net/api?key=1#top"), QUrl("https://stats.example.net/api/v1/stats" + query));
        QCOMPARE(url("not a url"), std::nullopt);
        QCOMPARE(url(""), std::nullopt);
    }

    void offsetInMinutes()
    {
        const QDate day(2024, 5, 1);
        const QTime noon(12, 0);
        QCOMPARE(OrvelaAnalyticsProvider::offsetMinutes(QDateTime(day, noon, QTimeZone(5 * 3600 + 1800))), 330);
        QCOMPARE(OrvelaAnalyticsProvider::offsetMinutes(QDateTime(day, noon, QTimeZone(-(3 * 3600 + 1800)))), -210);
        QCOMPARE(OrvelaAnalyticsProvider::offsetMinutes(QDateTime(day, noon, QTimeZone(-300 * 60))), -300);
        // A zone with seconds in its offset: the fraction goes toward zero on both sides.
        QCOMPARE(OrvelaAnalyticsProvider::offsetMinutes(QDateTime(day, noon, QTimeZone(-(3 * 3600 + 1830)))), -210);
        QCOMPARE(OrvelaAnalyticsProvider::offsetMinutes(QDateTime(day, noon, QTimeZone(3600 + 59))), 60);
    }
};

QTEST_GUILESS_MAIN(WireFormatsTest)
#include "WireFormatsTest.moc"
