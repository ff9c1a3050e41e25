#pragma once

#include "CountryListModel.h"
#include "VisitorListModel.h"
#include "WebsiteListModel.h"

#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <QCoroTask>

class AppStore;
struct ProviderCredentials;
struct Website;

// The store as the pages see it (the `Store` singleton): plain values that QML can bind to,
// each announced only when it really changed, and the store's operations by website id text.
class StoreBridge : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Store)
    QML_SINGLETON
    // The lists the pages show, each kept up to date in place.
    Q_PROPERTY(WebsiteListModel *websites READ websites CONSTANT)
    Q_PROPERTY(CountryListModel *selectedCountries READ selectedCountries CONSTANT)
    Q_PROPERTY(VisitorListModel *selectedVisitors READ selectedVisitors CONSTANT)
    Q_PROPERTY(QString selectedWebsiteID READ selectedWebsiteID NOTIFY selectedWebsiteIDChanged)
    Q_PROPERTY(QVariant selectedWebsite READ selectedWebsite NOTIFY selectedWebsiteChanged)
    Q_PROPERTY(QVariant selectedSnapshot READ selectedSnapshot NOTIFY selectedSnapshotChanged)
    Q_PROPERTY(bool hasSelectedError READ hasSelectedError NOTIFY selectedErrorChanged)
    Q_PROPERTY(QString selectedErrorMessage READ selectedErrorMessage NOTIFY selectedErrorChanged)
    Q_PROPERTY(bool isShowingStaleData READ isShowingStaleData NOTIFY isShowingStaleDataChanged)
    Q_PROPERTY(QStringList trackingInstalledIDs READ trackingInstalledIDs NOTIFY trackingInstalledIDsChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(int refreshInterval READ refreshInterval NOTIFY refreshIntervalChanged)
    Q_PROPERTY(QString menuBarMetric READ menuBarMetric NOTIFY menuBarMetricChanged)
    Q_PROPERTY(QString panelAppearance READ panelAppearance NOTIFY panelAppearanceChanged)
    // [{value, title}] in declaration order.
    Q_PROPERTY(QVariantList refreshIntervals READ refreshIntervals CONSTANT)
    Q_PROPERTY(QVariantList menuBarMetrics READ menuBarMetrics CONSTANT)
    Q_PROPERTY(QVariantList panelAppearances READ panelAppearances CONSTANT)
    // The provider's: [{key, label, prompt, isSecret}], its minimum period, its wording.
    Q_PROPERTY(QVariantList credentialFields READ credentialFields CONSTANT)
    Q_PROPERTY(double minimumRefreshInterval READ minimumRefreshInterval CONSTANT)
    Q_PROPERTY(bool usesConnectWording READ usesConnectWording CONSTANT)
    // The account: the service's address as the clients use it, whether a token is stored, the
    // sync's last sentence and time, and why no token can be kept ("" while one can).
    Q_PROPERTY(QString baseURL READ baseURL NOTIFY baseURLChanged)
    Q_PROPERTY(bool hasSyncToken READ hasSyncToken NOTIFY hasSyncTokenChanged)
    Q_PROPERTY(QString cloudSyncStatus READ cloudSyncStatus NOTIFY cloudSyncStatusChanged)
    Q_PROPERTY(QString lastCloudSyncText READ lastCloudSyncText NOTIFY lastCloudSyncTextChanged)
    Q_PROPERTY(bool isCloudSyncing READ isCloudSyncing NOTIFY isCloudSyncingChanged)
    Q_PROPERTY(QString tokenUnavailableReason READ tokenUnavailableReason NOTIFY tokenUnavailableReasonChanged)

public:
    explicit StoreBridge(AppStore &store, QObject *parent = nullptr);
    // The engine's own, over the store prepareViewEngine gave it.
    static StoreBridge *create(QQmlEngine *engine, QJSEngine *);

    WebsiteListModel *websites() { return &m_websites; }
    CountryListModel *selectedCountries() { return &m_selectedCountries; }
    VisitorListModel *selectedVisitors() { return &m_selectedVisitors; }
    QString selectedWebsiteID() const { return m_selectedWebsiteID; }
    QVariant selectedWebsite() const { return m_selectedWebsite; }
    QVariant selectedSnapshot() const { return m_selectedSnapshot; }
    bool hasSelectedError() const { return m_hasSelectedError; }
    QString selectedErrorMessage() const { return m_selectedErrorMessage; }
    bool isShowingStaleData() const { return m_isShowingStaleData; }
    QStringList trackingInstalledIDs() const { return m_trackingInstalledIDs; }
    bool isRefreshing() const;
    int refreshInterval() const;
    QString menuBarMetric() const;
    QString panelAppearance() const;
    QVariantList refreshIntervals() const;
    QVariantList menuBarMetrics() const;
    QVariantList panelAppearances() const;
    QVariantList credentialFields() const;
    double minimumRefreshInterval() const;
    bool usesConnectWording() const;
    QString baseURL() const;
    bool hasSyncToken() const;
    QString cloudSyncStatus() const;
    QString lastCloudSyncText() const;
    bool isCloudSyncing() const;
    QString tokenUnavailableReason() const;

    // The website with that id as a plain value, or null.
    Q_INVOKABLE QVariant website(const QString &websiteID) const;
    // {readable, values}: the stored credentials of a website ({} when none are stored);
    // readable is false when the credential store failed. These outcomes are plain JavaScript
    // objects (variants): QML of Qt 6.4 has no typed record for them.
    Q_INVOKABLE QVariant loadCredentials(const QString &websiteID) const;

    Q_INVOKABLE void selectWebsite(const QString &websiteID);
    Q_INVOKABLE void removeWebsite(const QString &websiteID);
    Q_INVOKABLE void refreshNow();
    Q_INVOKABLE void setRefreshInterval(int seconds);
    Q_INVOKABLE void setMenuBarMetric(const QString &rawValue);
    Q_INVOKABLE void setPanelAppearance(const QString &rawValue);

    // Starts saving a website ({id, displayName, domain, dashboardURLString}) with the secret
    // values as typed. The store keeps it, selects it and waits for its first refresh; then
    // saveFinished reports the returned ticket, never before this call has returned.
    Q_INVOKABLE int saveWebsite(const QVariantMap &website, const QVariantMap &secretValues);

    // Keeps the token and uses the address from the next request on. {connected, serviceMessage,
    // tokenMessage}: a refused address or token says why under its field, and changes nothing.
    Q_INVOKABLE QVariant connectAccount(const QString &address, const QString &token);
    // Removes the stored token; the websites stay. A message when the keyring refused, else "".
    Q_INVOKABLE QString disconnectAccount();

signals:
    void selectedWebsiteIDChanged();
    void selectedWebsiteChanged();
    void selectedSnapshotChanged();
    void selectedErrorChanged();
    void isShowingStaleDataChanged();
    void trackingInstalledIDsChanged();
    void isRefreshingChanged();
    void refreshIntervalChanged();
    void menuBarMetricChanged();
    void panelAppearanceChanged();
    void saveFinished(int ticket, bool succeeded);
    void baseURLChanged();
    void hasSyncTokenChanged();
    void cloudSyncStatusChanged();
    void lastCloudSyncTextChanged();
    void isCloudSyncingChanged();
    void tokenUnavailableReasonChanged();

private:
    void sync();
    static QCoro::Task<> save(QPointer<StoreBridge> self, QPointer<AppStore> store, Website website,
                              ProviderCredentials credentials, int ticket);

    AppStore &m_store;
    WebsiteListModel m_websites;
    CountryListModel m_selectedCountries;
    VisitorListModel m_selectedVisitors;
    QString m_selectedWebsiteID;
    QVariant m_selectedWebsite;
    QVariant m_selectedSnapshot;
    bool m_hasSelectedError = false;
    QString m_selectedErrorMessage;
    bool m_isShowingStaleData = false;
    QStringList m_trackingInstalledIDs;
    int m_lastTicket = 0;
};
