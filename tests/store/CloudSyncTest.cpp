// Loading and saving the account state, with a fake sync client and a fake clock.
#include "BaseURL.h"
#include "StoreFakes.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

namespace {

CloudSyncState account(QList<Website> websites, std::optional<Instant> updatedAt)
{
    return {websites, std::nullopt, RefreshInterval::oneTwenty, updatedAt};
}

}  // namespace

class CloudSyncTest : public QObject, StoreFixture
{
    Q_OBJECT

    // A running store with a sync token, from the stored websites or, without any, a fresh install.
    std::unique_ptr<AppStore> start(std::optional<QList<Website>> websites, std::optional<Instant> cloudUpdatedAt = {})
    {
        keychain->token = QStringLiteral("t");
        if (websites)
            storeState({*websites, std::nullopt, RefreshInterval::sixty, {}, cloudUpdatedAt});
        return makeStore(true);
    }

private slots:
    void init() { reset(); }
    void cleanupTestCase() { endUnanswered(); }

    // The integration test walks the same start-up against a real server, to the save that
    // follows; here, what it cannot see.
    void adoptingDropsWhatTheAccountDoesNotList()
    {
        auto store = start(std::nullopt);
        const QUuid example = store->websites().first().id;
        provider->succeed(0, AnalyticsSnapshot{});
        QVERIFY(store->snapshots().contains(example));
        cloud->succeed(0, account({site("one")}, Instant{1000}));
        QCOMPARE(store->websites().size(), 2);           // the example comes back, as a new entry
        QVERIFY(!store->snapshots().contains(example));  // the dropped website's snapshot goes too
    }

    void anAdoptedSelectionIsFetchedEvenWhileAnotherRefreshRuns()
    {
        const Website local = site("local"), remote = site("remote");
        auto store = start(QList<Website>{local});
        // A keyring that is locked or silent holds its read for seconds: never on the main
        // thread while the tray icon is being shown.
        QCOMPARE(keychain->mainThreadCalls.load(), 0);
        QCOMPARE(keychain->otherThreadCalls.load(), 1);
        QCOMPARE(provider->fetches.size(), 1);  // the start-up refresh, still running
        cloud->succeed(0, account({remote}, Instant{1000}));
        QCOMPARE(store->selectedWebsiteID(), remote.id);
        QCOMPARE(provider->fetches.size(), 2);
        QCOMPARE(provider->fetches[1].website, remote);
    }

    void theAdoptRules()
    {
        const Website local = site("local"), remote = site("remote");
        // Rows: name, the local list, when it was last reconciled, the account's state, whether to adopt it.
        const std::tuple<const char *, QList<Website>, std::optional<Instant>, CloudSyncState, bool> cases[] = {
            {"empty local, account with websites", {}, Instant{5}, account({remote}, std::nullopt), true},
            {"account never written", {local}, std::nullopt, account({remote}, std::nullopt), false},
            {"account strictly newer", {local}, Instant{5}, account({remote}, Instant{6}), true},
            {"equal time stamps", {local}, Instant{5}, account({remote}, Instant{5}), false},
            {"account older", {local}, Instant{5}, account({remote}, Instant{4}), false},
            {"never reconciled, account has websites", {local}, std::nullopt, account({remote}, Instant{1}), true},
            {"never reconciled, account empty", {local}, std::nullopt, account({}, Instant{1}), false},
            {"both empty", {}, std::nullopt, account({}, Instant{1}), true},
        };
        for (const auto &[name, localList, cloudUpdatedAt, state, adopt] : cases) {
            reset();
            storeState({localList, std::nullopt, RefreshInterval::sixty, {}, cloudUpdatedAt});
            QVERIFY2(makeStore()->shouldAdoptCloudState(state) == adopt, name);
        }
    }

