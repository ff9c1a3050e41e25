#include "StoreBridge.h"

#include "AccountText.h"
#include "AppStore.h"
#include "BaseURL.h"
#include "QmlValues.h"
#include "ViewEngine.h"

#include <stdexcept>

namespace {

template<typename T>
void assign(StoreBridge *bridge, T &field, const T &value, void (StoreBridge::*changed)())
{
    if (field == value)
        return;
    field = value;
    emit(bridge->*changed)();
}

QVariantList choices(const auto &cases, auto raw, auto title)
{
    QVariantList values;
    for (const auto &choice : cases)
        values.append(QVariantMap{{QStringLiteral("value"), raw(choice)}, {QStringLiteral("title"), title(choice)}});
    return values;
}

}  // namespace

StoreBridge::StoreBridge(AppStore &store, QObject *parent)
    : QObject(parent),
      m_store(store),
      m_websites(this),
      m_selectedCountries(this),
      m_selectedVisitors(this)
{
    for (auto changed : {&AppStore::websitesChanged, &AppStore::selectedWebsiteIDChanged, &AppStore::snapshotsChanged,
                         &AppStore::errorsChanged})
        connect(&store, changed, this, &StoreBridge::sync);
    connect(&store, &AppStore::isRefreshingChanged, this, &StoreBridge::isRefreshingChanged);
    connect(&store, &AppStore::refreshIntervalChanged, this, &StoreBridge::refreshIntervalChanged);
    connect(&store, &AppStore::menuBarMetricChanged, this, &StoreBridge::menuBarMetricChanged);
    connect(&store, &AppStore::panelAppearanceChanged, this, &StoreBridge::panelAppearanceChanged);
    connect(&store, &AppStore::baseURLChanged, this, &StoreBridge::baseURLChanged);
    connect(&store, &AppStore::hasSyncTokenChanged, this, &StoreBridge::hasSyncTokenChanged);
    connect(&store, &AppStore::cloudSyncStatusChanged, this, &StoreBridge::cloudSyncStatusChanged);
    connect(&store, &AppStore::lastCloudSyncAtChanged, this, &StoreBridge::lastCloudSyncTextChanged);
    connect(&store, &AppStore::isCloudSyncingChanged, this, &StoreBridge::isCloudSyncingChanged);
    connect(&store, &AppStore::secretStoreReachChanged, this, &StoreBridge::tokenUnavailableReasonChanged);
    sync();
}

StoreBridge *StoreBridge::create(QQmlEngine *engine, QJSEngine *)
{
    AppStore *store = preparedStore(engine);
    if (!store)
        qFatal("the QML engine was not prepared with a store (prepareViewEngine)");
    return new StoreBridge(*store);
}

void StoreBridge::sync()
{
    QStringList trackingInstalled;
    for (const Website &website : m_store.websites()) {
        if (m_store.isTrackingInstalled(website.id))
            trackingInstalled.append(QmlValues::idText(website.id));
    }
    const std::optional<QUuid> selectedID = m_store.selectedWebsiteID();
    const std::optional<Website> selected = m_store.selectedWebsite();
    const std::optional<AnalyticsSnapshot> snapshot = m_store.selectedSnapshot();
    const std::optional<AnalyticsFailure> failure = m_store.selectedError();

    m_websites.setWebsites(m_store.websites());
    assign(this, m_selectedWebsiteID, selectedID ? QmlValues::idText(*selectedID) : QString(),
           &StoreBridge::selectedWebsiteIDChanged);
    assign(this, m_selectedWebsite, selected ? QVariant(QmlValues::website(*selected)) : QVariant(),
           &StoreBridge::selectedWebsiteChanged);
    assign(this, m_selectedSnapshot, snapshot ? QVariant(QmlValues::snapshot(*snapshot)) : QVariant(),
           &StoreBridge::selectedSnapshotChanged);
    m_selectedCountries.setCountries(snapshot ? snapshot->countries : QList<CountryVisitors>());
    m_selectedVisitors.setVisitors(snapshot ? snapshot->recentVisitors : QList<RecentVisitor>());
    const QString message = failure ? AnalyticsFailures::message(*failure) : QString();
    if (failure.has_value() != m_hasSelectedError || message != m_selectedErrorMessage) {
        m_hasSelectedError = failure.has_value();
        m_selectedErrorMessage = message;
        emit selectedErrorChanged();
    }
    assign(this, m_isShowingStaleData, m_store.isShowingStaleData(), &StoreBridge::isShowingStaleDataChanged);
    assign(this, m_trackingInstalledIDs, trackingInstalled, &StoreBridge::trackingInstalledIDsChanged);
}

bool StoreBridge::isRefreshing() const
{
    return m_store.isRefreshing();
}

int StoreBridge::refreshInterval() const
{
    return RefreshIntervals::rawValue(m_store.refreshInterval());
}

QString StoreBridge::menuBarMetric() const
{
    return MenuBarMetrics::rawValue(m_store.menuBarMetric());
}

QString StoreBridge::panelAppearance() const
{
    return PanelAppearances::rawValue(m_store.panelAppearance());
}

QVariantList StoreBridge::refreshIntervals() const
{
    return choices(RefreshIntervals::allCases(), RefreshIntervals::rawValue, RefreshIntervals::title);
}

QVariantList StoreBridge::menuBarMetrics() const
{
    return choices(MenuBarMetrics::allCases(), MenuBarMetrics::rawValue, MenuBarMetrics::title);
}

QVariantList StoreBridge::panelAppearances() const
{
    return choices(PanelAppearances::allCases(), PanelAppearances::rawValue, PanelAppearances::title);
}

