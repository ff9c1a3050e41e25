// Refreshing, polling, back-off and connectivity, with a fake provider and a fake clock.
#include "AppStore.h"
#include "PersistedState.h"
#include "StoreFakes.h"

#include <QSignalSpy>
#include <QTest>

namespace {

Website site(const char *name)
{
    return {QUuid::createUuid(), QString::fromLatin1(name), QString::fromLatin1(name) + QStringLiteral(".example.org"),
            std::nullopt};
}

AnalyticsSnapshot snapshotAt(Instant at, qint64 live = 1)
{
    AnalyticsSnapshot snapshot;
    snapshot.liveVisitors = live;
    snapshot.refreshedAt = at;
    return snapshot;
}

}  // namespace

class RefreshEngineTest : public QObject, StoreFixture
{
    Q_OBJECT

    Website a = site("a"), b = site("b");

    // A store with websites A and B, A selected, nothing running yet.
    std::unique_ptr<AppStore> makeStore(bool startServices = false)
    {
        defaults->settings->setValue("orvela.dismissedExampleDemo", true);
        PersistedState state{{a, b}, a.id, RefreshInterval::thirty, {}, std::nullopt};
        defaults->settings->setValue("orvela.state.v1", state.encode());
        return std::make_unique<AppStore>(provider, keychain, cloud, defaults->settings, startServices, clock);
    }

private slots:
    void init()
    {
        reset();
    }

    void supersededResultsAreNeverStored()
    {
        auto store = makeStore();
        // Selection changed while A's refresh was running.
        store->refreshNow();
        store->selectWebsite(b.id);
        QVERIFY(provider->fetches[0].call->stopped);
        provider->succeed(0, snapshotAt(clock->now(), 7));
        QVERIFY(!store->snapshots().contains(a.id));
        QVERIFY(store->isRefreshing());  // B's refresh still owns the flag
        provider->succeed(1, snapshotAt(clock->now(), 8));
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 8);
        QVERIFY(!store->isRefreshing());

