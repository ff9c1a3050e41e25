// The keychain store against gnome-keyring (the throw-away one of scripts/lib/with-keyring) and,
// through KeychainProbe child processes, against a missing bus, a missing provider and a keyring
// that never answers.
#include "KeychainStore.h"
#include "Json.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

using namespace std::chrono_literals;

namespace {

// The items as any Secret Service client sees them: found by `service` and `account`.
const SecretSchema itemSchema = {
    "orvela.Secret",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, {}}},
};

const QString tokenAccount = QStringLiteral("cloud.sync.token");
const QString timedOut = QStringLiteral("status:%1").arg(G_IO_ERROR_TIMED_OUT);

// The secret of every item under `account`, read past the store.
QList<QByteArray> storedItems(const QString &service, const QString &account)
{
    GError *error = nullptr;
    GList *items =
        secret_password_search_sync(&itemSchema, SECRET_SEARCH_ALL, nullptr, &error, "service",
                                    service.toUtf8().constData(), "account", account.toUtf8().constData(), nullptr);
    QList<QByteArray> secrets;
    if (error != nullptr)
        secrets.append("search failed: " + QByteArray(error->message));
    g_clear_error(&error);
    for (GList *item = items; item != nullptr; item = item->next) {
        SecretValue *value = secret_retrievable_retrieve_secret_sync(SECRET_RETRIEVABLE(item->data), nullptr, nullptr);
        secrets.append(value != nullptr ? secret_value_get_text(value) : "unreadable item");
        g_clear_pointer(&value, secret_value_unref);
    }
    g_list_free_full(items, g_object_unref);
    return secrets;
}

// Writes bytes the store itself would never write, as another program or an older version might.
bool putRawItem(const QString &service, const QString &account, const QByteArray &bytes)
{
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    const bool stored = secret_password_store_binary_sync(&itemSchema, SECRET_COLLECTION_DEFAULT, "test item", value,
                                                          nullptr, nullptr, "service", service.toUtf8().constData(),
                                                          "account", account.toUtf8().constData(), nullptr);
    secret_value_unref(value);
    return stored;
}

// An empty address: no bus at all, neither named nor in the runtime directory.
QProcessEnvironment onBus(const QString &address)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    if (address.isEmpty()) {
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("/nonexistent"));
    }
    // Without a display GLib cannot autolaunch a bus of its own behind the test's back.
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

// KeychainProbe's result: one "OP OUTCOME ELAPSED_MS" per call, split, and its stderr lines.
struct ProbeRun {
    QList<QStringList> calls;
    QStringList notices;
};

