// Loading and saving the account state, with a fake sync client and a fake clock.
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

const QString loaded = QStringLiteral("Loaded from Cloudflare.");
const QString saved = QStringLiteral("Saved to Cloudflare.");

}  // namespace

class CloudSyncTest : public QObject, StoreFixture
{
    Q_OBJECT


    std::unique_ptr<AppStore> makeStore(bool startServices = true)
    {
        return std::make_unique<AppStore>(provider, keychain, cloud, defaults->settings, startServices, clock);
    }
    void storeLocal(const QList<Website> &websites, std::optional<Instant> cloudUpdatedAt = std::nullopt)
    {
        defaults->settings->setValue("orvela.dismissedExampleDemo", true);
        PersistedState state{websites, std::nullopt, RefreshInterval::sixty, {}, cloudUpdatedAt};
        defaults->settings->setValue("orvela.state.v1", state.encode());
    }
    CloudSyncState account(QList<Website> websites, std::optional<Instant> updatedAt)
    {
        return {websites, std::nullopt, RefreshInterval::oneTwenty, updatedAt};
    }

private slots:
    void init()
    {
        reset();
    }

    void withoutATokenNothingIsSent()
    {
        auto store = makeStore();
        QCOMPARE(store->cloudSyncStatus(),
                 QStringLiteral("Add a Cloudflare sync token to store websites in your account."));
        store->setRefreshInterval(RefreshInterval::thirty);
        clock->advance(1);
        QVERIFY(cloud->calls.isEmpty());
    }

    void aFreshInstallAdoptsTheAccountAndAddsTheExampleBack()
    {
        keychain->token = QStringLiteral("t");
        const Website one = site("one"), two = site("two");
        auto store = makeStore();
        QVERIFY(store->isCloudSyncing());
        const QUuid example = store->websites().first().id;
        store->refreshNow();
        provider->succeed(provider->fetches.size() - 1, AnalyticsSnapshot{});
        QVERIFY(store->snapshots().contains(example));

        CloudSyncState state = account({one, two}, Instant{1000});
        state.selectedWebsiteID = two.id;
        cloud->succeed(0, state);
        QCOMPARE(store->cloudSyncStatus(), loaded);
        QVERIFY(!store->isCloudSyncing());
        QCOMPARE(store->websites().size(), 3);
        QCOMPARE(store->websites()[0], one);
        QCOMPARE(store->websites()[2].domain, QStringLiteral("example.com"));
        QVERIFY(store->websites()[2].id != example);
        QCOMPARE(store->selectedWebsiteID(), two.id);
        QCOMPARE(store->refreshInterval(), RefreshInterval::oneTwenty);
        QCOMPARE(store->cloudUpdatedAt(), Instant{1000});
        QVERIFY(!store->snapshots().contains(example));  // the dropped website's snapshot goes too

        // Re-adding the example schedules one save, 0.4 s later.
        QCOMPARE(cloud->count(true), 0);
        clock->advance(0.4);
        QCOMPARE(cloud->count(true), 1);
        QCOMPARE(cloud->calls.last().sent.websites.size(), 3);
        cloud->succeed(1, account({}, Instant{1001}));
        QCOMPARE(store->cloudSyncStatus(), saved);
        QCOMPARE(store->cloudUpdatedAt(), Instant{1001});
        QCOMPARE(store->websites().size(), 3);  // a save's answer is not adopted
    }

    void theAdoptRules()
    {
        const Website local = site("local"), remote = site("remote");
        struct Case {
            const char *name;
            QList<Website> localList;
            std::optional<Instant> cloudUpdatedAt;
            CloudSyncState state;
            bool adopt;
        };
        const QList<Case> cases{
            {"empty local, account with websites", {}, Instant{5}, account({remote}, std::nullopt), true},
            {"account never written", {local}, std::nullopt, account({remote}, std::nullopt), false},
            {"account strictly newer", {local}, Instant{5}, account({remote}, Instant{6}), true},
            {"equal time stamps", {local}, Instant{5}, account({remote}, Instant{5}), false},
            {"account older", {local}, Instant{5}, account({remote}, Instant{4}), false},
            {"never reconciled, account has websites", {local}, std::nullopt, account({remote}, Instant{1}), true},
            {"never reconciled, account empty", {local}, std::nullopt, account({}, Instant{1}), false},
            {"both empty", {}, std::nullopt, account({}, Instant{1}), true},
        };
        for (const auto &c : cases) {
            init();
            storeLocal(c.localList, c.cloudUpdatedAt);
            auto store = makeStore(false);
            QVERIFY2(store->shouldAdoptCloudState(c.state) == c.adopt, c.name);
        }
    }

    void equalTimeStampsSaveTheLocalState()
    {
        keychain->token = QStringLiteral("t");
        const Website local = site("local");
        storeLocal({local}, Instant{5});
        auto store = makeStore();
        cloud->succeed(0, account({site("remote")}, Instant{5}));
        QCOMPARE(cloud->count(true), 1);
        QCOMPARE(cloud->calls[1].sent.websites, QList<Website>{local});
        QVERIFY(store->isCloudSyncing());
        cloud->succeed(1, account({local}, Instant{9}));
        QCOMPARE(store->cloudSyncStatus(), saved);
        QVERIFY(!store->isCloudSyncing());
        QCOMPARE(store->lastCloudSyncAt(), clock->now());
    }