        // A second refresh replaces the first; a late answer to the first is dropped.
        provider->ignoresStop = true;
        store->refreshNow();
        store->refreshNow();
        provider->succeed(2, snapshotAt(clock->now(), 99));
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 8);
        QVERIFY(store->isRefreshing());
        provider->succeed(3, snapshotAt(clock->now(), 9));
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 9);
        QVERIFY(!store->isRefreshing());

        // Removing another website raises the generation: the running result is dropped.
        store->refreshNow();
        provider->fetches[4].call->ignoresStop = true;
        store->removeWebsite(a.id);
        provider->succeed(4, snapshotAt(clock->now(), 10));
        QCOMPARE(store->snapshots().value(b.id).liveVisitors, 9);
        provider->fail(5, AnalyticsFailure::unavailable);
        QCOMPARE(provider->fetches.size(), 6);  // the removal refreshed B again
    }

    void failuresAreRecordedAndKeepTheSnapshot()
    {
        auto store = makeStore();
        store->refreshNow();
        provider->succeed(0, snapshotAt(clock->now(), 4));
        store->refreshNow();
        provider->fail(1, AnalyticsFailure::invalidCredentials);
        QCOMPARE(store->selectedError(), AnalyticsFailure::invalidCredentials);
        QVERIFY(store->isShowingStaleData());
        QCOMPARE(store->selectedSnapshot()->liveVisitors, 4);

        // A cancellation classified from a transfer is not a failure worth showing.
        store->refreshNow();
        provider->fetches[2].call->complete([] { throw TransferError{QNetworkReply::OperationCanceledError, {}, true}; });
        QCOMPARE(store->selectedError(), AnalyticsFailure::invalidCredentials);

        QSignalSpy errors(store.get(), &AppStore::errorsChanged);
        store->refreshNow();
        provider->fail(3, AnalyticsFailure::invalidCredentials);
        QCOMPARE(errors.count(), 0);  // the same failure again notifies nobody
        store->refreshNow();
        provider->succeed(4, snapshotAt(clock->now(), 5));
        QVERIFY(store->errors().isEmpty());
    }

    void credentialsAreReadOnlyWhenTheProviderDeclaresFields()
    {
        keychain->failing = true;
        auto store = makeStore();
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);  // no keyring needed
        provider->succeed(0, snapshotAt(clock->now()));

        provider->fields = {{"key", "Key", "", true}};
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);
        QCOMPARE(store->selectedError(), AnalyticsFailure::credentialsUnreadable);
        QVERIFY(!store->isRefreshing());

        keychain->failing = false;
        keychain->credentials.insert(a.id, {{{"key", "v"}}});
        store->refreshNow();
        QCOMPARE(provider->fetches.last().credentials.values.value("key"), QStringLiteral("v"));
    }

    void backOffHoldsOnlyTheRateLimitedWebsite()
    {
        auto store = makeStore();
        store->refreshNow();
        provider->fail(0, AnalyticsFailure::rateLimited);
        QCOMPARE(store->backoffUntil(), clock->now().addingSeconds(30));
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);
        clock->advance(29);
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 1);

        store->selectWebsite(b.id);  // B's failure is not rateLimited, so B is not held back
        QCOMPARE(provider->fetches.size(), 2);
        provider->succeed(1, snapshotAt(clock->now()));
        QCOMPARE(store->backoffUntil(), std::nullopt);

        store->selectWebsite(a.id);
        QCOMPARE(provider->fetches.size(), 3);  // a success cleared the back-off
    }

    void offlineSkipsTheRequestButNotTheExample()
    {
        auto store = makeStore();
        store->handleLinkChange(false);
        QCOMPARE(store->selectedError(), AnalyticsFailure::offline);
        store->refreshNow();
        QCOMPARE(provider->fetches.size(), 0);
        QVERIFY(!store->isRefreshing());

        Website example{QUuid::createUuid(), "Example", "example.com", std::nullopt};
        store->saveWebsite(example, {});
        QCOMPARE(provider->fetches.size(), 1);
        QCOMPARE(provider->fetches[0].website, example);
        provider->fail(0, AnalyticsFailure::unavailable);
        QCOMPARE(store->selectedError(), AnalyticsFailure::offline);  // failed while offline
    }

    void comingBackOnlineRetriesOnlyAnOfflineFailure()
    {
        auto store = makeStore();
        store->handleLinkChange(false);
        store->handleLinkChange(true);
        QCOMPARE(provider->fetches.size(), 1);
        provider->fail(0, AnalyticsFailure::unavailable);
        store->handleLinkChange(true);
        QCOMPARE(provider->fetches.size(), 1);
        QCOMPARE(cloud->calls.size(), 0);  // no token, no account load

        keychain->token = QStringLiteral("t");
        store->refreshSyncTokenState();
        store->handleLinkChange(true);
        QCOMPARE(cloud->count(false), 1);
    }

    void refreshIfStaleLooksAtAgeAndFailures()
    {
        auto store = makeStore();
        store->refreshIfStale();
        QCOMPARE(provider->fetches.size(), 1);
        provider->succeed(0, snapshotAt(clock->now()));
        store->refreshIfStale();
        QCOMPARE(provider->fetches.size(), 1);
        clock->advance(29.9);
        store->refreshIfStale();
        QCOMPARE(provider->fetches.size(), 1);
        clock->advance(0.1);
        store->refreshIfStale();
        QCOMPARE(provider->fetches.size(), 2);
        store->refreshIfStale();  // one is running already
        QCOMPARE(provider->fetches.size(), 2);
    }

    void pollingNeverStacksRefreshes()
    {
        provider->minimum = 45;  // the provider's minimum wins over the 30 s interval
        auto store = makeStore(true);
        QCOMPARE(provider->fetches.size(), 1);  // start-up refreshes the selection at once
        QVERIFY(store->pollTask());
        clock->advance(44);
        QCOMPARE(provider->fetches.size(), 1);
        clock->advance(1);
        QCOMPARE(provider->fetches.size(), 1);  // the first is still running: this period is skipped
        provider->succeed(0, snapshotAt(clock->now()));
        clock->advance(45);
        QCOMPARE(provider->fetches.size(), 2);

        store->startPolling(true);  // a refresh is running: no second one
        QCOMPARE(provider->fetches.size(), 2);
        QCOMPARE(clock->waiting(), 1);  // and one loop only

        store->stop();
        provider->succeed(1, snapshotAt(clock->now()));
        clock->advance(500);
        QCOMPARE(provider->fetches.size(), 2);
        QCOMPARE(clock->waiting(), 0);
    }

    void aResultAfterTheStoreIsGoneDoesNothing()
    {
        auto store = makeStore();
        store->refreshNow();
        store.reset();
        // The ended fetch resumes its task after the store is gone; it must touch nothing.
        QVERIFY(provider->fetches[0].call->stopped);
        settle();
    }
};

QTEST_GUILESS_MAIN(RefreshEngineTest)
#include "RefreshEngineTest.moc"
