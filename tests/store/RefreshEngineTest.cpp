// Refreshing, polling, back-off and connectivity, with a fake provider and a fake clock.
#include "BaseURL.h"
#include "StoreFakes.h"

#include <QScopeGuard>
#include <QTest>

class RefreshEngineTest : public QObject, StoreFixture
{
    Q_OBJECT

    Website a = site("a"), b = site("b");

    // A store with websites A and B, A selected, nothing running yet.
    std::unique_ptr<AppStore> start(bool startServices = false)
    {
        storeState({{a, b}, a.id, RefreshInterval::thirty, {}, std::nullopt});
        return makeStore(startServices);
    }
    void succeed(int index, qint64 live = 1) { provider->succeed(index, {.liveVisitors = live, .refreshedAt = clock->now()}); }

private slots:
    void init() { reset(); }

    void supersededResultsAreNeverStored()
    {
        auto store = start();
        // Selection changed while A's refresh was running, whose answer was on its way.
        store->refreshNow();
        provider->fetches[0].call->ignoresStop = true;
        store->selectWebsite(b.id);
        QVERIFY(provider->fetches[0].call->stopped);
        succeed(0, 7);
        QVERIFY(!store->snapshots().contains(a.id));
        QVERIFY(store->isRefreshing());  // B's refresh still owns the flag
        succeed(1, 8);
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 8);
        QVERIFY(!store->isRefreshing());

        // A second refresh replaces the first; a late answer to the first is dropped.
        store->refreshNow();
        provider->fetches[2].call->ignoresStop = true;
        store->refreshNow();
        succeed(2, 99);
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 8);
        QVERIFY(store->isRefreshing());
        succeed(3, 9);
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 9);
    }

    void credentialsAreReadOnlyWhenTheProviderDeclaresFields()
    {
        keychain->failing = true;
        auto store = start();
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);  // no keyring needed
        succeed(0);

        provider->fields = {{"key", "Key", "", true}};
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);
        QCOMPARE(store->selectedError(), AnalyticsFailure::credentialsUnreadable);

        keychain->failing = false;
        keychain->credentials.insert(a.id, {{{"key", "v"}}});
        store->refreshNow();
        QCOMPARE(provider->fetches.last().credentials.values.value("key"), QStringLiteral("v"));
    }

    void backOffHoldsOnlyTheRateLimitedWebsite()
    {
        auto store = start();
        store->refreshNow();
        provider->fail(0, AnalyticsFailure::rateLimited);
        clock->advance(29);  // held back for one period
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);

        store->selectWebsite(b.id);  // B's failure is not rateLimited, so B is not held back
        QCOMPARE(provider->fetches.size(), 2);
        succeed(1);
        store->selectWebsite(a.id);
        QCOMPARE(provider->fetches.size(), 3);  // a success cleared the back-off
    }

    void connectivity()
    {
        auto store = start();
        store->handleLinkChange(false);
        QCOMPARE(store->selectedError(), AnalyticsFailure::offline);
        store->refreshNow();
        QVERIFY(provider->fetches.isEmpty());

        // Coming back online retries an offline failure, and only that.
        store->handleLinkChange(true);
        QCOMPARE(provider->fetches.size(), 1);
        provider->fail(0, AnalyticsFailure::unavailable);
        store->handleLinkChange(true);
        QCOMPARE(provider->fetches.size(), 1);
        QVERIFY(cloud->calls.isEmpty());  // no token, no account load
        keychain->token = QStringLiteral("t");
        store->refreshSyncTokenState();
        store->handleLinkChange(true);
        QCOMPARE(cloud->count(false), 1);

        // The example needs no connection; a failure while offline is shown as offline.
        store->handleLinkChange(false);
        const Website example{QUuid::createUuid(), "Example", "example.com", std::nullopt};
        store->saveWebsite(example, {});
        QCOMPARE(provider->fetches.size(), 2);
        QCOMPARE(provider->fetches[1].website, example);
        provider->fail(1, AnalyticsFailure::unavailable);
        QCOMPARE(store->selectedError(), AnalyticsFailure::offline);
    }

    // A service on this machine answers whatever the rest of the network does.
    void aServiceOnThisMachineIsReachedOffline_data()
    {
        QTest::addColumn<QUrl>("address");
        QTest::addColumn<bool>("reached");
        QTest::newRow("127.0.0.1") << QUrl("http://127.0.0.1:8787") << true;
        QTest::newRow("localhost") << QUrl("http://localhost:8787") << true;
        QTest::newRow("::1") << QUrl("http://[::1]:8787") << true;
        QTest::newRow("elsewhere") << QUrl("https://stats.example.net") << false;
    }

    void aServiceOnThisMachineIsReachedOffline()
    {
        QFETCH(QUrl, address);
        QFETCH(bool, reached);
        const QUrl before = defaultBaseURL();
        const auto restore = qScopeGuard([&] { setDefaultBaseURL(before); });
        auto store = start();
        store->handleLinkChange(false);
        store->setBaseURL(address);  // refreshes the selected website from the new service
        QCOMPARE(provider->fetches.size(), reached ? 1 : 0);
        if (!reached) {
            QCOMPARE(store->selectedError(), AnalyticsFailure::offline);
            return;
        }
        // A failure is the service's, not the missing network's.
        provider->fail(0, AnalyticsFailure::unavailable);
        QCOMPARE(store->selectedError(), AnalyticsFailure::unavailable);
    }

    void pollingNeverStacksRefreshes()
    {
        provider->minimum = 45;  // the provider's minimum wins over the 30 s interval
        auto store = start(true);
        QCOMPARE(provider->fetches.size(), 1);  // start-up refreshes the selection at once
        clock->advance(44);
        QCOMPARE(provider->fetches.size(), 1);
        clock->advance(1);
        QCOMPARE(provider->fetches.size(), 1);  // the first is still running: this period is skipped
        succeed(0);
        clock->advance(30);
        QCOMPARE(provider->fetches.size(), 1);  // 45 s after the skipped period, not 30
        clock->advance(15);
        QCOMPARE(provider->fetches.size(), 2);

        store->startPolling(true);  // a refresh is running: no second one
        QCOMPARE(provider->fetches.size(), 2);
        QCOMPARE(clock->waiting(), 1);  // and one loop only

        store->stop();
        succeed(1);
        clock->advance(500);
        QCOMPARE(provider->fetches.size(), 2);
        QCOMPARE(clock->waiting(), 0);
    }

    void aResultAfterTheStoreIsGoneDoesNothing()
    {
        auto store = start();
        store->refreshNow();
        store.reset();
        // The ended fetch resumes its task after the store is gone; it must touch nothing.
        QVERIFY(provider->fetches[0].call->stopped);
        settle();
    }
};

QTEST_GUILESS_MAIN(RefreshEngineTest)
#include "RefreshEngineTest.moc"
