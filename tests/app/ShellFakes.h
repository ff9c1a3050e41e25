#pragma once

// A store built on in-memory collaborators, with the state a test asks for.

#include "AppStore.h"
#include "PersistedState.h"

#include <QCoreApplication>
#include <QTemporaryDir>

inline void settle()
{
    for (int pass = 0; pass < 10; ++pass)
        QCoreApplication::processEvents();
}

// Answers every fetch at once with `next`.
struct InstantProvider final : AnalyticsProvider {
    AnalyticsSnapshot next;
    int fetches = 0;
    QList<CredentialField> credentialFields() const override { return {}; }
    double minimumRefreshInterval() const override { return 30; }
    QCoro::Task<AnalyticsSnapshot> fetchSnapshot(Website, ProviderCredentials, std::stop_token) override
    {
        ++fetches;
        co_return next;
    }
};

struct MemoryCredentials final : CredentialStoring {
    std::optional<QString> token;
    int tokenWrites = 0;
    bool failWrites = false;
    std::optional<QString> loadSyncToken() override { return token; }
    void saveSyncToken(const QString &value) override
    {
        if (failWrites)
            throw KeychainStoreError::status(2);
        ++tokenWrites;
        token = value;
    }
    std::optional<ProviderCredentials> loadCredentials(const QUuid &) override { return std::nullopt; }
    void saveCredentials(const ProviderCredentials &, const QUuid &) override {}
    void deleteCredentials(const QUuid &) override {}
};

// An account endpoint that is never reachable: the store keeps its local state.
struct OfflineSync final : CloudSyncing {
    QCoro::Task<CloudSyncState> loadState(std::stop_token) override { throw CloudSyncError::offline; co_return {}; }
    QCoro::Task<CloudSyncState> saveState(CloudSyncState, std::stop_token) override { return loadState({}); }
};

struct StoreFixture {
    QTemporaryDir directory;
    std::shared_ptr<InstantProvider> provider = std::make_shared<InstantProvider>();
    std::shared_ptr<MemoryCredentials> credentials = std::make_shared<MemoryCredentials>();
    std::unique_ptr<AppStore> store;

    // `websites` sites, the first selected with `snapshot` when given.
    explicit StoreFixture(int websites = 1, std::optional<AnalyticsSnapshot> snapshot = std::nullopt,
                          MenuBarMetric metric = MenuBarMetric::live)
    {
        PersistedState state;
        for (int index = 1; index <= websites; ++index)
            state.websites.append({QUuid::createUuid(), QStringLiteral("Site %1").arg(index),
                                   QStringLiteral("site%1.example.net").arg(index), std::nullopt});
        if (websites > 0)
            state.selectedWebsiteID = state.websites.first().id;
        if (websites > 0 && snapshot)
            state.snapshots.append({state.websites.first().id, *snapshot});
        auto defaults = std::make_shared<QSettings>(directory.filePath(QStringLiteral("orvela.conf")), QSettings::IniFormat);
        defaults->setValue(QString::fromUtf16(AppStore::storageKey), state.encode());
        defaults->setValue(QString::fromUtf16(AppStore::dismissedExampleKey), true);
        defaults->setValue(QString::fromUtf16(AppStore::menuBarMetricKey), MenuBarMetrics::rawValue(metric));
        store = std::make_unique<AppStore>(provider, credentials, std::make_shared<OfflineSync>(), defaults, false);
    }
};

inline AnalyticsSnapshot snapshotWith(qint64 live, qint64 today, std::optional<qint64> week = std::nullopt,
                                      std::optional<qint64> month = std::nullopt,
                                      std::optional<qint64> allTime = std::nullopt)
{
    return {.liveVisitors = live, .visitorsToday = today, .hourlyVisitors = QList<HourlyVisitorCount>{},
            .refreshedAt = Instant::now(), .visitorsWeek = week, .visitorsMonth = month, .visitorsAllTime = allTime};
}