ProbeRun runProbe(const QString &busAddress, const QStringList &arguments)
{
    QProcess probe;
    probe.setProcessEnvironment(onBus(busAddress));
    probe.start(QStringLiteral(KEYCHAIN_PROBE), arguments);
    if (!probe.waitForFinished(6000))
        probe.kill();  // a call that hung then misses its line
    probe.waitForFinished();
    ProbeRun run;
    for (const QString &line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        run.calls.append(line.split(' '));
    run.notices = QString::fromUtf8(probe.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return run;
}

// A session bus on which nothing provides the Secret Service and nothing can be activated.
struct BareBus {
    QProcess daemon;
    QString address;

    BareBus()
    {
        daemon.start(QStringLiteral("dbus-daemon"), {"--nofork", "--print-address", "--config-file=" BARE_BUS_CONFIG});
        if (daemon.waitForReadyRead(5000))
            address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~BareBus()
    {
        daemon.terminate();  // so that it removes its socket
        daemon.waitForFinished();
    }
};

}  // namespace

// Only the throw-away keyring of with-keyring is written to, never the user's own.
#define REQUIRE_KEYRING()                                                                                              \
    if (qEnvironmentVariableIsEmpty("_ORVELA_IN_KEYRING"))                                                             \
    QSKIP("no throw-away keyring: run under scripts/lib/with-keyring (scripts/test does)")

class KeychainStoreTest : public QObject
{
    Q_OBJECT

    QString service;  // a fresh one per test
    BareBus bus;

private slots:
    void init() { service = QStringLiteral("orvela-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces); }

    void cleanup()
    {
        if (!qEnvironmentVariableIsEmpty("_ORVELA_IN_KEYRING"))
            secret_password_clear_sync(&itemSchema, nullptr, nullptr, "service", service.toUtf8().constData(), nullptr);
    }

    void syncTokenIsStoredTrimmedAndUpdatedInPlace()
    {
        REQUIRE_KEYRING();
        KeychainStore store(service, 5s);
        QCOMPARE(store.loadSyncToken(), std::nullopt);
        store.saveSyncToken(QStringLiteral("  tok-ÄBC.123\n"));
        QCOMPARE(storedItems(service, tokenAccount),
                 QList<QByteArray>{"tok-\xc3\x84"
                                   "BC.123"});
        QCOMPARE(store.loadSyncToken(), QStringLiteral("tok-ÄBC.123"));
        store.saveSyncToken(QStringLiteral("tok-second"));
        QCOMPARE(storedItems(service, tokenAccount), QList<QByteArray>{"tok-second"});

        // Written by someone else with surrounding blanks, it still loads trimmed.
        QVERIFY(putRawItem(service, tokenAccount, "\t tok-third \r\n"));
        QCOMPARE(store.loadSyncToken(), QStringLiteral("tok-third"));
        // The service name keeps stores apart.
        QCOMPARE(KeychainStore(service + QStringLiteral(".other"), 5s).loadSyncToken(), std::nullopt);

        // A blank token deletes the item; deleting nothing is fine.
        store.saveSyncToken(QStringLiteral(" \n\t"));
        QCOMPARE(storedItems(service, tokenAccount), QList<QByteArray>{});
        store.saveSyncToken(QString());
    }

    void credentialsRoundTripUnderTheUpperCaseAccount()
    {
        REQUIRE_KEYRING();
        KeychainStore store(service, 5s);
        // Read from a document that wrote it in lower case: the account is still upper case.
        const QUuid website = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
        const QString account = QStringLiteral("website.0F8FAD5B-D9CB-469F-A165-70867728950E");

        const ProviderCredentials first{{{"apiKey", "k-1"}, {"secret", "pässwörd ✓ \"quoted\""}}};
        store.saveCredentials(first, website);
        const auto stored = storedItems(service, account);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(Json::parseObject(stored[0]), first.toJson());
        QCOMPARE(store.loadCredentials(website), first);

        // No credential fields at all still reads back as a record, not as absent; and it replaces the item.
        store.saveCredentials(ProviderCredentials{}, website);
        QCOMPARE(store.loadCredentials(website), ProviderCredentials{});
        QCOMPARE(storedItems(service, account).size(), 1);

        store.deleteCredentials(website);
        QCOMPARE(storedItems(service, account), QList<QByteArray>{});
        store.deleteCredentials(website);
    }

    void storedBytesThatDoNotDecodeAreUnreadable()
    {
        REQUIRE_KEYRING();
        const std::tuple<const char *, bool, QByteArray> rows[] = {
            {"token of blanks", true, " \n\t  "},
            {"token, invalid UTF-8", true, "tok\xff\xfe"},
            {"credentials, not JSON", false, "apiKey=k-1"},
            {"credentials, no values", false, R"({"apiKey":"k-1"})"},
            {"credentials, a value that is no text", false, R"({"values":{"apiKey":1}})"},
            {"credentials, invalid UTF-8", false, "{\"values\":{\"apiKey\":\"k\xff\"}}"},
        };
        KeychainStore store(service, 5s);
        for (const auto &[name, isToken, stored] : rows) {
            const QUuid website = QUuid::createUuid();
            QVERIFY(putRawItem(service, isToken ? tokenAccount : "website." + Json::uuidText(website), stored));
            try {
                isToken ? void(store.loadSyncToken()) : void(store.loadCredentials(website));
                QFAIL(name);
            } catch (const KeychainStoreError &error) {
                QVERIFY2(error == KeychainStoreError::unreadable(), name);
            }
        }
    }

    void withoutSecretServiceEveryCallFailsWithOneNotice()
    {
        if (bus.address.isEmpty())
            QSKIP("dbus-daemon could not be started for a bus without a Secret Service");
        const std::pair<QString, QString> rows[] = {
            {"unix:path=/nonexistent/orvela-bus", "orvela: no D-Bus session bus"},
            {"", "orvela: no D-Bus session bus"},
            {bus.address, "orvela: no Secret Service provider on the session bus"},
        };
        const QStringList operations{"loadToken",       "saveToken",       "saveBlank",
                                     "loadCredentials", "saveCredentials", "deleteCredentials"};
        for (const auto &[address, notice] : rows) {
            const ProbeRun run = runProbe(address, QStringList{"run", "2000", "60000"} + operations);
            QCOMPARE(run.calls.size(), operations.size());
            for (const QStringList &call : run.calls) {
                const QString outcome = call.value(1);
                QVERIFY2(outcome.startsWith(QStringLiteral("status:")) && outcome != timedOut &&
                             call.value(2).toInt() < 1000,
                         qPrintable(call.join(' ')));
                // A bus that runs answers ServiceUnknown, and that code is what the status carries.
                if (address == bus.address)
                    QCOMPARE(outcome, QStringLiteral("status:%1").arg(G_DBUS_ERROR_SERVICE_UNKNOWN));
            }
            QCOMPARE(run.notices.size(), 1);
            QVERIFY2(run.notices[0].startsWith(notice), qPrintable(run.notices[0]));
        }
    }

    // Unlocking was refused (no prompter can answer here): that is no reason to report "no
    // token", nor to prompt again at every read.
    void aLockedKeyringIsUnreadableAndPromptsOnce()
    {
        for (const char *tool : {"gnome-keyring-daemon", "gdbus", "dbus-monitor"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(tool);
        BareBus lockedBus;
        if (lockedBus.address.isEmpty())
            QSKIP("dbus-daemon could not be started");
        QTemporaryDir home;
        QProcessEnvironment environment = onBus(lockedBus.address);
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        QProcess keyring;
        keyring.setProcessEnvironment(environment);
        keyring.start(QStringLiteral("gnome-keyring-daemon"), {"--foreground", "--unlock", "--components=secrets"});
        const auto stopKeyring = qScopeGuard([&] {
            keyring.terminate();
            keyring.waitForFinished();
        });
        keyring.write("keyring-password");
        keyring.closeWriteChannel();
        QTRY_COMPARE_WITH_TIMEOUT(
            runProbe(lockedBus.address, {"run", "2000", "60000", "loadToken"}).calls.value(0).value(1),
            QStringLiteral("none"), 10000);
        QCOMPARE(runProbe(lockedBus.address, {"run", "2000", "60000", "saveToken"}).calls.value(0).value(1), "ok");

        QProcess lock;
        lock.start(QStringLiteral("gdbus"),
                   {"call", "--address", lockedBus.address, "--dest", "org.freedesktop.secrets", "--object-path",
                    "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.Lock",
                    "['/org/freedesktop/secrets/collection/login']"});
        QVERIFY(lock.waitForFinished(5000) && lock.exitCode() == 0);
        QProcess monitor;
        monitor.start(QStringLiteral("dbus-monitor"),
                      {"--address", lockedBus.address, "type='method_call',interface='org.freedesktop.Secret.Prompt'"});
        QVERIFY(monitor.waitForReadyRead(5000));  // it has become a monitor

        const ProbeRun run =
            runProbe(lockedBus.address, {"run", "2000", "60000", "loadToken", "loadToken", "loadCredentials"});
        QCOMPARE(run.calls.size(), 3);
        for (const QStringList &call : run.calls)
            QCOMPARE(call.value(1), QStringLiteral("unreadable"));
        QTest::qWait(300);  // the monitor's last lines
        monitor.terminate();
        monitor.waitForFinished();
        QCOMPARE(monitor.readAllStandardOutput().count("member=Prompt"), 1);
        QCOMPARE(run.notices.size(), 1);
        QVERIFY2(run.notices[0].startsWith(QStringLiteral("orvela: the keyring is locked")),
                 qPrintable(run.notices[0]));
    }

    void silentKeyringTimesOutThenFailsFastUntilThePauseEnds()
    {
        if (bus.address.isEmpty())
            QSKIP("dbus-daemon could not be started for a silent Secret Service");
        QProcess silentKeyring;
        silentKeyring.setProcessEnvironment(onBus(bus.address));
        silentKeyring.start(QStringLiteral(KEYCHAIN_PROBE), {QStringLiteral("hold-name")});
        const auto stopSilentKeyring = qScopeGuard([&] {
            silentKeyring.kill();
            silentKeyring.waitForFinished();
        });
        QVERIFY(silentKeyring.waitForReadyRead(5000));
        QCOMPARE(silentKeyring.readLine().trimmed(), QByteArray("held"));

        const ProbeRun run =
            runProbe(bus.address, {"run", "300", "1000", "loadToken", "loadCredentials", "wait:1100", "saveToken"});
        QCOMPARE(run.calls.size(), 3);
        const auto elapsed = [&](int call) { return run.calls[call].value(2).toInt(); };
        for (const QStringList &call : run.calls)
            QCOMPARE(call.value(1), timedOut);  // a failure, never "absent"
        // Bounded; within the pause nothing asks the keyring; after it, the keyring is asked again.
        QVERIFY2(elapsed(0) >= 280 && elapsed(0) < 1500, qPrintable(QString::number(elapsed(0))));
        QVERIFY2(elapsed(1) < 100, qPrintable(QString::number(elapsed(1))));
        QVERIFY2(elapsed(2) >= 280, qPrintable(QString::number(elapsed(2))));
        QCOMPARE(run.notices.size(), 1);
        QVERIFY2(run.notices[0].startsWith(QStringLiteral("orvela: the Secret Service did not answer")),
                 qPrintable(run.notices[0]));
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "KeychainStoreTest.moc"