    // Equal time stamps: the account has seen this list, which is saved over it.
    void savingAfterTheLoad()
    {
        const Website a = site("a"), b = site("b");
        auto store = start(QList<Website>{a, b}, Instant{5});
        cloud->succeed(0, account({site("remote")}, Instant{5}));
        QCOMPARE(cloud->calls[1].sent.websites, (QList<Website>{a, b}));

        // Edits in a burst make one save, 0.4 s after the last.
        store->selectWebsite(b.id);
        clock->advance(0.1);
        store->setRefreshInterval(RefreshInterval::thirty);
        clock->advance(0.1);
        store->selectWebsite(a.id);
        clock->advance(0.39);
        QCOMPARE(cloud->calls.size(), 2);
        clock->advance(0.01);
        QCOMPARE(cloud->calls.size(), 3);
        QCOMPARE(cloud->calls[2].sent.selectedWebsiteID, a.id);
        QCOMPARE(cloud->calls[2].sent.refreshInterval, RefreshInterval::thirty);

        // A rejected save keeps the time stamp; the other one still runs.
        cloud->fail(1, CloudSyncError::unauthorized);
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("The sync token was rejected."));
        QCOMPARE(store->cloudUpdatedAt(), Instant{5});
        QVERIFY(store->isCloudSyncing());
        cloud->succeed(2, account({a, b}, Instant{7}));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Saved to your account."));
        QVERIFY(!store->isCloudSyncing());
        QCOMPARE(store->cloudUpdatedAt(), Instant{7});
        QCOMPARE(store->lastCloudSyncAt(), clock->now());
    }

    void failureSentences_data()
    {
        QTest::addColumn<CloudSyncError>("error");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("missing token") << CloudSyncError::missingToken << "Add your sync token in Settings.";
        QTest::newRow("unauthorized") << CloudSyncError::unauthorized << "The sync token was rejected.";
        QTest::newRow("offline") << CloudSyncError::offline << "No internet connection.";
        QTest::newRow("malformed") << CloudSyncError::malformedResponse
                                   << "The service returned an unexpected response.";
        QTest::newRow("server") << CloudSyncError::server << "Sync failed.";
    }

    void failureSentences()
    {
        QFETCH(CloudSyncError, error);
        QFETCH(QString, sentence);
        auto store = start(std::nullopt);
        cloud->fail(0, error);
        QCOMPARE(store->cloudSyncStatus(), sentence);
        QVERIFY(!store->isCloudSyncing());
    }

    void otherSentences()
    {
        auto store = start(QList<Website>{});
        cloud->succeed(0, account({}, std::nullopt));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Your account is ready."));
        QCOMPARE(store->lastCloudSyncAt(), clock->now());
        QCOMPARE(cloud->count(true), 0);

        reset();
        store = start(std::nullopt);
        store->saveSyncToken(QStringLiteral("t"));  // the same token: its load is already running
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token saved."));
        cloud->fail(0, CloudSyncError::cancelled);
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token saved."));
        store->saveSyncToken(QStringLiteral("  "));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token removed."));
        QCOMPARE(cloud->calls.size(), 1);
        QCOMPARE(makeStore(true)->cloudSyncStatus(),
                 QStringLiteral("Add a sync token to store websites in your account."));

        // A keyring that cannot be read is not a missing token.
        keychain->failing = true;
        QCOMPARE(makeStore(true)->cloudSyncStatus(),
                 QStringLiteral("The sync token could not be read from the keyring."));
    }

    void anotherAddressIsAnotherAccount()
    {
        const QUrl original = defaultBaseURL();
        const auto restore = qScopeGuard([&] { setDefaultBaseURL(original); });
        const QUrl other("https://stats.example.net");
        const Website a = site("a");
        auto store = start(QList<Website>{a}, Instant{5});

        // Refused by the keyring, or without a token: nothing changes, the address least of all.
        keychain->failing = true;
        QVERIFY_THROWS_EXCEPTION(KeychainStoreError, store->connectAccount(other, QStringLiteral("t2")));
        keychain->failing = false;
        store->connectAccount(other, QStringLiteral(" \n"));
        QCOMPARE(store->baseURL(), original);
        QCOMPARE(keychain->token, QStringLiteral("t"));
        QCOMPARE(store->cloudUpdatedAt(), Instant{5});

        // The same token at another address: the old address's answer is dropped, the new one loads.
        QSignalSpy moved(store.get(), &AppStore::baseURLChanged);
        store->connectAccount(other, QStringLiteral("t"));
        QCOMPARE(moved.size(), 1);
        QCOMPARE(defaultBaseURL(), other);
        QCOMPARE(defaults->settings->value("orvela.baseURL").toString(), other.toString());
        QCOMPARE(store->cloudUpdatedAt(), std::nullopt);
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token saved."));
        cloud->succeed(0, account({site("old address")}, Instant{99}));
        QCOMPARE(store->websites(), QList<Website>{a});
        QCOMPARE(cloud->calls.size(), 2);
        QVERIFY(!cloud->calls[1].isSave);
        QCOMPARE(provider->fetches.size(), 2);  // the figures come from the new service too

        // Handed over without a token: the stored one goes to the new address.
        store->setBaseURL(QUrl("http://127.0.0.1:8787"));
        QCOMPARE(moved.size(), 2);
        cloud->succeed(1, account({}, Instant{1}));
        QCOMPARE(cloud->calls.size(), 3);
        QVERIFY(!cloud->calls[2].isSave);
    }

    // Without a first load, a stored token and a lost local document would push a list
    // holding only the example over the user's account.
    void noSaveBeforeTheAccountWasSeen()
    {
        auto store = start(std::nullopt);  // only the example, which schedules a save
        clock->advance(5);
        QCOMPARE(cloud->count(true), 0);
        cloud->fail(0, CloudSyncError::offline);
        store->setRefreshInterval(RefreshInterval::thirty);
        clock->advance(0.4);
        QCOMPARE(cloud->count(true), 0);  // the save asked for a load instead, which decides
        QCOMPARE(cloud->count(false), 2);

        const Website mine = site("mine");
        cloud->succeed(1, account({mine}, Instant{50}));
        QCOMPARE(store->websites().first(), mine);
        clock->advance(0.4);  // then the re-added example is saved, with the account's list
        QCOMPARE(cloud->count(true), 1);
        QCOMPARE(cloud->calls.last().sent.websites.first(), mine);
    }

    void aNewTokenIsANewAccount()
    {
        const Website a = site("a");
        auto store = start(QList<Website>{a}, Instant{5});
        store->saveSyncToken(QStringLiteral("new"));
        QCOMPARE(store->cloudUpdatedAt(), std::nullopt);
        QCOMPARE(cloud->calls.size(), 1);  // waits for the old account's load to end
        cloud->succeed(0, account({site("old account")}, Instant{99}));
        QCOMPARE(store->websites(), QList<Website>{a});  // the old account's answer is dropped
        QCOMPARE(cloud->calls.size(), 2);
        const Website fresh = site("new account");
        cloud->succeed(1, account({fresh}, Instant{7}));
        QCOMPARE(store->websites(), QList<Website>{fresh});
        QCOMPARE(store->cloudUpdatedAt(), Instant{7});
    }
};

QTEST_GUILESS_MAIN(CloudSyncTest)
#include "CloudSyncTest.moc"
