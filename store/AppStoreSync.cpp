// AppStore: keeping the website list, selection and interval in the user's account.
#include "AppStore.h"

namespace {

const QString missingTokenForLoad =
    QStringLiteral("Add a Cloudflare sync token to store websites in your account.");

// The sentence for a failed load or save; none for a cancellation, which keeps the last one.
std::optional<QString> statusSentence(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (CloudSyncError cloudError) {
        switch (cloudError) {
        case CloudSyncError::missingToken: return QStringLiteral("Add your Cloudflare sync token in Settings.");
        case CloudSyncError::unauthorized: return QStringLiteral("Cloudflare sync token was rejected.");
        case CloudSyncError::offline: return QStringLiteral("No internet connection.");
        case CloudSyncError::malformedResponse: return QStringLiteral("Cloudflare returned an unexpected response.");
        case CloudSyncError::server: return QStringLiteral("Cloudflare sync failed.");
        case CloudSyncError::cancelled: return std::nullopt;
        }
    } catch (const TaskCancelled &) {
        return std::nullopt;
    } catch (...) {
    }
    return QStringLiteral("Cloudflare sync failed.");
}

}  // namespace

void AppStore::refreshSyncTokenState()
{
    bool hasToken = false;
    try {
        const auto token = m_credentialStore->loadSyncToken();
        hasToken = token && !token->isEmpty();
    } catch (...) {
    }
    assign(m_hasSyncToken, hasToken, &AppStore::hasSyncTokenChanged);
}

void AppStore::saveSyncToken(const QString &token)
{
    std::optional<QString> previous;
    try {
        previous = m_credentialStore->loadSyncToken();
    } catch (...) {
    }
    m_credentialStore->saveSyncToken(token);

    const QString trimmed = trimmedText(token);
    if (previous.value_or(QString()) != trimmed) {
        // Another token is another account: what was learned about the old one no longer
        // holds, and whatever is still in flight for it must not land here.
        ++m_tokenEpoch;
        m_loadedUnderToken = false;
        if (m_cloudUpdatedAt) {
            setCloudUpdatedAt(std::nullopt);
            persistState();
        }
    }
    refreshSyncTokenState();
    setCloudSyncStatus(m_hasSyncToken ? QStringLiteral("Sync token saved.") : QStringLiteral("Sync token removed."));
    if (m_hasSyncToken)
        startCloudLoad();
}

QCoro::Task<> AppStore::syncFromCloud()
{
    return runCloudLoad(QPointer(this));
}

void AppStore::startCloudLoad()
{
    runCloudLoad(QPointer(this));
}

void AppStore::beginCloudOperation()
{
    if (m_cloudOperations++ == 0)
        emit isCloudSyncingChanged();
}

void AppStore::endCloudOperation()
{
    if (--m_cloudOperations == 0)
        emit isCloudSyncingChanged();
    if (m_cloudOperations == 0 && m_loadAgain) {
        m_loadAgain = false;
        startCloudLoad();
    }
}

void AppStore::setStatusFrom(std::exception_ptr error)
{
    if (const auto sentence = statusSentence(error))
        setCloudSyncStatus(*sentence);
}

