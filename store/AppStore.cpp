#include "AppStore.h"

#include "DefaultSyncClient.h"
#include "ExampleWebsite.h"
#include "Json.h"
#include "PersistedState.h"

#include <QCoroSignal>
#include <QLocale>
#include <algorithm>

namespace {

QString key(const char16_t *text)
{
    return QString::fromUtf16(text);
}

QString formattedCount(qint64 value)
{
    return QLocale().toString(value);
}

const QString emDash = QStringLiteral("\u2014");

}  // namespace

AppStore::AppStore(std::shared_ptr<AnalyticsProvider> provider, std::shared_ptr<CredentialStoring> credentialStore,
                   std::shared_ptr<CloudSyncing> cloudSync, std::shared_ptr<QSettings> defaults, bool startServices,
                   std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent),
      m_provider(std::move(provider)),
      m_credentialStore(std::move(credentialStore)),
      m_cloudSync(cloudSync ? std::move(cloudSync) : makeDefaultSyncClient(m_credentialStore)),
      m_defaults(std::move(defaults)),
      m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
    if (auto appearance = PanelAppearances::fromRawValue(m_defaults->value(key(appearanceKey)).toString()))
        m_panelAppearance = *appearance;
    if (auto metric = MenuBarMetrics::fromRawValue(m_defaults->value(key(menuBarMetricKey)).toString()))
        m_menuBarMetric = *metric;
    loadPersistedState();
    if (!startServices) {
        refreshSyncTokenState();
        addExampleWebsiteIfNeeded();
        return;
    }
    addExampleWebsiteIfNeeded();
    m_link.onUpdate = [self = QPointer(this)](bool online) {
        if (self)
            self->handleLinkChange(online);
    };
    m_link.start();
    // Polling and the first load begin once the keyring has said whether a token is stored.
    AppStore::startServices();
}

AppStore::~AppStore()
{
    // Nothing can observe these tasks' results any more: let pending transfers end now.
    for (const auto &task : {m_refreshTask, m_pollTask, m_syncTask})
        if (task)
            task->cancel();
}

double AppStore::effectivePeriod() const
{
    return std::max(RefreshIntervals::seconds(m_refreshInterval), m_provider->minimumRefreshInterval());
}

std::optional<Website> AppStore::selectedWebsite() const
{
    if (!m_selectedWebsiteID)
        return std::nullopt;
    for (const auto &website : m_websites)
        if (website.id == *m_selectedWebsiteID)
            return website;
    return std::nullopt;
}

