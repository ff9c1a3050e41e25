#pragma once

// A store built on in-memory collaborators, with the state a test asks for.

#include "AnalyticsProvider.h"
#include "AppStore.h"
#include "CloudSyncing.h"
#include "CredentialStoring.h"
#include "PersistedState.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

inline void settle()
{
    for (int pass = 0; pass < 10; ++pass)
        QCoreApplication::processEvents();
}

// Answers every fetch at once with `next`.
class InstantProvider final : public AnalyticsProvider
{
public:
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

class MemoryCredentials final : public CredentialStoring
{
public:
    std::optional<QString> token;
    int tokenWrites = 0;
    bool failWrites = false;

    std::optional<QString> loadSyncToken() override { return token; }
    void saveSyncToken(const QString &value) override
    {
        if (failWrites)
            throw KeychainStoreError::status(2);
        ++tokenWrites;
        token = value.isEmpty() ? std::nullopt : std::optional(value);
    }
    std::optional<ProviderCredentials> loadCredentials(const QUuid &) override { return std::nullopt; }
    void saveCredentials(const ProviderCredentials &, const QUuid &) override {}
    void deleteCredentials(const QUuid &) override {}
};

// An account endpoint that is never reachable: the store keeps its local state.
class OfflineSync final : public CloudSyncing
{
public:
    QCoro::Task<CloudSyncState> loadState(std::stop_token) override
    {
        throw CloudSyncError::offline;
        co_return CloudSyncState{};
    }
    QCoro::Task<CloudSyncState> saveState(CloudSyncState, std::stop_token) override
    {
        throw CloudSyncError::offline;
        co_return CloudSyncState{};
    }
};

struct StoreFixture {
    QTemporaryDir directory;
    std::shared_ptr<InstantProvider> provider = std::make_shared<InstantProvider>();
    std::shared_ptr<MemoryCredentials> credentials = std::make_shared<MemoryCredentials>();
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("orvela.conf")), QSettings::IniFormat);
    std::unique_ptr<AppStore> store;

    // `websites` sites named "Site 1", ...; the first selected with `snapshot` when given.
    explicit StoreFixture(int websites = 1, std::optional<AnalyticsSnapshot> snapshot = std::nullopt,
                          MenuBarMetric metric = MenuBarMetric::live)
    {
        PersistedState state;
        for (int index = 1; index <= websites; ++index)
            state.websites.append({QUuid::createUuid(), QStringLiteral("Site %1").arg(index),
                                   QStringLiteral("site%1.example.net").arg(index), std::nullopt});
        if (websites > 0) {
            state.selectedWebsiteID = state.websites.first().id;
            if (snapshot)
                state.snapshots.append({state.websites.first().id, *snapshot});
        }
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
    AnalyticsSnapshot snapshot;
    snapshot.liveVisitors = live;
    snapshot.visitorsToday = today;
    snapshot.visitorsWeek = week;
    snapshot.visitorsMonth = month;
    snapshot.visitorsAllTime = allTime;
    snapshot.hourlyVisitors = QList<HourlyVisitorCount>{};
    snapshot.refreshedAt = Instant::now();
    return snapshot;
}
