#pragma once

// Stand-ins that let a test decide when and how each awaited call of the store ends.

#include "AnalyticsFailure.h"
#include "AnalyticsProvider.h"
#include "AppStore.h"
#include "Clock.h"
#include "CloudSyncing.h"
#include "CredentialStoring.h"
#include "PersistedState.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

// Awaited signals resume their coroutine on a later pass of the event loop: let those run.
inline void settle()
{
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
}

// One awaited call that the test ends by hand. A requested stop ends it with `whenStopped`,
// unless its answer was already on its way.
class PendingCall : public QObject
{
    Q_OBJECT
public:
    std::function<void()> outcome;  // returns normally or throws
    std::function<void()> whenStopped = [] { throw TaskCancelled{}; };
    bool done = false, stopped = false, ignoresStop = false;

    void complete(std::function<void()> result)
    {
        if (done)
            return;
        done = true;
        outcome = std::move(result);
        emit completed();
        settle();
    }

signals:
    void completed();
};

template<typename Result>
QCoro::Task<Result> awaitCall(std::shared_ptr<PendingCall> call, std::stop_token stop, std::function<Result()> value)
{
    std::stop_callback onStop(stop, [call] {
        call->stopped = true;
        if (!call->ignoresStop)
            call->complete(call->whenStopped);
    });
    if (!call->done)
        co_await qCoro(call.get(), &PendingCall::completed);
    call->outcome();
    co_return value();
}

// One call that a fake received: what it was asked, and the answer the test gives it.
template<typename Request, typename Result>
struct ReceivedCall : Request {
    std::shared_ptr<PendingCall> call = std::make_shared<PendingCall>();
    std::shared_ptr<Result> result = std::make_shared<Result>();
};

// The calls of one kind, in the order they came; the test ends each with succeed() or fail().
template<typename Request, typename Result>
struct CallLog : QList<ReceivedCall<Request, Result>> {
    QCoro::Task<Result> receive(Request request, std::stop_token stop)
    {
        this->append(ReceivedCall<Request, Result>{request});
        const auto result = this->last().result;
        return awaitCall<Result>(this->last().call, stop, [result] { return *result; });
    }
    void succeed(int index, Result result)
    {
        *this->at(index).result = result;
        this->at(index).call->complete([] {});
    }
    template<typename Error>
    void fail(int index, Error error)
    {
        this->at(index).call->complete([error] { throw error; });
    }
    // Calls a test left unanswered end as stopped, so that no coroutine waits for ever.
    void endUnanswered()
    {
        for (const auto &received : *this)
            received.call->complete(received.call->whenStopped);
    }
};

struct FetchRequest {
    Website website;
    ProviderCredentials credentials;
};

class FakeProvider final : public AnalyticsProvider
{
public:
    CallLog<FetchRequest, AnalyticsSnapshot> fetches;
    QList<CredentialField> fields;
    double minimum = 30;

    QList<CredentialField> credentialFields() const override { return fields; }
    double minimumRefreshInterval() const override { return minimum; }
    QCoro::Task<AnalyticsSnapshot> fetchSnapshot(Website website, ProviderCredentials credentials,
                                                 std::stop_token stop) override
    {
        return fetches.receive({website, credentials}, stop);
    }
    void succeed(int index, AnalyticsSnapshot snapshot) { fetches.succeed(index, snapshot); }
    void fail(int index, AnalyticsFailure failure) { fetches.fail(index, failure); }
};

struct SyncRequest {
    bool isSave;
    CloudSyncState sent;
};

class FakeSyncClient final : public CloudSyncing
{
public:
    CallLog<SyncRequest, CloudSyncState> calls;

    QCoro::Task<CloudSyncState> loadState(std::stop_token stop) override { return calls.receive({false, {}}, stop); }
    QCoro::Task<CloudSyncState> saveState(CloudSyncState state, std::stop_token stop) override
    {
        return calls.receive({true, state}, stop);
    }
    void succeed(int index, CloudSyncState state) { calls.succeed(index, state); }
    void fail(int index, CloudSyncError error) { calls.fail(index, error); }
    int count(bool saves) const
    {
        return int(std::count_if(calls.cbegin(), calls.cend(), [&](const auto &c) { return c.isSave == saves; }));
    }
};