QCoro::Task<> AppStore::runCloudLoad(QPointer<AppStore> self)
{
    if (!self || self->m_stopped)
        co_return;
    if (!self->m_hasSyncToken) {
        self->setCloudSyncStatus(missingTokenForLoad);
        co_return;
    }
    if (self->isCloudSyncing()) {
        // Work begun under an older token ends without effect; the new account's load follows.
        if (self->m_operationsEpoch != self->m_tokenEpoch)
            self->m_loadAgain = true;
        co_return;
    }
    const quint64 epoch = self->m_tokenEpoch;
    self->m_operationsEpoch = epoch;
    self->beginCloudOperation();
    std::shared_ptr<CloudSyncing> cloudSync = self->m_cloudSync;

    std::optional<CloudSyncState> state;
    std::exception_ptr error;
    try {
        state = co_await cloudSync->loadState(std::stop_token());
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    if (epoch != self->m_tokenEpoch) {
        self->endCloudOperation();
        co_return;
    }

    if (state) {
        self->m_loadedUnderToken = true;
        if (self->shouldAdoptCloudState(*state)) {
            self->applyCloudState(*state);
            self->setCloudSyncStatus(QStringLiteral("Loaded from Cloudflare."));
        } else if (self->m_websites.isEmpty() && state->websites.isEmpty()) {
            self->setCloudSyncStatus(QStringLiteral("Cloudflare is ready."));
            self->setLastCloudSyncAt(self->m_clock->now());
        } else {
            co_await pushToCloud(self, std::stop_token());
            if (!self)
                co_return;
        }
    } else {
        self->setStatusFrom(error);
    }
    self->addExampleWebsiteIfNeeded();
    self->endCloudOperation();
}

bool AppStore::shouldAdoptCloudState(const CloudSyncState &state) const
{
    if (m_websites.isEmpty() && !state.websites.isEmpty())
        return true;
    if (!state.updatedAt)
        return false;
    if (m_cloudUpdatedAt)
        return *state.updatedAt > *m_cloudUpdatedAt;
    return !state.websites.isEmpty() || m_websites.isEmpty();
}

void AppStore::applyCloudState(const CloudSyncState &state)
{
    QSet<QUuid> kept;
    for (const auto &website : state.websites)
        kept.insert(website.id);
    for (const auto &id : m_snapshots.keys())
        if (!kept.contains(id))
            removeEntries(id);
    assign(m_websites, state.websites, &AppStore::websitesChanged);
    assign(m_refreshInterval, state.refreshInterval, &AppStore::refreshIntervalChanged);
    const bool selectedListed = state.selectedWebsiteID && kept.contains(*state.selectedWebsiteID);
    if (selectedListed)
        setSelectedWebsiteID(state.selectedWebsiteID);
    else
        setSelectedWebsiteID(m_websites.isEmpty() ? std::nullopt : std::optional(m_websites.first().id));
    setCloudUpdatedAt(state.updatedAt);
    setLastCloudSyncAt(m_clock->now());
    persistState();
    startPolling(false);
    if (m_selectedWebsiteID && !m_refreshTask)
        refreshNow();
    addExampleWebsiteIfNeeded();
}

CloudSyncState AppStore::makeCloudState() const
{
    return {m_websites, m_selectedWebsiteID, m_refreshInterval, m_cloudUpdatedAt};
}

void AppStore::scheduleCloudSave()
{
    if (!m_hasSyncToken)
        return;
    if (const TaskRef old = m_syncTask)
        old->cancel();
    auto task = std::make_shared<TaskHandle>();
    m_syncTask = task;
    runDebouncedSave(QPointer(this), task);
}

QCoro::Task<> AppStore::runDebouncedSave(QPointer<AppStore> self, TaskRef task)
{
    std::shared_ptr<Clock> clock = self->m_clock;
    co_await clock->sleep(cloudSaveDelay, task->token());
    if (self && !task->isCancelled())
        co_await pushToCloud(self, task->token());
    task->markFinished();
}

QCoro::Task<> AppStore::pushToCloud(QPointer<AppStore> self, std::stop_token stop)
{
    if (!self || !self->m_hasSyncToken)
        co_return;
    if (!self->m_loadedUnderToken) {
        // Never overwrite an account with a list it has not seen: the load decides first.
        self->startCloudLoad();
        co_return;
    }
    const quint64 epoch = self->m_tokenEpoch;
    self->m_operationsEpoch = epoch;
    self->beginCloudOperation();
    const CloudSyncState state = self->makeCloudState();
    std::shared_ptr<CloudSyncing> cloudSync = self->m_cloudSync;

    std::optional<CloudSyncState> saved;
    std::exception_ptr error;
    try {
        saved = co_await cloudSync->saveState(state, stop);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    if (epoch == self->m_tokenEpoch) {
        if (saved) {
            self->setCloudUpdatedAt(saved->updatedAt);
            self->setLastCloudSyncAt(self->m_clock->now());
            self->setCloudSyncStatus(QStringLiteral("Saved to Cloudflare."));
            self->persistState();
        } else {
            self->setStatusFrom(error);
        }
    }
    self->endCloudOperation();
}
