// The app's own clients against the real server: what one side writes, the other reads.
#include "AnalyticsFailure.h"
#include "AwaitTask.h"
#include "CloudflareSyncClient.h"
#include "OrvelaAnalyticsProvider.h"
#include "ServerFixture.h"

#include <QNetworkAccessManager>
#include <QtTest>
#include <ctime>

namespace {

const qint64 start = utc("2024-05-07T12:00:00Z");
const Website shop{QUuid::fromString(QStringLiteral("{C0FFEE00-1234-4ABC-9DEF-0123456789AB}")), QStringLiteral("Shop"),
                   QStringLiteral("shop.example.net"), QStringLiteral("https://shop.example.net/admin")};
const Website blog{QUuid::fromString(QStringLiteral("{0BADF00D-0000-4000-8000-000000000001}")), QString(),
                   QStringLiteral("blog.example.org"), std::nullopt};

}  // namespace

class ServerClientsTest : public QObject
{
    Q_OBJECT

    RunningServer server{start};
    QNetworkAccessManager manager;
    const QString token = server.createToken();

    CloudflareSyncClient syncClient(QString withToken)
    {
        return CloudflareSyncClient([url = server.url()] { return url; }, [withToken] { return withToken; }, manager);
    }

    OrvelaAnalyticsProvider statsClient(QString withToken)
    {
        return OrvelaAnalyticsProvider([withToken] { return std::optional<QString>(withToken); },
                                       [url = server.url()] { return url; }, manager);
    }

private slots:
    void initTestCase()
    {
        // Half an hour off UTC, so the offset the client sends shows in the buckets.
        qputenv("TZ", "IST-5:30");
        tzset();
    }

    void statesSavedAndLoadedByTheApp()
    {
        auto client = syncClient(token);
        const CloudSyncState local{{shop, blog}, blog.id, RefreshInterval::oneTwenty, std::nullopt};

        const auto saved = await(client.saveState(local, {}));
        QVERIFY(!saved.error);
        CloudSyncState expected = local;
        expected.updatedAt = Instant::fromUnixSeconds(double(start));
        QCOMPARE(*saved.value, expected);

        const auto loaded = await(client.loadState({}));
        QVERIFY(!loaded.error);
        QCOMPARE(*loaded.value, expected);

        const auto refused = await(syncClient(QStringLiteral("orv_unknown")).loadState({}));
        QCOMPARE(refused.errorAs<CloudSyncError>(), CloudSyncError::unauthorized);
    }

    void snapshotsFetchedByTheApp()
    {
        QVERIFY(!await(syncClient(token).saveState({{shop}, shop.id, RefreshInterval::sixty, std::nullopt}, {})).error);
        const auto sent = server.client()->Post("/v1/event", {{"User-Agent", "Mozilla/5.0 (X11) Firefox/125.0"}},
                                                eventBody("pageview", "/"), "text/plain");
        QCOMPARE(statusOf(sent), 202);

        const auto fetched = await(statsClient(token).fetchSnapshot(shop, ProviderCredentials{}, {}));
        QVERIFY(!fetched.error);
        const AnalyticsSnapshot &snapshot = *fetched.value;
        QCOMPARE(snapshot.visitorsToday, 1);
        QCOMPARE(snapshot.pageViewsToday, 1);
        // The hours start at half past: the app sent its own offset.
        QCOMPARE(snapshot.hourlyVisitors->last(),
                 (HourlyVisitorCount{*Instant::fromIso8601("2024-05-07T11:30:00Z"), 1}));
        QCOMPARE(snapshot.recentVisitors.size(), 1);
        QCOMPARE(snapshot.recentVisitors.first().pages, QList<QString>{"/"});

        const auto notListed = await(statsClient(token).fetchSnapshot(blog, ProviderCredentials{}, {}));
        QCOMPARE(notListed.errorAs<AnalyticsFailure>(), AnalyticsFailure::unavailable);
        const auto badToken =
            await(statsClient(QStringLiteral("orv_unknown")).fetchSnapshot(shop, ProviderCredentials{}, {}));
        QCOMPARE(badToken.errorAs<AnalyticsFailure>(), AnalyticsFailure::invalidCredentials);
    }
};

QTEST_GUILESS_MAIN(ServerClientsTest)
#include "ServerClientsTest.moc"
