// The store's list operations, settings and persisted document.
#include "StoreFakes.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Runs saveWebsite to its end, noting how it ended.
struct SaveOutcome {
    bool returned = false;
    std::optional<KeychainStoreError> error;
};

QCoro::Task<> save(AppStore *store, Website website, ProviderCredentials credentials, SaveOutcome *outcome)
{
    try {
        co_await store->saveWebsite(website, credentials);
        outcome->returned = true;
    } catch (const KeychainStoreError &error) {
        outcome->error = error;
    }
}

}  // namespace

class AppStoreTest : public QObject, StoreFixture
{
    Q_OBJECT

private slots:
    void init() { reset(); }
    void cleanupTestCase() { endUnanswered(); }

    void theExampleIsAddedOnceUntilRemoved()
    {
        {
            auto store = makeStore();
            QCOMPARE(store->websites().size(), 1);
            const Website example = store->websites().first();
            QCOMPARE(example.domain, QStringLiteral("example.com"));
            QCOMPARE(store->selectedWebsiteID(), example.id);
            QCOMPARE(storedState()->websites, store->websites());  // its addition is written at once
            store->removeWebsite(example.id);
        }
        QVERIFY(makeStore()->websites().isEmpty());  // removed for good

        // The user's own entry for the example's domain counts as the example.
        reset();
        const Website typed{QUuid::createUuid(), "Mine", "www.EXAMPLE.com", std::nullopt};
        storeState({{typed}, std::nullopt, RefreshInterval::sixty, {}, std::nullopt}, false);
        auto store = makeStore();
        QCOMPARE(store->websites(), QList<Website>{typed});
        QCOMPARE(store->selectedWebsiteID(), typed.id);
    }

