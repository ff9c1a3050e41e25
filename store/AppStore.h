#pragma once

#include "AnalyticsFailure.h"
#include "AnalyticsProvider.h"
#include "Choices.h"
#include "Clock.h"
#include "CloudSyncing.h"
#include "CredentialStoring.h"
#include "LinkMonitor.h"
#include "TaskHandle.h"
#include "Website.h"

#include <QCoroTask>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QUrl>
#include <memory>
#include <optional>

// The one state object of the application. Everything runs on the main thread; background
// work is a few coroutines that hold the store weakly and check, after every suspension,
// that their result is still wanted.
class AppStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<Website> websites READ websites NOTIFY websitesChanged)
    Q_PROPERTY(std::optional<QUuid> selectedWebsiteID READ selectedWebsiteID NOTIFY selectedWebsiteIDChanged)
    Q_PROPERTY(RefreshInterval refreshInterval READ refreshInterval NOTIFY refreshIntervalChanged)
    Q_PROPERTY(Snapshots snapshots READ snapshots NOTIFY snapshotsChanged)
    Q_PROPERTY(Failures errors READ errors NOTIFY errorsChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(bool isOnline READ isOnline NOTIFY isOnlineChanged)
    Q_PROPERTY(bool hasSyncToken READ hasSyncToken NOTIFY hasSyncTokenChanged)
    Q_PROPERTY(std::optional<QString> cloudSyncStatus READ cloudSyncStatus NOTIFY cloudSyncStatusChanged)
    Q_PROPERTY(std::optional<Instant> lastCloudSyncAt READ lastCloudSyncAt NOTIFY lastCloudSyncAtChanged)
    Q_PROPERTY(bool isCloudSyncing READ isCloudSyncing NOTIFY isCloudSyncingChanged)
    Q_PROPERTY(PanelAppearance panelAppearance READ panelAppearance NOTIFY panelAppearanceChanged)
    Q_PROPERTY(MenuBarMetric menuBarMetric READ menuBarMetric NOTIFY menuBarMetricChanged)
    Q_PROPERTY(qint64 generation READ generation NOTIFY generationChanged)
    Q_PROPERTY(std::optional<Instant> backoffUntil READ backoffUntil NOTIFY backoffUntilChanged)
    Q_PROPERTY(std::optional<Instant> cloudUpdatedAt READ cloudUpdatedAt NOTIFY cloudUpdatedAtChanged)
    Q_PROPERTY(QUrl baseURL READ baseURL NOTIFY baseURLChanged)
    Q_PROPERTY(SecretStoreReach secretStoreReach READ secretStoreReach NOTIFY secretStoreReachChanged)

public:
    using Snapshots = QMap<QUuid, AnalyticsSnapshot>;
    using Failures = QMap<QUuid, AnalyticsFailure>;

    static constexpr char16_t storageKey[] = u"orvela.state.v1";
    // Where an unreadable stored document is kept before anything overwrites it.
    static constexpr char16_t unreadableStorageKey[] = u"orvela.state.v1.unreadable";
    static constexpr char16_t appearanceKey[] = u"orvela.appearance";
    static constexpr char16_t menuBarMetricKey[] = u"orvela.menuBarMetric";
    static constexpr char16_t dismissedExampleKey[] = u"orvela.dismissedExampleDemo";
    static constexpr double cloudSaveDelay = 0.4;

    // A null cloudSync makes the store build the service's own sync client; a null clock
    // makes it use the system's.
    AppStore(std::shared_ptr<AnalyticsProvider> provider, std::shared_ptr<CredentialStoring> credentialStore,
             std::shared_ptr<CloudSyncing> cloudSync, std::shared_ptr<QSettings> defaults, bool startServices,
             std::shared_ptr<Clock> clock = nullptr, QObject *parent = nullptr);
    ~AppStore() override;

    // Observable fields.
    const QList<Website> &websites() const { return m_websites; }
    std::optional<QUuid> selectedWebsiteID() const { return m_selectedWebsiteID; }
    RefreshInterval refreshInterval() const { return m_refreshInterval; }
    const Snapshots &snapshots() const { return m_snapshots; }
    const Failures &errors() const { return m_errors; }
    bool isRefreshing() const { return m_isRefreshing; }
    bool isOnline() const { return m_isOnline; }
    bool hasSyncToken() const { return m_hasSyncToken; }
    std::optional<QString> cloudSyncStatus() const { return m_cloudSyncStatus; }
    std::optional<Instant> lastCloudSyncAt() const { return m_lastCloudSyncAt; }
    bool isCloudSyncing() const { return m_cloudOperations > 0; }
    PanelAppearance panelAppearance() const { return m_panelAppearance; }
    MenuBarMetric menuBarMetric() const { return m_menuBarMetric; }
    qint64 generation() const { return m_generation; }
    std::optional<Instant> backoffUntil() const { return m_backoffUntil; }
    std::optional<Instant> cloudUpdatedAt() const { return m_cloudUpdatedAt; }
    // The service's address both clients use, read by them for every request.
    QUrl baseURL() const;
    // Whether a sync token can be kept at all, as the last keyring call found out.
    SecretStoreReach secretStoreReach() const { return m_secretStoreReach; }
    // With startServices: whether the first keyring read, made off the main thread, has ended
    // and polling and the first cloud load have begun.
    bool servicesStarted() const { return m_servicesStarted; }
    const TaskRef &pollTask() const { return m_pollTask; }

    // Collaborators.
    AnalyticsProvider &provider() const { return *m_provider; }
    CredentialStoring &credentialStore() const { return *m_credentialStore; }
    double effectivePeriod() const;

    // Derived values.
    std::optional<Website> selectedWebsite() const;
    std::optional<AnalyticsSnapshot> selectedSnapshot() const;
    std::optional<AnalyticsFailure> selectedError() const;
    bool isShowingStaleData() const;
    bool isTrackingInstalled(const QUuid &websiteID) const;
    std::optional<qint64> menuBarValue() const;
    QString menuBarDescription() const;
    QString menuBarSignature() const;

    // Operations.
    void selectWebsite(const QUuid &websiteID);
    // Throws KeychainStoreError::unreadable when credentials cannot be kept; returns after the
    // refresh it started.
    QCoro::Task<> saveWebsite(Website website, ProviderCredentials credentials);
    // By value: callers often pass the id of an entry of websites(), which this replaces.
    void removeWebsite(QUuid websiteID);
    void setRefreshInterval(RefreshInterval interval);
    void setMenuBarMetric(MenuBarMetric metric);
    void setPanelAppearance(PanelAppearance appearance);
    void stop();

    // Refreshing and polling.
    void refreshNow();
    void refreshIfStale();
    bool isBackingOff(const QUuid &websiteID) const;
    void startPolling(bool refreshNow);

    // Connectivity. A service on this machine is reachable whatever the network does.
    void handleLinkChange(bool isOnline);
    bool isServiceReachable() const;

    // Cloud sync.
    void refreshSyncTokenState();
    void saveSyncToken(const QString &token);  // throws what the credential store throws
    // Keeps the token, then uses the address (remembered for later launches) from the next
    // request on. A blank token changes nothing: a stored token never goes to a new address.
    // Throws what the credential store throws, and then nothing has changed.
    void connectAccount(const QUrl &baseURL, const QString &token);
    // Uses and remembers another address; the stored token, if any, goes to it from now on.
    void setBaseURL(const QUrl &baseURL);
    QCoro::Task<> syncFromCloud();
    void scheduleCloudSave();
    CloudSyncState makeCloudState() const;
    bool shouldAdoptCloudState(const CloudSyncState &state) const;
    void applyCloudState(const CloudSyncState &state);

    // Persisted state.
    void loadPersistedState();
    void persistState();

    // The example website.
    void addExampleWebsiteIfNeeded();

signals:
    void websitesChanged();
    void selectedWebsiteIDChanged();
    void refreshIntervalChanged();
    void snapshotsChanged();
    void errorsChanged();
    void isRefreshingChanged();
    void isOnlineChanged();
    void hasSyncTokenChanged();
    void cloudSyncStatusChanged();
    void lastCloudSyncAtChanged();
    void isCloudSyncingChanged();
    void panelAppearanceChanged();
    void menuBarMetricChanged();
    void generationChanged();
    void backoffUntilChanged();
    void cloudUpdatedAtChanged();
    void baseURLChanged();
    void secretStoreReachChanged();
    void servicesStartedChanged();

private:
    template<typename T>
    void assign(T &field, const T &value, void (AppStore::*changed)())
    {
        if (field == value)
            return;
        field = value;
        emit(this->*changed)();
    }

    void setSelectedWebsiteID(std::optional<QUuid> id)
    {
        assign(m_selectedWebsiteID, id, &AppStore::selectedWebsiteIDChanged);
    }
    void setIsRefreshing(bool value) { assign(m_isRefreshing, value, &AppStore::isRefreshingChanged); }
    void setCloudSyncStatus(const QString &status)
    {
        assign(m_cloudSyncStatus, std::optional(status), &AppStore::cloudSyncStatusChanged);
    }
    void setCloudUpdatedAt(std::optional<Instant> value)
    {
        assign(m_cloudUpdatedAt, value, &AppStore::cloudUpdatedAtChanged);
    }
    void setLastCloudSyncAt(Instant value)
    {
        assign(m_lastCloudSyncAt, std::optional(value), &AppStore::lastCloudSyncAtChanged);
    }
    void setGeneration(qint64 value) { assign(m_generation, value, &AppStore::generationChanged); }
    void setBackoffUntil(std::optional<Instant> value)
    {
        assign(m_backoffUntil, value, &AppStore::backoffUntilChanged);
    }
    void setSnapshot(const QUuid &id, const AnalyticsSnapshot &snapshot);
    void removeEntries(const QUuid &id);
    void setError(std::optional<AnalyticsFailure> failure, const QUuid &websiteID);
    void finishRefresh(qint64 generation);
    void beginCloudOperation();
    void endCloudOperation();
    void setStatusFrom(std::exception_ptr error);
    void startCloudLoad();
    // What reading the token found: whether one is stored, whether the read failed, and why.
    struct TokenRead {
        bool hasToken = false;
        bool failed = false;
        SecretStoreReach reach = SecretStoreReach::reachable;
    };
    static TokenRead readSyncToken(CredentialStoring &store);
    void applyTokenRead(const TokenRead &read);
    void changeAccount(std::optional<QUrl> baseURL, const QString &token);
    void useBaseURL(const QUrl &baseURL);
    void beginNewAccount();
    void startServices();
    void finishStart(const TokenRead &read, quint64 readsBefore);
    bool isCurrentRefresh(const TaskRef &task, qint64 generation, const QUuid &siteID) const;

    // Bodies of the background tasks. Static, with the store held weakly: a result that
    // arrives after the store is gone does nothing.
    static QCoro::Task<> performRefresh(QPointer<AppStore> self, Website site, qint64 generation, TaskRef task);
    static QCoro::Task<> runPolling(QPointer<AppStore> self, bool refreshNow, TaskRef task);
    static QCoro::Task<> runDebouncedSave(QPointer<AppStore> self, TaskRef task);
    static QCoro::Task<> pushToCloud(QPointer<AppStore> self, std::stop_token stop);
    static QCoro::Task<> runCloudLoad(QPointer<AppStore> self);

    std::shared_ptr<AnalyticsProvider> m_provider;
    std::shared_ptr<CredentialStoring> m_credentialStore;
    std::shared_ptr<CloudSyncing> m_cloudSync;
    std::shared_ptr<QSettings> m_defaults;
    std::shared_ptr<Clock> m_clock;
    LinkMonitor m_link;

    QList<Website> m_websites;
    std::optional<QUuid> m_selectedWebsiteID;
    RefreshInterval m_refreshInterval = RefreshInterval::sixty;
    Snapshots m_snapshots;
    Failures m_errors;
    bool m_isRefreshing = false;
    bool m_isOnline = true;
    bool m_hasSyncToken = false;
    std::optional<QString> m_cloudSyncStatus;
    std::optional<Instant> m_lastCloudSyncAt;
    int m_cloudOperations = 0;
    PanelAppearance m_panelAppearance = PanelAppearance::light;
    MenuBarMetric m_menuBarMetric = MenuBarMetric::live;
    qint64 m_generation = 0;
    TaskRef m_refreshTask;
    TaskRef m_pollTask;
    TaskRef m_syncTask;
    std::optional<Instant> m_backoffUntil;
    std::optional<Instant> m_cloudUpdatedAt;
    SecretStoreReach m_secretStoreReach = SecretStoreReach::reachable;
    bool m_syncTokenUnreadable = false;
    bool m_servicesStarted = false;
    // Counts token reads, so that the start-up read, made off the main thread, never overwrites
    // what a later read (after a token was saved meanwhile) found.
    quint64 m_tokenReads = 0;

    // Bytes of a stored document that could not be read, kept aside before the first write.
    std::optional<QByteArray> m_unreadableDocument;
    // Sync: a new token or a new address starts a new account; nothing is saved to an account
    // before one of its loads has succeeded, so a list the account has not seen never overwrites it.
    quint64 m_accountEpoch = 0;
    quint64 m_operationsEpoch = 0;  // account epoch of the load or save started last
    bool m_loadedUnderToken = false;
    bool m_loadInFlight = false;
    bool m_loadAgain = false;
    bool m_stopped = false;
};
