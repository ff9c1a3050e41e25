// Loading and saving the account state, with a fake sync client and a fake clock.
#include "StoreFakes.h"

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

    // The integration test walks the same start-up against a real server, to the save that
    // follows; here, what it cannot see.
    void adoptingDropsWhatTheAccountDoesNotList()
    {
        auto store = start(std::nullopt);
        const QUuid example = store->websites().first().id;
        provider->succeed(0, AnalyticsSnapshot{});
        QVERIFY(store->snapshots().contains(example));
        cloud->succeed(0, account({site("one")}, Instant{1000}));
        QCOMPARE(store->websites().size(), 2);  // the example comes back, as a new entry
        QVERIFY(!store->snapshots().contains(example));  // the dropped website's snapshot goes too
    }

    void theAdoptRules()
    {
        const Website local = site("local"), remote = site("remote");
        const struct {
            const char *name;
            QList<Website> localList;
            std::optional<Instant> cloudUpdatedAt;
            CloudSyncState state;
            bool adopt;
        } cases[] = {
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
            reset();
            storeState({c.localList, std::nullopt, RefreshInterval::sixty, {}, c.cloudUpdatedAt});
            QVERIFY2(makeStore()->shouldAdoptCloudState(c.state) == c.adopt, c.name);
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
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Cloudflare sync token was rejected."));
        QCOMPARE(store->cloudUpdatedAt(), Instant{5});
        QVERIFY(store->isCloudSyncing());
        cloud->succeed(2, account({a, b}, Instant{7}));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Saved to Cloudflare."));
        QVERIFY(!store->isCloudSyncing());
        QCOMPARE(store->cloudUpdatedAt(), Instant{7});
        QCOMPARE(store->lastCloudSyncAt(), clock->now());
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
            reset();
            auto store = start(std::nullopt);
            cloud->fail(0, error);
            QCOMPARE(store->cloudSyncStatus(), sentence);
            QVERIFY(!store->isCloudSyncing());
        }
        reset();
        auto store = start(QList<Website>{});
        cloud->succeed(0, account({}, std::nullopt));
        QCOMPARE(store->cloudSyncStatus(), QStringLiteral("Cloudflare is ready."));
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
                 QStringLiteral("Add a Cloudflare sync token to store websites in your account."));
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
