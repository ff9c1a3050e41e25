// AppStore: refreshing the selected website, polling, back-off and connectivity.
#include "AppStore.h"

#include "BaseURL.h"
#include "ExampleWebsite.h"

#include <QScopeGuard>

void AppStore::refreshNow()
{
    const auto site = selectedWebsite();
    if (!site) {
        if (const TaskRef old = m_refreshTask)
            old->cancel();
        m_refreshTask.reset();
        setIsRefreshing(false);
        return;
    }
    if (isBackingOff(site->id))
        return;
    // A cancelled task may end at once and drop its handle: keep it alive meanwhile.
    if (const TaskRef old = m_refreshTask)
        old->cancel();
    setGeneration(m_generation + 1);
    setIsRefreshing(true);
    auto task = std::make_shared<TaskHandle>();
    m_refreshTask = task;
    performRefresh(QPointer(this), *site, m_generation, task);
}

void AppStore::refreshIfStale()
{
    if (!m_selectedWebsiteID)
        return;
    const auto snapshot = selectedSnapshot();
    const bool stale =
        !snapshot || selectedError() || m_clock->now().secondsSince(snapshot->refreshedAt) >= effectivePeriod();
    if (stale && !m_refreshTask)
        refreshNow();
}

bool AppStore::isBackingOff(const QUuid &websiteID) const
{
    const auto it = m_errors.constFind(websiteID);
    return it != m_errors.constEnd() && *it == AnalyticsFailure::rateLimited && m_backoffUntil &&
        *m_backoffUntil > m_clock->now();
}

bool AppStore::isCurrentRefresh(const TaskRef &task, qint64 generation, const QUuid &siteID) const
{
    return !task->isCancelled() && m_generation == generation && m_selectedWebsiteID == siteID;
}

QCoro::Task<> AppStore::performRefresh(QPointer<AppStore> self, Website site, qint64 generation, TaskRef task)
{
    // Every way out ends the refresh; a newer one owns the fields otherwise.
    const auto finish = qScopeGuard([&self, generation, &task] {
        if (self)
            self->finishRefresh(generation);
        task->markFinished();
    });

    if (!self || !self->isCurrentRefresh(task, generation, site.id))
        co_return;
    if (!self->isServiceReachable() && !ExampleWebsite::isExampleDomain(site.domain)) {
        self->setError(AnalyticsFailure::offline, site.id);
        co_return;
    }
    std::shared_ptr<AnalyticsProvider> provider = self->m_provider;
    ProviderCredentials credentials;
    // A provider that declares no credential fields needs no keyring.
    if (!provider->credentialFields().isEmpty()) {
        try {
            if (auto stored = self->m_credentialStore->loadCredentials(site.id))
                credentials = *stored;
        } catch (...) {
            self->setError(AnalyticsFailure::credentialsUnreadable, site.id);
            co_return;
        }
    }

    std::optional<AnalyticsSnapshot> snapshot;
    std::exception_ptr error;
    try {
        snapshot = co_await provider->fetchSnapshot(site, credentials, task->token());
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;

    if (snapshot) {
        if (!self->isCurrentRefresh(task, generation, site.id))
            co_return;
        self->setSnapshot(site.id, *snapshot);
        self->setError(std::nullopt, site.id);
        self->setBackoffUntil(std::nullopt);
        self->persistState();
        co_return;
    }

    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled &) {
        co_return;
    } catch (...) {}
    if (!self->isCurrentRefresh(task, generation, site.id))
        co_return;
    if (!self->isServiceReachable()) {
        self->setError(AnalyticsFailure::offline, site.id);
        co_return;
    }
    const AnalyticsFailure failure = AnalyticsFailures::classify(error);
    if (failure == AnalyticsFailure::cancelled)
        co_return;
    self->setError(failure, site.id);
    if (failure == AnalyticsFailure::rateLimited)
        self->setBackoffUntil(self->m_clock->now().addingSeconds(self->effectivePeriod()));
}

void AppStore::finishRefresh(qint64 generation)
{
    if (m_generation != generation)
        return;
    setIsRefreshing(false);
    m_refreshTask.reset();
}

void AppStore::setError(std::optional<AnalyticsFailure> failure, const QUuid &websiteID)
{
    const auto it = m_errors.constFind(websiteID);
    if (!failure) {
        if (it == m_errors.constEnd())
            return;
        m_errors.remove(websiteID);
    } else {
        if (it != m_errors.constEnd() && *it == *failure)
            return;
        m_errors.insert(websiteID, *failure);
    }
    emit errorsChanged();
}

void AppStore::startPolling(bool refreshNow)
{
    if (const TaskRef old = m_pollTask)
        old->cancel();
    auto task = std::make_shared<TaskHandle>();
    m_pollTask = task;
    runPolling(QPointer(this), refreshNow, task);
}

QCoro::Task<> AppStore::runPolling(QPointer<AppStore> self, bool refreshNow, TaskRef task)
{
    if (!self)
        co_return;
    if (refreshNow && !self->m_refreshTask)
        self->refreshNow();
    while (!task->isCancelled()) {
        const double period = self->effectivePeriod();
        std::shared_ptr<Clock> clock = self->m_clock;
        co_await clock->sleep(period, task->token());
        if (!self || task->isCancelled())
            break;
        if (!self->m_refreshTask)
            self->refreshNow();
    }
    task->markFinished();
}

bool AppStore::isServiceReachable() const
{
    return m_isOnline || isLoopbackURL(baseURL());
}

void AppStore::handleLinkChange(bool isOnline)
{
    assign(m_isOnline, isOnline, &AppStore::isOnlineChanged);
    if (!m_selectedWebsiteID)
        return;
    if (isOnline) {
        if (selectedError() == AnalyticsFailure::offline)
            refreshNow();
        if (m_hasSyncToken)
            startCloudLoad();
    } else if (!isServiceReachable()) {
        setError(AnalyticsFailure::offline, *m_selectedWebsiteID);
    }
}