    void settingsReachTheFileAtOnceAndOnlyWhenChanged()
    {
        defaults->settings->setValue("orvela.appearance", "Dark");  // not a value the store reads
        auto store = makeStore();
        // Choosing what is chosen already changes nothing.
        store->setPanelAppearance(PanelAppearance::light);
        store->setRefreshInterval(RefreshInterval::sixty);
        QCOMPARE(defaults->settings->value("orvela.appearance").toString(), QStringLiteral("Dark"));
        QVERIFY(!store->pollTask());

        store->setRefreshInterval(RefreshInterval::oneTwenty);
        QVERIFY(store->pollTask());  // polling restarts at the new pace
        QCOMPARE(storedState()->refreshInterval, RefreshInterval::oneTwenty);
        store->setPanelAppearance(PanelAppearance::dark);
        store->setMenuBarMetric(MenuBarMetric::week);
        // In the file itself at once, for a crash right after. (Another QSettings in this
        // process would share the unwritten cache.)
        QFile file(defaults->dir.filePath("orvela.conf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY2(written.contains("orvela.appearance=dark") && written.contains("orvela.menuBarMetric=week"), written);
    }

    void savingKeepsOnlyTrimmedCredentials()
    {
        auto store = makeStore();
        Website example = store->websites().first();
        const Website added = site("blog");
        SaveOutcome first, second, refused, plain;
        save(store.get(), added, {{{"key", "  "}}}, &first);
        QCOMPARE(store->selectedWebsiteID(), added.id);
        QVERIFY(!keychain->credentials.contains(added.id));  // only spaces: nothing to keep
        QVERIFY(!first.returned);                            // waits for the refresh it started
        example.displayName = QStringLiteral("Renamed");
        save(store.get(), example, {{{"token", " secret\n"}}}, &second);
        QVERIFY(first.returned);  // that refresh was replaced: the save ends all the same
        QCOMPARE(store->websites(), (QList<Website>{example, added}));
        QCOMPARE(keychain->credentials.value(example.id).values.value("token"), QStringLiteral("secret"));

        // A keyring that cannot keep them fails the whole save; without any, it is not asked.
        keychain->failing = true;
        save(store.get(), site("x"), {{{"key", "value"}}}, &refused);
        QCOMPARE(refused.error, KeychainStoreError::unreadable());
        QCOMPARE(store->websites().size(), 2);
        save(store.get(), site("y"), {}, &plain);
        QVERIFY(!plain.error);
        QCOMPARE(store->websites().size(), 3);
    }

    void selectingAndRemovingKeepTheInvariants()
    {
        const Website a = site("a"), b = site("b"), c = site("c");
        storeState({{a, b, c}, b.id, RefreshInterval::sixty, {{b.id, AnalyticsSnapshot{}}}, std::nullopt});
        keychain->credentials.insert(b.id, {{{"k", "v"}}});
        auto store = makeStore();
        // Selecting what is selected already, or what is not listed, does nothing.
        QSignalSpy selection(store.get(), &AppStore::selectedWebsiteIDChanged);
        store->selectWebsite(b.id);
        store->selectWebsite(QUuid::createUuid());
        QCOMPARE(selection.count(), 0);
        QVERIFY(provider->fetches.isEmpty());
        store->selectWebsite(c.id);
        QCOMPARE(provider->fetches.size(), 1);
        QCOMPARE(provider->fetches[0].website, c);
        QCOMPARE(storedState()->selectedWebsiteID, c.id);

        store->removeWebsite(c.id);
        QCOMPARE(store->selectedWebsiteID(), a.id);  // the first one takes over, and is refreshed
        QCOMPARE(provider->fetches.last().website, a);
        store->removeWebsite(b.id);
        QCOMPARE(store->selectedWebsiteID(), a.id);
        QVERIFY(store->snapshots().isEmpty());
        QVERIFY(!keychain->credentials.contains(b.id));
        keychain->failing = true;  // a keyring failure does not stop a removal
        store->removeWebsite(a.id);
        QVERIFY(store->websites().isEmpty());
        QCOMPARE(store->selectedWebsiteID(), std::nullopt);
        QVERIFY(!store->isRefreshing());
    }

    void theStoredDocumentIsReadExactlyAndNeverDestroyed()
    {
        Website b = site("b");
        b.domain = QStringLiteral("localhost:8080");
        b.dashboardURLString = QStringLiteral("https://dash.example.org/b");
        const AnalyticsSnapshot snapshot{.hourlyVisitors = QList<HourlyVisitorCount>{{Instant{786297600.5}, 3}},
                                         .refreshedAt = Instant{786297600.123456789},
                                         .visitorsAllTime = 9007199254740993LL};  // not exact as a double
        const PersistedState state{
            {site("a"), b}, b.id, RefreshInterval::oneTwenty, {{b.id, snapshot}}, Instant{1.0 / 3.0}};
        storeState(state);
        makeStore()->persistState();
        QVERIFY(storedState() == state);

        // A selection that is not listed falls back to the first website, or to none.
        const Website a = state.websites.first();
        storeState({{a, b}, QUuid::createUuid(), RefreshInterval::sixty, {}, std::nullopt});
        QCOMPARE(makeStore()->selectedWebsiteID(), a.id);
        storeState({{}, a.id, RefreshInterval::sixty, {}, std::nullopt});
        QCOMPARE(makeStore()->selectedWebsiteID(), std::nullopt);

        // An unreadable document is kept aside, not destroyed.
        reset();
        const QByteArray damaged = R"({"websites":[],"refreshInterval":45,"snapshots":[]})";
        defaults->settings->setValue("orvela.state.v1", damaged);
        auto store = makeStore();
        // Starts as with no document: the example is added, which writes a new one.
        QCOMPARE(store->websites().size(), 1);
        QCOMPARE(defaults->settings->value("orvela.state.v1.unreadable").toByteArray(), damaged);
        QVERIFY(storedState());
        // Only the first write over it keeps it: a later write leaves the rescued bytes alone.
        store->setRefreshInterval(RefreshInterval::thirty);
        QCOMPARE(defaults->settings->value("orvela.state.v1.unreadable").toByteArray(), damaged);
    }
};

QTEST_GUILESS_MAIN(AppStoreTest)
#include "AppStoreTest.moc"