QVariantList StoreBridge::credentialFields() const
{
    QVariantList fields;
    for (const CredentialField &field : m_store.provider().credentialFields())
        fields.append(QVariantMap{{QStringLiteral("key"), field.key},
                                  {QStringLiteral("label"), field.label},
                                  {QStringLiteral("prompt"), field.prompt},
                                  {QStringLiteral("isSecret"), field.isSecret}});
    return fields;
}

double StoreBridge::minimumRefreshInterval() const
{
    return m_store.provider().minimumRefreshInterval();
}

bool StoreBridge::usesConnectWording() const
{
    return m_store.provider().usesConnectWording();
}

QString StoreBridge::baseURL() const
{
    return m_store.baseURL().toString();
}

bool StoreBridge::hasSyncToken() const
{
    return m_store.hasSyncToken();
}

QString StoreBridge::cloudSyncStatus() const
{
    return m_store.cloudSyncStatus().value_or(QString());
}

QString StoreBridge::lastCloudSyncText() const
{
    return AccountText::lastSync(m_store.lastCloudSyncAt());
}

bool StoreBridge::isCloudSyncing() const
{
    return m_store.isCloudSyncing();
}

QString StoreBridge::tokenUnavailableReason() const
{
    return AccountText::tokenUnavailable(m_store.secretStoreReach());
}

QVariant StoreBridge::connectAccount(const QString &address, const QString &token)
{
    const QString serviceMessage = baseURLProblem(address).value_or(QString());
    const QString tokenMessage = trimmedText(token).isEmpty() ? AccountText::emptyToken : QString();
    const auto outcome = [](bool connected, const QString &service, const QString &token) {
        return QVariantMap{{QStringLiteral("connected"), connected},
                           {QStringLiteral("serviceMessage"), service},
                           {QStringLiteral("tokenMessage"), token}};
    };
    if (!serviceMessage.isEmpty() || !tokenMessage.isEmpty())
        return outcome(false, serviceMessage, tokenMessage);
    try {
        m_store.connectAccount(*usableBaseURL(address), token);
    } catch (...) {
        return outcome(false, QString(), AccountText::tokenNotSaved);
    }
    return outcome(true, QString(), QString());
}

QString StoreBridge::disconnectAccount()
{
    try {
        m_store.saveSyncToken(QString());
    } catch (...) {
        return AccountText::tokenNotRemoved;
    }
    return {};
}

QVariant StoreBridge::website(const QString &websiteID) const
{
    const std::optional<QUuid> id = QmlValues::idFrom(websiteID);
    for (const Website &website : m_store.websites())
        if (id && website.id == *id)
            return QmlValues::website(website);
    return {};
}

QVariant StoreBridge::loadCredentials(const QString &websiteID) const
{
    const std::optional<QUuid> id = QmlValues::idFrom(websiteID);
    QVariantMap values;
    try {
        if (id) {
            if (const std::optional<ProviderCredentials> stored = m_store.credentialStore().loadCredentials(*id))
                for (auto it = stored->values.cbegin(); it != stored->values.cend(); ++it)
                    values.insert(it.key(), it.value());
        }
    } catch (...) {
        return QVariantMap{{QStringLiteral("readable"), false}, {QStringLiteral("values"), QVariantMap()}};
    }
    return QVariantMap{{QStringLiteral("readable"), true}, {QStringLiteral("values"), values}};
}

void StoreBridge::selectWebsite(const QString &websiteID)
{
    if (const std::optional<QUuid> id = QmlValues::idFrom(websiteID))
        m_store.selectWebsite(*id);
}

void StoreBridge::removeWebsite(const QString &websiteID)
{
    if (const std::optional<QUuid> id = QmlValues::idFrom(websiteID))
        m_store.removeWebsite(*id);
}

void StoreBridge::refreshNow()
{
    m_store.refreshNow();
}

void StoreBridge::setRefreshInterval(int seconds)
{
    if (const std::optional<RefreshInterval> interval = RefreshIntervals::fromRawValue(seconds))
        m_store.setRefreshInterval(*interval);
}

void StoreBridge::setMenuBarMetric(const QString &rawValue)
{
    if (const std::optional<MenuBarMetric> metric = MenuBarMetrics::fromRawValue(rawValue))
        m_store.setMenuBarMetric(*metric);
}

void StoreBridge::setPanelAppearance(const QString &rawValue)
{
    if (const std::optional<PanelAppearance> appearance = PanelAppearances::fromRawValue(rawValue))
        m_store.setPanelAppearance(*appearance);
}

int StoreBridge::saveWebsite(const QVariantMap &website, const QVariantMap &secretValues)
{
    ProviderCredentials credentials;
    for (auto it = secretValues.cbegin(); it != secretValues.cend(); ++it)
        credentials.values.insert(it.key(), it.value().toString());
    const int ticket = ++m_lastTicket;
    save(QPointer(this), QPointer(&m_store), QmlValues::websiteFrom(website), credentials, ticket);
    return ticket;
}

QCoro::Task<> StoreBridge::save(QPointer<StoreBridge> self, QPointer<AppStore> store, Website website,
                                ProviderCredentials credentials, int ticket)
{
    bool succeeded = false;
    try {
        if (website.id.isNull())
            throw std::invalid_argument("website without an id");
        if (store)
            co_await store->saveWebsite(website, credentials);
        succeeded = store != nullptr;
    } catch (...) {
        // Whatever went wrong, the page says that the credentials could not be kept.
    }
    // The store may finish at once: the caller learns its ticket before it hears the outcome.
    if (StoreBridge *bridge = self.data())
        QMetaObject::invokeMethod(
            bridge, [bridge, ticket, succeeded] { emit bridge->saveFinished(ticket, succeeded); },
            Qt::QueuedConnection);
}
