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
    void succeed(int index, qint64 live = 1)
    {
        provider->succeed(index, {.liveVisitors = live, .refreshedAt = clock->now()});
    }

private slots:
    void init() { reset(); }
    void cleanupTestCase() { endUnanswered(); }

    void supersededResultsAreNeverStored_data()
    {
        QTest::addColumn<QString>("replacedBy");
        QTest::addColumn<bool>("fails");
        for (const char *by : {"refresh", "selection", "removal"}) {
            QTest::addRow("%s, late success", by) << QString::fromLatin1(by) << false;
            QTest::addRow("%s, late failure", by) << QString::fromLatin1(by) << true;
        }
    }

    void supersededResultsAreNeverStored()
    {
        QFETCH(QString, replacedBy);
        QFETCH(bool, fails);
        auto store = start();
        store->refreshNow();
        provider->fetches[0].call->ignoresStop = true;  // its answer is already on its way
        if (replacedBy == u"refresh")
            store->refreshNow();
        else if (replacedBy == u"selection")
            store->selectWebsite(b.id);
        else
            store->removeWebsite(b.id);  // A stays selected and is fetched again
        QVERIFY(provider->fetches[0].call->stopped);
        QCOMPARE(provider->fetches.size(), 2);

        fails ? provider->fail(0, AnalyticsFailure::unavailable) : succeed(0, 7);
        QVERIFY(store->snapshots().isEmpty());
        QVERIFY(store->errors().isEmpty());
        QVERIFY(store->isRefreshing());  // the newer refresh still owns the flag
        succeed(1, 8);
        QCOMPARE(store->selectedSnapshot()->liveVisitors, 8);
        QVERIFY(!store->isRefreshing());
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

    void backOff_data()
    {
        QTest::addColumn<AnalyticsFailure>("failure");
        QTest::addColumn<double>("after");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<bool>("fetchedAgain");
        const auto limited = AnalyticsFailure::rateLimited;
        QTest::newRow("within the period") << limited << 29.0 << "" << false;
        QTest::newRow("the period is over") << limited << 30.0 << "" << true;
        // The back-off date is shared, but only a rate-limited website is held back.
        QTest::newRow("another website fetched meanwhile") << limited << 29.0 << "B runs" << false;
        QTest::newRow("another website's success ends it") << limited << 29.0 << "B succeeds" << true;
        QTest::newRow("other failures never hold") << AnalyticsFailure::unavailable << 0.0 << "" << true;
    }

    void backOff()
    {
        QFETCH(AnalyticsFailure, failure);
        QFETCH(double, after);
        QFETCH(QString, meanwhile);
        QFETCH(bool, fetchedAgain);
        auto store = start();
        store->refreshNow();
        provider->fail(0, failure);
        clock->advance(after);
        int fetches = 1;
        if (!meanwhile.isEmpty()) {
            store->selectWebsite(b.id);
            QCOMPARE(provider->fetches.size(), ++fetches);
            if (meanwhile == u"B succeeds")
                succeed(1);
            store->selectWebsite(a.id);
        } else {
            store->refreshNow();
        }
        QCOMPARE(provider->fetches.size(), fetches + int(fetchedAgain));
        if (fetchedAgain)
            QCOMPARE(provider->fetches.last().website, a);
    }

    void refreshIfStale_data()
    {
        QTest::addColumn<bool>("fetched");
        QTest::addColumn<std::optional<AnalyticsFailure>>("thenFailed");
        QTest::addColumn<double>("age");
        QTest::addColumn<bool>("refreshes");
        const std::optional<AnalyticsFailure> none;
        QTest::newRow("never fetched") << false << none << 0.0 << true;
        QTest::newRow("fresh") << true << none << 29.0 << false;
        QTest::newRow("one period old") << true << none << 30.0 << true;
        QTest::newRow("fresh, but the last fetch failed")
            << true << std::optional(AnalyticsFailure::unavailable) << 0.0 << true;
        QTest::newRow("rate limited") << true << std::optional(AnalyticsFailure::rateLimited) << 0.0 << false;
    }

    void refreshIfStale()
    {
        QFETCH(bool, fetched);
        QFETCH(std::optional<AnalyticsFailure>, thenFailed);
        QFETCH(double, age);
        QFETCH(bool, refreshes);
        auto store = start();
        if (fetched) {
            store->refreshNow();
            succeed(0);
        }
        if (thenFailed) {
            store->refreshNow();
            provider->fail(1, *thenFailed);
        }
        clock->advance(age);
        const auto before = provider->fetches.size();
        store->refreshIfStale();
        QCOMPARE(provider->fetches.size(), before + int(refreshes));
        store->refreshIfStale();  // never a second one while one runs
        QCOMPARE(provider->fetches.size(), before + int(refreshes));
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
        cloud->fail(0, CloudSyncError::offline);  // ends the account load, as a real transfer would
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