    void bothEmptyIsReady()
    {
        keychain->token = QStringLiteral("t");
        storeLocal({});
        auto store = makeStore();
        cloud->succeed(0, account({}, std::nullopt));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Cloudflare is ready."));
        QCOMPARE(store->lastCloudSyncAt(), clock->now());
        QCOMPARE(cloud->count(true), 0);
    }

    void editsInABurstMakeOneSave()
    {
        keychain->token = QStringLiteral("t");
        const Website a = site("a"), b = site("b");
        storeLocal({a, b});
        auto store = makeStore();
        cloud->succeed(0, account({a, b}, std::nullopt));  // never written: local list saved
        cloud->succeed(1, account({a, b}, Instant{10}));
        QCOMPARE(cloud->calls.size(), 2);

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
        QCOMPARE(cloud->calls[2].sent.updatedAt, Instant{10});
    }

    void everyStatusSentence()
    {
        const QList<std::pair<CloudSyncError, QString>> sentences{
            {CloudSyncError::missingToken, "Add your Cloudflare sync token in Settings."},
            {CloudSyncError::unauthorized, "Cloudflare sync token was rejected."},
            {CloudSyncError::offline, "No internet connection."},
            {CloudSyncError::malformedResponse, "Cloudflare returned an unexpected response."},
            {CloudSyncError::server, "Cloudflare sync failed."},
        };
        for (const auto &[error, sentence] : sentences) {
            init();
            keychain->token = QStringLiteral("t");
            auto store = makeStore();
            cloud->fail(0, error);
            QCOMPARE(store->cloudSyncStatus(), sentence);
            QVERIFY(!store->isCloudSyncing());
        }
        init();
        keychain->token = QStringLiteral("t");
        auto store = makeStore();
        store->saveSyncToken(QStringLiteral("t"));  // same token: its load is already running
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token saved."));
        cloud->fail(0, CloudSyncError::cancelled);
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token saved."));
        store->saveSyncToken(QStringLiteral("  "));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Sync token removed."));
        QVERIFY(!store->hasSyncToken());
        QCOMPARE(cloud->calls.size(), 1);
    }

    void aRejectedSaveKeepsTheTimeStamp()
    {
        keychain->token = QStringLiteral("t");
        const Website a = site("a");
        storeLocal({a}, Instant{5});
        auto store = makeStore();
        cloud->succeed(0, account({a}, Instant{5}));
        cloud->fail(1, CloudSyncError::unauthorized);
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Cloudflare sync token was rejected."));
        QCOMPARE(store->cloudUpdatedAt(), Instant{5});
    }

    // Without the first load, a stored token and a lost local document would push a list
    // holding only the example over the user's account.
    void noSaveBeforeTheAccountWasSeen()
    {
        keychain->token = QStringLiteral("t");
        auto store = makeStore();  // no document: only the example, which schedules a save
        clock->advance(5);
        QCOMPARE(cloud->count(true), 0);
        const Website mine = site("mine");
        cloud->succeed(0, account({mine}, Instant{50}));
        QCOMPARE(store->websites().first(), mine);
        clock->advance(0.4);  // then the re-added example is saved, with the account's list
        QCOMPARE(cloud->count(true), 1);
        QCOMPARE(cloud->calls.last().sent.websites.first(), mine);
    }

    void aFailedFirstLoadHoldsSavesBack()
    {
        keychain->token = QStringLiteral("t");
        const Website a = site("a");
        storeLocal({a});
        auto store = makeStore();
        cloud->fail(0, CloudSyncError::offline);
        store->setRefreshInterval(RefreshInterval::thirty);
        clock->advance(0.4);
        // The save asked for a load instead, which decides.
        QCOMPARE(cloud->count(true), 0);
        QCOMPARE(cloud->count(false), 2);
    }

    void aNewTokenIsANewAccount()
    {
        keychain->token = QStringLiteral("old");
        const Website a = site("a");
        storeLocal({a}, Instant{5});
        auto store = makeStore();
        store->saveSyncToken(QStringLiteral("new"));
        QCOMPARE(store->cloudUpdatedAt(), std::nullopt);
        QCOMPARE(cloud->calls.size(), 1);  // waits for the old account's load to end
        cloud->succeed(0, account({site("old account")}, Instant{99}));
        QCOMPARE(store->websites(), QList<Website>{a});  // the old account's answer is dropped
        QCOMPARE(cloud->calls.size(), 2);
        QVERIFY(!cloud->calls[1].isSave);
        const Website fresh = site("new account");
        cloud->succeed(1, account({fresh}, Instant{7}));
        QCOMPARE(store->websites(), QList<Website>{fresh});
        QCOMPARE(store->cloudUpdatedAt(), Instant{7});
    }

    void overlappingLoadAndSaveCountAsSyncing()
    {
        keychain->token = QStringLiteral("t");
        const Website a = site("a");
        storeLocal({a}, Instant{5});
        auto store = makeStore();
        cloud->succeed(0, account({a}, Instant{5}));
        QCOMPARE(cloud->count(true), 1);  // the load pushed; the push is in flight
        store->setRefreshInterval(RefreshInterval::thirty);
        clock->advance(0.4);
        QCOMPARE(cloud->count(true), 2);
        cloud->succeed(1, account({a}, Instant{6}));
        QVERIFY(store->isCloudSyncing());  // the second save is still running
        cloud->succeed(2, account({a}, Instant{7}));
        QVERIFY(!store->isCloudSyncing());
        QCOMPARE(store->cloudUpdatedAt(), Instant{7});
    }
};

QTEST_GUILESS_MAIN(CloudSyncTest)
#include "CloudSyncTest.moc"
