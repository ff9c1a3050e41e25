// AppStore: keeping the website list, selection and interval in the user's account.
#include "AppStore.h"

#include "BaseURL.h"

#include <QCoreApplication>
#include <QThreadPool>

namespace {

const QString missingTokenForLoad = QStringLiteral("Add a sync token to store websites in your account.");
const QString unreadableToken = QStringLiteral("The sync token could not be read from the keyring.");

// The sentence for a failed load or save; none for a cancellation, which keeps the last one.
std::optional<QString> statusSentence(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (CloudSyncError cloudError) {
        switch (cloudError) {
        case CloudSyncError::missingToken: return QStringLiteral("Add your sync token in Settings.");
        case CloudSyncError::unauthorized: return QStringLiteral("The sync token was rejected.");
        case CloudSyncError::offline: return QStringLiteral("No internet connection.");
        case CloudSyncError::malformedResponse: return QStringLiteral("The service returned an unexpected response.");
        case CloudSyncError::server: return QStringLiteral("Sync failed.");
        case CloudSyncError::cancelled: return std::nullopt;
        }
    } catch (const TaskCancelled &) {
        return std::nullopt;
    } catch (...) {}
    return QStringLiteral("Sync failed.");
}

}  // namespace

AppStore::TokenRead AppStore::readSyncToken(CredentialStoring &store)
{
    TokenRead read;
    try {
        const auto token = store.loadSyncToken();
        read.hasToken = token && !token->isEmpty();
    } catch (...) {
        read.failed = true;
    }
    read.reach = store.reach();
    return read;
}

void AppStore::applyTokenRead(const TokenRead &read)
{
    m_syncTokenUnreadable = read.failed;
    assign(m_secretStoreReach, read.reach, &AppStore::secretStoreReachChanged);
    assign(m_hasSyncToken, read.hasToken, &AppStore::hasSyncTokenChanged);
}

void AppStore::refreshSyncTokenState()
{
    ++m_tokenReads;
    applyTokenRead(readSyncToken(*m_credentialStore));
}

void AppStore::startServices()
{
    // A keyring that is locked, asks for a password or never answers holds this read for
    // seconds: not on the main thread, where the tray icon is being shown meanwhile.
    std::shared_ptr<CredentialStoring> keychain = m_credentialStore;
    const quint64 readsBefore = ++m_tokenReads;
    QThreadPool::globalInstance()->start([keychain, self = QPointer(this), readsBefore] {
        const TokenRead read = readSyncToken(*keychain);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, read, readsBefore] {
                if (self)
                    self->finishStart(read, readsBefore);
            },
            Qt::QueuedConnection);
    });
}

void AppStore::finishStart(const TokenRead &read, quint64 readsBefore)
{
    if (m_stopped)
        return;
    // A token saved meanwhile was read after this one.
    if (m_tokenReads == readsBefore)
        applyTokenRead(read);
    startPolling(m_selectedWebsiteID.has_value());
    startCloudLoad();
    m_servicesStarted = true;
    emit servicesStartedChanged();
}

QUrl AppStore::baseURL() const
{
    return defaultBaseURL();
}

void AppStore::useBaseURL(const QUrl &baseURL)
{
    m_defaults->setValue(QLatin1String(kBaseURLKey), baseURL.toString(QUrl::FullyEncoded));
    m_defaults->sync();
    setDefaultBaseURL(baseURL);
    emit baseURLChanged();
}

void AppStore::beginNewAccount()
{
    // What was learned about the old account no longer holds, and whatever is still in flight
    // for it must not land here.
    ++m_accountEpoch;
    m_loadedUnderToken = false;
    if (m_cloudUpdatedAt) {
        setCloudUpdatedAt(std::nullopt);
        persistState();
    }
}

void AppStore::setBaseURL(const QUrl &baseURL)
{
    if (baseURL == this->baseURL())
        return;
    useBaseURL(baseURL);
    beginNewAccount();
    if (m_hasSyncToken)
        startCloudLoad();
    if (m_selectedWebsiteID)
        refreshNow();
}

void AppStore::saveSyncToken(const QString &token)
{
    changeAccount(std::nullopt, token);
}

void AppStore::connectAccount(const QUrl &baseURL, const QString &token)
{
    if (trimmedText(token).isEmpty())
        return;
    changeAccount(baseURL, token);
}

void AppStore::changeAccount(std::optional<QUrl> baseURL, const QString &token)
{
    std::optional<QString> previous;
    try {
        previous = m_credentialStore->loadSyncToken();
    } catch (...) {}
    // First the token: should the keyring refuse it, the old token is never sent to the new address.
    m_credentialStore->saveSyncToken(token);

    const bool newAddress = baseURL && *baseURL != this->baseURL();
    if (newAddress)
        useBaseURL(*baseURL);
    const bool newAccount = newAddress || previous.value_or(QString()) != trimmedText(token);
    if (newAccount)
        beginNewAccount();
    refreshSyncTokenState();
    setCloudSyncStatus(m_hasSyncToken ? QStringLiteral("Sync token saved.") : QStringLiteral("Sync token removed."));
    if (m_hasSyncToken)
        startCloudLoad();
    // The figures shown come from the account just connected.
    if (newAccount && m_hasSyncToken && m_selectedWebsiteID)
        refreshNow();
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
        self->setCloudSyncStatus(self->m_syncTokenUnreadable ? unreadableToken : missingTokenForLoad);
        co_return;
    }
    if (self->isCloudSyncing()) {
        // Work begun under an older token ends without effect; the new account's load follows.
        if (self->m_operationsEpoch != self->m_accountEpoch)
            self->m_loadAgain = true;
        co_return;
    }
    const quint64 epoch = self->m_accountEpoch;
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
    if (epoch != self->m_accountEpoch) {
        self->endCloudOperation();
        co_return;
    }

    if (state) {
        self->m_loadedUnderToken = true;
        if (self->shouldAdoptCloudState(*state)) {
            self->applyCloudState(*state);
            self->setCloudSyncStatus(QStringLiteral("Loaded from your account."));
        } else if (self->m_websites.isEmpty() && state->websites.isEmpty()) {
            self->setCloudSyncStatus(QStringLiteral("Your account is ready."));
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
    const std::optional<QUuid> previousSelection = m_selectedWebsiteID;
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
    // A refresh still running is for the website selected before, whose answer is dropped.
    if (m_selectedWebsiteID && (!m_refreshTask || m_selectedWebsiteID != previousSelection))
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
    const quint64 epoch = self->m_accountEpoch;
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
    if (epoch == self->m_accountEpoch) {
        if (saved) {
            self->setCloudUpdatedAt(saved->updatedAt);
            self->setLastCloudSyncAt(self->m_clock->now());
            self->setCloudSyncStatus(QStringLiteral("Saved to your account."));
            self->persistState();
        } else {
            self->setStatusFrom(error);
        }
    }
    self->endCloudOperation();
}