std::optional<AnalyticsSnapshot> AppStore::selectedSnapshot() const
{
    if (!m_selectedWebsiteID)
        return std::nullopt;
    const auto it = m_snapshots.constFind(*m_selectedWebsiteID);
    if (it == m_snapshots.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<AnalyticsFailure> AppStore::selectedError() const
{
    if (!m_selectedWebsiteID)
        return std::nullopt;
    const auto it = m_errors.constFind(*m_selectedWebsiteID);
    if (it == m_errors.constEnd())
        return std::nullopt;
    return *it;
}

bool AppStore::isShowingStaleData() const
{
    return selectedSnapshot() && selectedError();
}

bool AppStore::isTrackingInstalled(const QUuid &websiteID) const
{
    for (const auto &website : m_websites)
        if (website.id == websiteID && ExampleWebsite::isExampleDomain(website.domain))
            return true;
    const auto it = m_snapshots.constFind(websiteID);
    return it != m_snapshots.constEnd() && it->trackingInstalled;
}

std::optional<qint64> AppStore::menuBarValue() const
{
    const auto snapshot = selectedSnapshot();
    if (!snapshot)
        return std::nullopt;
    switch (m_menuBarMetric) {
    case MenuBarMetric::live: return snapshot->liveVisitors;
    case MenuBarMetric::today: return snapshot->visitorsToday;
    case MenuBarMetric::week: return snapshot->visitorsWeek;
    case MenuBarMetric::month: return snapshot->visitorsMonth;
    case MenuBarMetric::allTime: return snapshot->visitorsAllTime;
    }
    return std::nullopt;
}

QString AppStore::menuBarDescription() const
{
    const QString phrase = MenuBarMetrics::visitorPhrase(m_menuBarMetric);
    if (const auto value = menuBarValue())
        return QStringLiteral("Orvela, ") + formattedCount(*value) + u' ' + phrase;
    return QStringLiteral("Orvela, ") + phrase + QStringLiteral(" unavailable");
}

QString AppStore::menuBarSignature() const
{
    const auto value = menuBarValue();
    return QStringList{m_selectedWebsiteID ? Json::uuidText(*m_selectedWebsiteID) : QString(),
                       MenuBarMetrics::rawValue(m_menuBarMetric), value ? formattedCount(*value) : emDash,
                       menuBarDescription()}
        .join(u'|');
}

void AppStore::selectWebsite(const QUuid &websiteID)
{
    const bool listed = std::any_of(m_websites.cbegin(), m_websites.cend(),
                                    [&](const Website &website) { return website.id == websiteID; });
    if (!listed || m_selectedWebsiteID == websiteID)
        return;
    setSelectedWebsiteID(websiteID);
    persistState();
    scheduleCloudSave();
    refreshNow();
}

QCoro::Task<> AppStore::saveWebsite(Website website, ProviderCredentials credentials)
{
    ProviderCredentials kept;
    for (auto it = credentials.values.cbegin(); it != credentials.values.cend(); ++it) {
        const QString value = trimmedText(it.value());
        if (!value.isEmpty())
            kept.values.insert(it.key(), value);
    }
    // A desktop may have no keyring at all: only touch it when there is something to keep.
    if (kept.values.isEmpty()) {
        try {
            m_credentialStore->deleteCredentials(website.id);
        } catch (...) {}
    } else {
        try {
            m_credentialStore->saveCredentials(kept, website.id);
        } catch (...) {
            throw KeychainStoreError::unreadable();
        }
    }

    QList<Website> websites = m_websites;
    const auto listed =
        std::find_if(websites.begin(), websites.end(), [&](const Website &entry) { return entry.id == website.id; });
    if (listed != websites.end())
        *listed = website;
    else
        websites.append(website);
    assign(m_websites, websites, &AppStore::websitesChanged);
    setSelectedWebsiteID(website.id);
    persistState();
    scheduleCloudSave();
    refreshNow();

    const TaskRef task = m_refreshTask;
    if (task && !task->isFinished())
        co_await qCoro(task.get(), &TaskHandle::finished);
}

void AppStore::removeWebsite(QUuid websiteID)
{
    if (const TaskRef old = m_refreshTask)
        old->cancel();
    setGeneration(m_generation + 1);
    setIsRefreshing(false);
    m_refreshTask.reset();

    for (const auto &website : m_websites)
        if (website.id == websiteID && ExampleWebsite::isExampleDomain(website.domain)) {
            m_defaults->setValue(key(dismissedExampleKey), true);
            m_defaults->sync();
            break;
        }

    QList<Website> websites = m_websites;
    websites.removeIf([&](const Website &website) { return website.id == websiteID; });
    assign(m_websites, websites, &AppStore::websitesChanged);
    removeEntries(websiteID);
    try {
        m_credentialStore->deleteCredentials(websiteID);
    } catch (...) {}
    if (m_selectedWebsiteID == websiteID)
        setSelectedWebsiteID(m_websites.isEmpty() ? std::nullopt : std::optional(m_websites.first().id));
    persistState();
    scheduleCloudSave();
    if (m_selectedWebsiteID)
        refreshNow();
}

void AppStore::setRefreshInterval(RefreshInterval interval)
{
    if (interval == m_refreshInterval)
        return;
    assign(m_refreshInterval, interval, &AppStore::refreshIntervalChanged);
    persistState();
    scheduleCloudSave();
    startPolling(false);
}

void AppStore::setMenuBarMetric(MenuBarMetric metric)
{
    if (metric == m_menuBarMetric)
        return;
    assign(m_menuBarMetric, metric, &AppStore::menuBarMetricChanged);
    m_defaults->setValue(key(menuBarMetricKey), MenuBarMetrics::rawValue(metric));
    m_defaults->sync();
}

void AppStore::setPanelAppearance(PanelAppearance appearance)
{
    if (appearance == m_panelAppearance)
        return;
    assign(m_panelAppearance, appearance, &AppStore::panelAppearanceChanged);
    m_defaults->setValue(key(appearanceKey), PanelAppearances::rawValue(appearance));
    m_defaults->sync();
}

void AppStore::stop()
{
    m_stopped = true;
    for (const auto &task : {m_pollTask, m_refreshTask, m_syncTask})
        if (task)
            task->cancel();
    m_link.cancel();
}

void AppStore::setSnapshot(const QUuid &id, const AnalyticsSnapshot &snapshot)
{
    const auto it = m_snapshots.constFind(id);
    if (it != m_snapshots.constEnd() && *it == snapshot)
        return;
    m_snapshots.insert(id, snapshot);
    emit snapshotsChanged();
}

void AppStore::removeEntries(const QUuid &id)
{
    if (m_snapshots.remove(id))
        emit snapshotsChanged();
    if (m_errors.remove(id))
        emit errorsChanged();
}

void AppStore::loadPersistedState()
{
    if (!m_defaults->contains(key(storageKey)))
        return;
    const QByteArray bytes = m_defaults->value(key(storageKey)).toByteArray();
    const auto state = PersistedState::decode(bytes);
    if (!state) {
        m_unreadableDocument = bytes;
        return;
    }
    assign(m_websites, state->websites, &AppStore::websitesChanged);
    assign(m_refreshInterval, state->refreshInterval, &AppStore::refreshIntervalChanged);
    Snapshots snapshots;
    for (const auto &stored : state->snapshots)
        snapshots.insert(stored.websiteID, stored.snapshot);  // a repeated id: the last one wins
    assign(m_snapshots, snapshots, &AppStore::snapshotsChanged);
    setCloudUpdatedAt(state->cloudUpdatedAt);
    const bool selectedListed = state->selectedWebsiteID &&
        std::any_of(m_websites.cbegin(), m_websites.cend(),
                    [&](const Website &website) { return website.id == *state->selectedWebsiteID; });
    if (selectedListed)
        setSelectedWebsiteID(state->selectedWebsiteID);
    else
        setSelectedWebsiteID(m_websites.isEmpty() ? std::nullopt : std::optional(m_websites.first().id));
}

void AppStore::persistState()
{
    PersistedState state;
    state.websites = m_websites;
    state.selectedWebsiteID = m_selectedWebsiteID;
    state.refreshInterval = m_refreshInterval;
    for (auto it = m_snapshots.cbegin(); it != m_snapshots.cend(); ++it)
        state.snapshots.append({it.key(), it.value()});
    state.cloudUpdatedAt = m_cloudUpdatedAt;
    // A document we could not read may be a newer version's or a damaged one worth rescuing:
    // keep its bytes aside before the first write replaces it.
    if (m_unreadableDocument) {
        m_defaults->setValue(key(unreadableStorageKey), *m_unreadableDocument);
        m_unreadableDocument.reset();
    }
    m_defaults->setValue(key(storageKey), state.encode());
    m_defaults->sync();
}

void AppStore::addExampleWebsiteIfNeeded()
{
    if (m_defaults->value(key(dismissedExampleKey), false).toBool())
        return;
    if (std::any_of(m_websites.cbegin(), m_websites.cend(),
                    [](const Website &website) { return ExampleWebsite::isExampleDomain(website.domain); }))
        return;
    Website example{QUuid::createUuid(), QString::fromUtf16(ExampleWebsite::displayName),
                    QString::fromUtf16(ExampleWebsite::domain), std::nullopt};
    QList<Website> websites = m_websites;
    websites.append(example);
    assign(m_websites, websites, &AppStore::websitesChanged);
    if (!m_selectedWebsiteID)
        setSelectedWebsiteID(example.id);
    persistState();
    scheduleCloudSave();
}
