#pragma once

// Stand-ins that let a test decide when and how each awaited call of the store ends.

#include "AnalyticsFailure.h"
#include "AnalyticsProvider.h"
#include "Clock.h"
#include "CloudSyncing.h"
#include "CredentialStoring.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QObject>
#include <QTemporaryDir>
#include <QSettings>
#include <functional>
#include <memory>
#include <variant>

// Awaited signals resume their coroutine on a later pass of the event loop: let those run.
inline void settle()
{
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
}

// One awaited call that the test completes by hand. A requested stop ends it as cancelled.
class PendingCall : public QObject
{
    Q_OBJECT
public:
    std::function<void()> outcome;  // returns normally or throws
    bool done = false;
    bool stopped = false;
    bool ignoresStop = false;  // a reply already on its way when the stop came

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

template <typename Result>
QCoro::Task<Result> awaitCall(std::shared_ptr<PendingCall> call, std::stop_token stop, std::function<Result()> value)
{
    std::stop_callback onStop(stop, [call] {
        call->stopped = true;
        if (!call->ignoresStop)
            call->complete([] { throw TaskCancelled{}; });
    });
    if (!call->done)
        co_await qCoro(call.get(), &PendingCall::completed);
    call->outcome();
    co_return value();
}

class FakeProvider final : public AnalyticsProvider
{
public:
    struct Fetch {
        Website website;
        ProviderCredentials credentials;
        std::shared_ptr<PendingCall> call;
        std::shared_ptr<AnalyticsSnapshot> snapshot = std::make_shared<AnalyticsSnapshot>();
    };
    QList<Fetch> fetches;
    QList<CredentialField> fields;
    double minimum = 30;
    bool ignoresStop = false;

    QList<CredentialField> credentialFields() const override { return fields; }
    double minimumRefreshInterval() const override { return minimum; }
    QCoro::Task<AnalyticsSnapshot> fetchSnapshot(Website website, ProviderCredentials credentials,
                                                 std::stop_token stop) override
    {
        Fetch fetch{website, credentials, std::make_shared<PendingCall>()};
        fetch.call->ignoresStop = ignoresStop;
        fetches.append(fetch);
        auto snapshot = fetch.snapshot;
        return awaitCall<AnalyticsSnapshot>(fetch.call, stop, [snapshot] { return *snapshot; });
    }

    void succeed(int index, AnalyticsSnapshot snapshot)
    {
        *fetches[index].snapshot = snapshot;
        fetches[index].call->complete([] {});
    }
    void fail(int index, AnalyticsFailure failure)
    {
        fetches[index].call->complete([failure] { throw failure; });
    }
    int pending() const
    {
        return int(std::count_if(fetches.cbegin(), fetches.cend(), [](const Fetch &f) { return !f.call->done; }));
    }
};

class FakeCredentialStore final : public CredentialStoring
{
public:
    std::optional<QString> token;
    QMap<QUuid, ProviderCredentials> credentials;
    bool failing = false;
    int calls = 0;

    void check()
    {
        ++calls;
        if (failing)
            throw KeychainStoreError::status(2);
    }
    std::optional<QString> loadSyncToken() override { check(); return token; }
    void saveSyncToken(const QString &value) override
    {
        check();
        const QString trimmed = value.trimmed();
        token = trimmed.isEmpty() ? std::nullopt : std::optional(trimmed);
    }
    std::optional<ProviderCredentials> loadCredentials(const QUuid &id) override
    {
        check();
        return credentials.contains(id) ? std::optional(credentials.value(id)) : std::nullopt;
    }
    void saveCredentials(const ProviderCredentials &value, const QUuid &id) override { check(); credentials.insert(id, value); }
    void deleteCredentials(const QUuid &id) override { check(); credentials.remove(id); }
};

class FakeSyncClient final : public CloudSyncing
{
public:
    struct Call {
        bool isSave;
        CloudSyncState sent;
        std::shared_ptr<PendingCall> call;
        std::shared_ptr<CloudSyncState> result = std::make_shared<CloudSyncState>();
    };
    QList<Call> calls;

    QCoro::Task<CloudSyncState> loadState(std::stop_token stop) override { return begin(false, {}, stop); }
    QCoro::Task<CloudSyncState> saveState(CloudSyncState state, std::stop_token stop) override
    {
        return begin(true, state, stop);
    }
    QCoro::Task<CloudSyncState> begin(bool isSave, CloudSyncState sent, std::stop_token stop)
    {
        Call call{isSave, sent, std::make_shared<PendingCall>()};
        calls.append(call);
        auto result = call.result;
        return awaitCall<CloudSyncState>(call.call, stop, [result] { return *result; });
    }

    void succeed(int index, CloudSyncState state)
    {
        *calls[index].result = state;
        calls[index].call->complete([] {});
    }
    void fail(int index, CloudSyncError error)
    {
        calls[index].call->complete([error] { throw error; });
    }
    int count(bool saves) const
    {
        return int(std::count_if(calls.cbegin(), calls.cend(), [&](const Call &c) { return c.isSave == saves; }));
    }
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
        sleepers.append({current.sinceReferenceDate + seconds, call});
        return awaitSleep(call, stop);
    }
    static QCoro::Task<> awaitSleep(std::shared_ptr<PendingCall> call, std::stop_token stop)
    {
        std::stop_callback onStop(stop, [call] { call->complete([] {}); });
        if (!call->done)
            co_await qCoro(call.get(), &PendingCall::completed);
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
    std::shared_ptr<FakeProvider> provider;
    std::shared_ptr<FakeCredentialStore> keychain;
    std::shared_ptr<FakeSyncClient> cloud;
    std::shared_ptr<FakeClock> clock;
    std::unique_ptr<TestDefaults> defaults;

    void reset()
    {
        provider = std::make_shared<FakeProvider>();
        keychain = std::make_shared<FakeCredentialStore>();
        cloud = std::make_shared<FakeSyncClient>();
        clock = std::make_shared<FakeClock>();
        defaults = std::make_unique<TestDefaults>();
    }
};