class FakeCredentialStore final : public CredentialStoring
{
public:
    std::optional<QString> token;
    QMap<QUuid, ProviderCredentials> credentials;
    bool failing = false;
    SecretStoreReach reachable = SecretStoreReach::reachable;
    // Calls made on the main thread and on any other.
    std::atomic_int mainThreadCalls = 0, otherThreadCalls = 0;

    // Counts the call, then fails if the test asked for that.
    FakeCredentialStore &check()
    {
        ++(QThread::currentThread() == QCoreApplication::instance()->thread() ? mainThreadCalls : otherThreadCalls);
        if (failing)
            throw KeychainStoreError::status(2);
        return *this;
    }
    SecretStoreReach reach() const override { return reachable; }
    std::optional<QString> loadSyncToken() override { return check().token; }
    void saveSyncToken(const QString &value) override
    {
        check().token = value.trimmed().isEmpty() ? std::nullopt : std::optional(value.trimmed());
    }
    std::optional<ProviderCredentials> loadCredentials(const QUuid &id) override
    {
        return check().credentials.contains(id) ? std::optional(credentials.value(id)) : std::nullopt;
    }
    void saveCredentials(const ProviderCredentials &value, const QUuid &id) override
    {
        check().credentials.insert(id, value);
    }
    void deleteCredentials(const QUuid &id) override { check().credentials.remove(id); }
};

// Time that moves only when the test says so; sleeps end when it passes their deadline.
class FakeClock final : public Clock
{
public:
    Instant current = Instant::fromUnixSeconds(1'750'000'000);
    QList<std::pair<double, std::shared_ptr<PendingCall>>> sleepers;

    Instant now() const override { return current; }
    QCoro::Task<> sleep(double seconds, std::stop_token stop) override
    {
        auto call = std::make_shared<PendingCall>();
        call->whenStopped = [] {};  // a stopped sleep ends early, without an error
        sleepers.append({current.sinceReferenceDate + seconds, call});
        return awaitCall<void>(call, stop, [] {});
    }
    void advance(double seconds)
    {
        current = current.addingSeconds(seconds);
        const auto due = sleepers;  // a woken task may add a new sleeper
        for (const auto &[deadline, call] : due)
            if (deadline <= current.sinceReferenceDate)
                call->complete([] {});
        sleepers.removeIf([](const auto &entry) { return entry.second->done; });
    }
    int waiting() const
    {
        return int(std::count_if(sleepers.cbegin(), sleepers.cend(), [](const auto &e) { return !e.second->done; }));
    }
};

// A user-defaults file of its own for each test.
struct TestDefaults {
    QTemporaryDir dir;
    std::shared_ptr<QSettings> settings =
        std::make_shared<QSettings>(dir.filePath(QStringLiteral("orvela.conf")), QSettings::IniFormat);
};

// The collaborators of one store under test, fresh for each test function.
struct StoreFixture {
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<FakeCredentialStore> keychain = std::make_shared<FakeCredentialStore>();
    std::shared_ptr<FakeSyncClient> cloud = std::make_shared<FakeSyncClient>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<TestDefaults> defaults = std::make_unique<TestDefaults>();

    void reset()
    {
        endUnanswered();
        *this = StoreFixture();
    }
    void endUnanswered()
    {
        provider->fetches.endUnanswered();
        cloud->calls.endUnanswered();
        settle();
    }
    // With services, returns once they have started (the keyring is read on another thread first).
    // Whether this machine has a network link is no business of these tests: connectivity is
    // driven through handleLinkChange.
    std::unique_ptr<AppStore> makeStore(bool startServices = false)
    {
        LinkMonitor::setSystemReachabilityUsed(false);
        auto store = std::make_unique<AppStore>(provider, keychain, cloud, defaults->settings, startServices, clock);
        if (startServices && !QTest::qWaitFor([&] { return store->servicesStarted(); }, 10000))
            qFatal("the store's services never started");
        return store;
    }
    // A stored document, and the example website dismissed unless asked otherwise.
    void storeState(const PersistedState &state, bool dismissExample = true)
    {
        defaults->settings->setValue("orvela.dismissedExampleDemo", dismissExample);
        defaults->settings->setValue("orvela.state.v1", state.encode());
    }
    std::optional<PersistedState> storedState() const
    {
        return PersistedState::decode(defaults->settings->value("orvela.state.v1").toByteArray());
    }
    static Website site(const char *name)
    {
        return {QUuid::createUuid(), name, QString::fromLatin1(name) + QStringLiteral(".example.org"), std::nullopt};
    }
};
