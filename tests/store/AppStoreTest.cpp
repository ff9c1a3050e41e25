// The store's list operations, settings, persisted document and derived values.
#include "AppStore.h"
#include "ExampleWebsite.h"
#include "PersistedState.h"
#include "StoreFakes.h"

#include <QSignalSpy>
#include <QTest>

namespace {

Website site(const char *name, const char *domain)
{
    return {QUuid::createUuid(), QString::fromLatin1(name), QString::fromLatin1(domain), std::nullopt};
}

AnalyticsSnapshot snapshotWith(qint64 live, Instant at)
{
    AnalyticsSnapshot snapshot;
    snapshot.liveVisitors = live;
    snapshot.visitorsToday = 1234;
    snapshot.refreshedAt = at;
    return snapshot;
}

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


    std::unique_ptr<AppStore> makeStore()
    {
        return std::make_unique<AppStore>(provider, keychain, cloud, defaults->settings, false, clock);
    }

    void storeDocument(const PersistedState &state) { defaults->settings->setValue("orvela.state.v1", state.encode()); }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        reset();
    }

    void freshInstallShowsTheSelectedExample()
    {
        auto store = makeStore();
        QCOMPARE(store->refreshInterval(), RefreshInterval::sixty);
        QCOMPARE(store->menuBarMetric(), MenuBarMetric::live);
        QCOMPARE(store->panelAppearance(), PanelAppearance::light);
        QVERIFY(store->isOnline());
        QCOMPARE(store->websites().size(), 1);
        const Website example = store->websites().first();
        QCOMPARE(example.domain, QStringLiteral("example.com"));
        QCOMPARE(example.displayName, QStringLiteral("Example"));
        QCOMPARE(store->selectedWebsiteID(), example.id);
        QVERIFY(store->isTrackingInstalled(example.id));
        // The example's addition is the first document written.
        const auto stored = PersistedState::decode(defaults->settings->value("orvela.state.v1").toByteArray());
        QVERIFY(stored);
        QCOMPARE(stored->websites, store->websites());
        QVERIFY(cloud->calls.isEmpty());
    }

    void preferencesAreReadExactly()
    {
        defaults->settings->setValue("orvela.appearance", "Dark");
        defaults->settings->setValue("orvela.menuBarMetric", "allTime");
        auto store = makeStore();
        QCOMPARE(store->panelAppearance(), PanelAppearance::light);
        QCOMPARE(store->menuBarMetric(), MenuBarMetric::allTime);

        QSignalSpy appearance(store.get(), &AppStore::panelAppearanceChanged);
        store->setPanelAppearance(PanelAppearance::light);
        QCOMPARE(appearance.count(), 0);
        QCOMPARE(defaults->settings->value("orvela.appearance").toString(), QStringLiteral("Dark"));
        store->setPanelAppearance(PanelAppearance::dark);
        QCOMPARE(appearance.count(), 1);
        QCOMPARE(defaults->settings->value("orvela.appearance").toString(), QStringLiteral("dark"));
        store->setMenuBarMetric(MenuBarMetric::week);
        QCOMPARE(defaults->settings->value("orvela.menuBarMetric").toString(), QStringLiteral("week"));
    }

    void selectingSavesAndRefreshesOnlyOnChange()
    {
        defaults->settings->setValue("orvela.dismissedExampleDemo", true);
        const Website a = site("A", "a.example.org"), b = site("B", "b.example.org");
        storeDocument({{a, b}, a.id, RefreshInterval::thirty, {}, std::nullopt});
        auto store = makeStore();
        QSignalSpy selection(store.get(), &AppStore::selectedWebsiteIDChanged);

        store->selectWebsite(a.id);
        store->selectWebsite(QUuid::createUuid());
        QCOMPARE(selection.count(), 0);
        QCOMPARE(provider->fetches.size(), 0);

        store->selectWebsite(b.id);
        QCOMPARE(selection.count(), 1);
        QCOMPARE(provider->fetches.size(), 1);
        QCOMPARE(provider->fetches[0].website, b);
        QVERIFY(store->isRefreshing());
        const auto stored = PersistedState::decode(defaults->settings->value("orvela.state.v1").toByteArray());
        QCOMPARE(stored->selectedWebsiteID, b.id);
    }

    void savingReplacesInPlaceOrAppendsAndWaitsForTheRefresh()
    {
        auto store = makeStore();
        const QUuid example = store->websites().first().id;
        Website added = site("Blog", "blog.example.org");
        SaveOutcome first;
        save(store.get(), added, {{{"key", "  "}}}, &first);
        QVERIFY(!first.returned);  // waits for the refresh it started
        QCOMPARE(store->websites().size(), 2);
        QCOMPARE(store->websites().last(), added);
        QCOMPARE(store->selectedWebsiteID(), added.id);
        // A value of only spaces is no credential: the keyring is not written.
        QVERIFY(!keychain->credentials.contains(added.id));
        provider->succeed(0, snapshotWith(5, clock->now()));
        QVERIFY(first.returned);
        QCOMPARE(store->selectedSnapshot()->liveVisitors, 5);

        Website renamed = store->websites().first();
        QCOMPARE(renamed.id, example);
        renamed.displayName = QStringLiteral("Renamed");
        SaveOutcome second;
        save(store.get(), renamed, {{{"token", " secret\n"}}}, &second);
        QCOMPARE(store->websites().first(), renamed);
        QCOMPARE(store->websites().size(), 2);
        QCOMPARE(keychain->credentials.value(example).values.value("token"), QStringLiteral("secret"));
        QVERIFY(!second.returned);
        provider->fail(1, AnalyticsFailure::unavailable);
        QVERIFY(second.returned);  // a failed refresh still ends the save
    }

    void savingFailsWholeWhenCredentialsCannotBeKept()
    {
        auto store = makeStore();
        const auto before = store->websites();
        keychain->failing = true;
        SaveOutcome refused;
        save(store.get(), site("X", "x.example.org"), {{{"key", "value"}}}, &refused);
        QCOMPARE(refused.error, KeychainStoreError::unreadable());
        QCOMPARE(store->websites(), before);
        QCOMPARE(store->selectedWebsiteID(), before.first().id);
        // Without anything to keep, a missing keyring does not stop the save.
        SaveOutcome plain;
        save(store.get(), site("Y", "y.example.org"), {}, &plain);
        QVERIFY(!plain.error);
        QCOMPARE(store->websites().size(), before.size() + 1);
    }

    void removingKeepsTheInvariants()
    {
        const Website a = site("A", "a.example.org"), b = site("B", "b.example.org"), c = site("C", "c.example.org");
        defaults->settings->setValue("orvela.dismissedExampleDemo", true);
        storeDocument({{a, b, c}, b.id, RefreshInterval::sixty, {{b.id, snapshotWith(1, clock->now())}}, std::nullopt});
        keychain->credentials.insert(b.id, {{{"k", "v"}}});
        auto store = makeStore();
        const qint64 generation = store->generation();

        store->removeWebsite(c.id);
        QCOMPARE(store->selectedWebsiteID(), b.id);
        store->removeWebsite(b.id);
        QCOMPARE(store->selectedWebsiteID(), a.id);
        QVERIFY(store->snapshots().isEmpty());
        QVERIFY(!keychain->credentials.contains(b.id));
        QCOMPARE(store->generation(), generation + 4);  // each removal, and the refresh after it

        keychain->failing = true;  // a keyring failure does not stop a removal
        store->removeWebsite(a.id);
        QVERIFY(store->websites().isEmpty());
        QCOMPARE(store->selectedWebsiteID(), std::nullopt);
        QVERIFY(!store->isRefreshing());
    }

    void removingTheExampleDismissesItForGood()
    {
        {
            auto store = makeStore();
            QVERIFY(!defaults->settings->contains("orvela.dismissedExampleDemo"));
            store->removeWebsite(store->websites().first().id);
            QVERIFY(defaults->settings->value("orvela.dismissedExampleDemo").toBool());
        }
        auto store = makeStore();
        QVERIFY(store->websites().isEmpty());
    }

    void theExampleIsNotAddedTwice()
    {
        Website typed = site("Mine", "www.EXAMPLE.com");
        storeDocument({{typed}, std::nullopt, RefreshInterval::sixty, {}, std::nullopt});
        auto store = makeStore();
        QCOMPARE(store->websites().size(), 1);
        QCOMPARE(store->selectedWebsiteID(), typed.id);
    }

    void intervalChangeSavesAndRestartsPollingOnlyOnChange()
    {
        auto store = makeStore();
        const QByteArray before = defaults->settings->value("orvela.state.v1").toByteArray();
        QSignalSpy spy(store.get(), &AppStore::refreshIntervalChanged);
        store->setRefreshInterval(RefreshInterval::sixty);
        QCOMPARE(spy.count(), 0);
        QVERIFY(!store->pollTask());
        store->setRefreshInterval(RefreshInterval::oneTwenty);
        QCOMPARE(spy.count(), 1);
        QVERIFY(store->pollTask());
        QVERIFY(defaults->settings->value("orvela.state.v1").toByteArray() != before);
    }

    void persistedDocumentRoundTripsExactly()
    {
        const Website a = site("A", "a.example.org");
        Website b = site("B", "localhost:8080");
        b.dashboardURLString = QStringLiteral("https://dash.example.org/b");
        AnalyticsSnapshot snapshot = snapshotWith(7, Instant{786297600.123456789});
        snapshot.hourlyVisitors = QList<HourlyVisitorCount>{{Instant{786297600.5}, 3}};
        snapshot.visitorsAllTime = 9007199254740993LL;  // not representable as a double
        PersistedState state{{a, b}, b.id, RefreshInterval::oneTwenty, {{a.id, snapshot}}, Instant{1.0 / 3.0}};
        storeDocument(state);
        defaults->settings->setValue("orvela.dismissedExampleDemo", true);
        defaults->settings->sync();

        auto store = makeStore();
        store->persistState();
        const auto reread = PersistedState::decode(defaults->settings->value("orvela.state.v1").toByteArray());
        QVERIFY(reread);
        QCOMPARE(reread->websites, state.websites);
        QCOMPARE(reread->selectedWebsiteID, b.id);
        QCOMPARE(reread->refreshInterval, RefreshInterval::oneTwenty);
        QCOMPARE(reread->snapshots.size(), 1);
        QCOMPARE(reread->snapshots[0].snapshot, snapshot);
        QCOMPARE(reread->cloudUpdatedAt->sinceReferenceDate, 1.0 / 3.0);
    }

    void loadingChoosesAValidSelection()
    {
        defaults->settings->setValue("orvela.dismissedExampleDemo", true);
        const Website a = site("A", "a.example.org"), b = site("B", "b.example.org");
        storeDocument({{a, b}, QUuid::createUuid(), RefreshInterval::sixty, {}, std::nullopt});
        QCOMPARE(makeStore()->selectedWebsiteID(), a.id);
        storeDocument({{}, a.id, RefreshInterval::sixty, {}, std::nullopt});
        QCOMPARE(makeStore()->selectedWebsiteID(), std::nullopt);
    }

    void anUnreadableDocumentIsKeptAsideNotDestroyed()
    {
        const QByteArray damaged = R"({"websites":[],"refreshInterval":45,"snapshots":[]})";
        defaults->settings->setValue("orvela.state.v1", damaged);
        auto store = makeStore();
        // Starts as with no document: the example is added, which writes a new one.
        QCOMPARE(store->websites().size(), 1);
        QCOMPARE(defaults->settings->value("orvela.state.v1.unreadable").toByteArray(), damaged);
        QVERIFY(PersistedState::decode(defaults->settings->value("orvela.state.v1").toByteArray()));
        // Only the first write over it keeps it: a later write leaves the rescued bytes alone.
        store->setRefreshInterval(RefreshInterval::thirty);
        QCOMPARE(defaults->settings->value("orvela.state.v1.unreadable").toByteArray(), damaged);
    }

    void writesReachTheFileAtOnce()
    {
        auto store = makeStore();
        store->setMenuBarMetric(MenuBarMetric::month);
        // Another reader of the same file, as after a crash and a restart.
        QSettings other(defaults->dir.filePath("orvela.conf"), QSettings::IniFormat);
        QCOMPARE(other.value("orvela.menuBarMetric").toString(), QStringLiteral("month"));
        QVERIFY(PersistedState::decode(other.value("orvela.state.v1").toByteArray()));
    }

    void menuBarTextsFollowMetricAndSnapshot()
    {
        auto store = makeStore();
        QCOMPARE(store->menuBarValue(), std::nullopt);
        QCOMPARE(store->menuBarDescription(), QStringLiteral("Orvela, live visitors unavailable"));
        const QString id = store->selectedWebsiteID()->toString(QUuid::WithoutBraces).toUpper();
        QCOMPARE(store->menuBarSignature(), id + QStringLiteral("|live|\u2014|Orvela, live visitors unavailable"));

        store->refreshNow();
        AnalyticsSnapshot snapshot = snapshotWith(3, clock->now());
        snapshot.visitorsAllTime = 1234567;
        provider->succeed(0, snapshot);
        store->setMenuBarMetric(MenuBarMetric::allTime);
        QCOMPARE(store->menuBarValue(), snapshot.visitorsAllTime);
        const QString grouped = QLocale().toString(*snapshot.visitorsAllTime);
        QVERIFY(grouped.contains(u','));
        QCOMPARE(store->menuBarDescription(), QStringLiteral("Orvela, ") + grouped + QStringLiteral(" visitors all time"));
        QCOMPARE(store->menuBarSignature(),
                 id + QStringLiteral("|allTime|") + grouped + u'|' + store->menuBarDescription());

        store->removeWebsite(*store->selectedWebsiteID());
        QCOMPARE(store->menuBarSignature(), QStringLiteral("|allTime|\u2014|Orvela, visitors all time unavailable"));
    }
};

QTEST_GUILESS_MAIN(AppStoreTest)
#include "AppStoreTest.moc"
