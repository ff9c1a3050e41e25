#include "Json.h"
#include "KeychainStore.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <functional>

using namespace std::chrono_literals;

namespace {

// The items as any Secret Service client sees them: found by `service` and `account`.
const SecretSchema itemSchema = {
    "orvela.Secret",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};

const QString tokenAccount = QStringLiteral("cloud.sync.token");

std::optional<QByteArray> rawItem(const QString &service, const QString &account)
{
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(&itemSchema, nullptr, &error, "service",
                                                            service.toUtf8().constData(), "account",
                                                            account.toUtf8().constData(), nullptr);
    if (error != nullptr) {
        qWarning("lookup failed: %s", error->message);
        g_error_free(error);
    }
    if (value == nullptr)
        return std::nullopt;
    gsize length = 0;
    const gchar *data = secret_value_get(value, &length);
    QByteArray bytes(data, qsizetype(length));
    secret_value_unref(value);
    return bytes;
}

// Writes bytes the store itself would never write, as another program or an older version might.
bool putRawItem(const QString &service, const QString &account, const QByteArray &bytes)
{
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    GError *error = nullptr;
    const bool stored = secret_password_store_binary_sync(&itemSchema, SECRET_COLLECTION_DEFAULT, "test item",
                                                          value, nullptr, &error, "service",
                                                          service.toUtf8().constData(), "account",
                                                          account.toUtf8().constData(), nullptr);
    secret_value_unref(value);
    if (error != nullptr) {
        qWarning("store failed: %s", error->message);
        g_error_free(error);
    }
    return stored;
}

int itemCount(const QString &service, const QString &account)
{
    GError *error = nullptr;
    GList *items = secret_password_search_sync(&itemSchema, SECRET_SEARCH_ALL, nullptr, &error, "service",
                                               service.toUtf8().constData(), "account",
                                               account.toUtf8().constData(), nullptr);
    if (error != nullptr) {
        qWarning("search failed: %s", error->message);
        g_error_free(error);
        return -1;
    }
    const int count = int(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

void clearService(const QString &service)
{
    secret_password_clear_sync(&itemSchema, nullptr, nullptr, "service", service.toUtf8().constData(),
                               nullptr);
}

QString failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const KeychainStoreError &error) {
        return error.kind == KeychainStoreError::Kind::unreadable ? QStringLiteral("unreadable")
                                                                  : QStringLiteral("status %1").arg(error.code);
    }
    return QStringLiteral("no failure");
}

QString tokenText(const std::optional<QString> &token)
{
    return token.value_or(QStringLiteral("<absent>"));
}

// One result line of KeychainProbe: "OP OUTCOME ELAPSED_MS".
struct ProbeCall {
    QString op;
    QString outcome;
    int elapsedMs = 0;
};

struct ProbeRun {
    bool finished = false;
    QList<ProbeCall> calls;
    QStringList stderrLines;
};

ProbeRun runProbe(const QProcessEnvironment &environment, const QStringList &arguments, int limitMs)
{
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(KEYCHAIN_PROBE), arguments);
    ProbeRun run;
    run.finished = probe.waitForFinished(limitMs);
    if (!run.finished) {
        probe.kill();
        probe.waitForFinished();
    }
    for (const QString &line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(' ');
        if (parts.size() == 3)
            run.calls.append({parts[0], parts[1], parts[2].toInt()});
    }
    run.stderrLines = QString::fromUtf8(probe.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return run;
}

QProcessEnvironment probeEnvironment(const QString &busAddress)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    // Without a display GLib cannot autolaunch a bus of its own behind the test's back.
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

// A session bus on which nothing provides the Secret Service and nothing can be activated.
class BareBus
{
public:
    bool start()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid())
            return false;
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:path=" + m_dir.filePath(QStringLiteral("bus")).toUtf8() + "</listen>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n");
        config.close();
        m_daemon.start(daemon, {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                                QStringLiteral("--config-file=") + config.fileName()});
        if (!m_daemon.waitForReadyRead(5000))
            return false;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return !m_address.isEmpty();
    }

    ~BareBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

constexpr int timedOutStatus = G_IO_ERROR_TIMED_OUT;

}  // namespace

class KeychainStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void syncTokenIsStoredTrimmedAndUpdatedInPlace();
    void blankTokenDeletesTheItemAndDeletingNothingIsFine();
    void credentialsRoundTripUnderTheUpperCaseAccount();
    void storedBytesThatDoNotDecodeAreUnreadable_data();
    void storedBytesThatDoNotDecodeAreUnreadable();

    void withoutSecretServiceEveryCallFailsWithOneNotice_data();
    void withoutSecretServiceEveryCallFailsWithOneNotice();
    void silentKeyringTimesOutThenFailsFastUntilThePauseEnds();

private:
    QString m_noKeyring;  // why the real-keyring cases cannot run, or empty
    QString m_service;
};

#define REQUIRE_KEYRING()                                                                              \
    do {                                                                                               \
        if (!m_noKeyring.isEmpty())                                                                    \
            QSKIP(qPrintable(m_noKeyring));                                                            \
    } while (false)

void KeychainStoreTest::initTestCase()
{
    // Only the throw-away keyring of with-keyring is written to, never the user's own.
    const bool inThrowAwayKeyring = qEnvironmentVariableIsSet("_ORVELA_IN_KEYRING");
    if (!inThrowAwayKeyring) {
        m_noKeyring = QStringLiteral("no throw-away keyring: run under scripts/lib/with-keyring (scripts/test does)");
        return;
    }
    const QString failure = failureOf([] { KeychainStore(QStringLiteral("orvela-test-probe"), 5s).loadSyncToken(); });
    QVERIFY2(failure == QStringLiteral("no failure"),
             qPrintable(QStringLiteral("with-keyring's gnome-keyring is not reachable: ") + failure));
}

void KeychainStoreTest::init()
{
    m_service = QStringLiteral("orvela-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void KeychainStoreTest::cleanup()
{
    if (m_noKeyring.isEmpty())
        clearService(m_service);
}

void KeychainStoreTest::syncTokenIsStoredTrimmedAndUpdatedInPlace()
{
    REQUIRE_KEYRING();
    KeychainStore store(m_service, 5s);
    QCOMPARE(tokenText(store.loadSyncToken()), QStringLiteral("<absent>"));

    store.saveSyncToken(QStringLiteral("  tok-ÄBC.123\n"));
    QCOMPARE(rawItem(m_service, tokenAccount).value_or("<absent>"), QByteArray("tok-\xc3\x84" "BC.123"));
    QCOMPARE(tokenText(store.loadSyncToken()), QStringLiteral("tok-ÄBC.123"));

    store.saveSyncToken(QStringLiteral("tok-second"));
    QCOMPARE(tokenText(store.loadSyncToken()), QStringLiteral("tok-second"));
    QCOMPARE(itemCount(m_service, tokenAccount), 1);

    // Written by someone else with surrounding blanks, it still loads trimmed.
    QVERIFY(putRawItem(m_service, tokenAccount, "\t tok-third \r\n"));
    QCOMPARE(tokenText(store.loadSyncToken()), QStringLiteral("tok-third"));

    // The service name keeps stores apart.
    QCOMPARE(tokenText(KeychainStore(m_service + QStringLiteral(".other"), 5s).loadSyncToken()),
             QStringLiteral("<absent>"));
}

void KeychainStoreTest::blankTokenDeletesTheItemAndDeletingNothingIsFine()
{
    REQUIRE_KEYRING();
    KeychainStore store(m_service, 5s);
    store.saveSyncToken(QStringLiteral("tok"));
    QCOMPARE(itemCount(m_service, tokenAccount), 1);

    QCOMPARE(failureOf([&] { store.saveSyncToken(QStringLiteral(" \n\t")); }), QStringLiteral("no failure"));
    QCOMPARE(itemCount(m_service, tokenAccount), 0);
    QCOMPARE(tokenText(store.loadSyncToken()), QStringLiteral("<absent>"));

    QCOMPARE(failureOf([&] { store.saveSyncToken(QString()); }), QStringLiteral("no failure"));
}

void KeychainStoreTest::credentialsRoundTripUnderTheUpperCaseAccount()
{
    REQUIRE_KEYRING();
    KeychainStore store(m_service, 5s);
    // Read from a document that wrote it in lower case: the account is still upper case.
    const QUuid website = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
    const QString account = QStringLiteral("website.0F8FAD5B-D9CB-469F-A165-70867728950E");

    const ProviderCredentials first{{{QStringLiteral("apiKey"), QStringLiteral("k-1")},
                                     {QStringLiteral("secret"), QStringLiteral("pässwörd ✓ \"quoted\"")}}};
    store.saveCredentials(first, website);
    const auto stored = rawItem(m_service, account);
    QVERIFY2(stored, "no item under the upper-case account");
    QCOMPARE(Json::parseObject(*stored), first.toJson());
    QCOMPARE(itemCount(m_service, QStringLiteral("website.0f8fad5b-d9cb-469f-a165-70867728950e")), 0);
    QCOMPARE(store.loadCredentials(website).value_or(ProviderCredentials{}).values, first.values);

    const ProviderCredentials second{{{QStringLiteral("apiKey"), QStringLiteral("k-2")}}};
    store.saveCredentials(second, website);
    QCOMPARE(store.loadCredentials(website).value_or(ProviderCredentials{}).values, second.values);
    QCOMPARE(itemCount(m_service, account), 1);

    // No credential fields at all still reads back as a record, not as absent.
    store.saveCredentials(ProviderCredentials{}, website);
    const auto empty = store.loadCredentials(website);
    QVERIFY(empty.has_value());
    QVERIFY(empty->values.isEmpty());

    store.deleteCredentials(website);
    QVERIFY(!store.loadCredentials(website).has_value());
    QCOMPARE(itemCount(m_service, account), 0);
    QCOMPARE(failureOf([&] { store.deleteCredentials(website); }), QStringLiteral("no failure"));
    QCOMPARE(failureOf([&] { store.deleteCredentials(QUuid::createUuid()); }), QStringLiteral("no failure"));
}

void KeychainStoreTest::storedBytesThatDoNotDecodeAreUnreadable_data()
{
    QTest::addColumn<bool>("isToken");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("token of blanks") << true << QByteArray(" \n\t  ");
    QTest::newRow("token, invalid UTF-8") << true << QByteArray("tok\xff\xfe");
    QTest::newRow("token, truncated UTF-8") << true << QByteArray("tok\xe2\x82");
    QTest::newRow("credentials, not JSON") << false << QByteArray("apiKey=k-1");
    QTest::newRow("credentials, an array") << false << QByteArray(R"([{"values":{}}])");
    QTest::newRow("credentials, no values") << false << QByteArray(R"({"apiKey":"k-1"})");
    QTest::newRow("credentials, a value that is no text") << false << QByteArray(R"({"values":{"apiKey":1}})");
    QTest::newRow("credentials, invalid UTF-8") << false << QByteArray("{\"values\":{\"apiKey\":\"k\xff\"}}");
}

void KeychainStoreTest::storedBytesThatDoNotDecodeAreUnreadable()
{
    REQUIRE_KEYRING();
    QFETCH(bool, isToken);
    QFETCH(QByteArray, stored);
    const QUuid website = QUuid::createUuid();
    QVERIFY(putRawItem(m_service, isToken ? tokenAccount : QStringLiteral("website.") + Json::uuidText(website),
                       stored));
    KeychainStore store(m_service, 5s);
    QCOMPARE(failureOf([&] { isToken ? void(store.loadSyncToken()) : void(store.loadCredentials(website)); }),
             QStringLiteral("unreadable"));
}

void KeychainStoreTest::withoutSecretServiceEveryCallFailsWithOneNotice_data()
{
    QTest::addColumn<bool>("busRuns");
    QTest::addColumn<QString>("notice");
    QTest::newRow("no session bus") << false << QStringLiteral("orvela: no D-Bus session bus");
    QTest::newRow("no provider") << true << QStringLiteral("orvela: no Secret Service provider on the session bus");
}

void KeychainStoreTest::withoutSecretServiceEveryCallFailsWithOneNotice()
{
    QFETCH(bool, busRuns);
    QFETCH(QString, notice);
    QTemporaryDir dir;
    BareBus bus;
    if (busRuns && !bus.start())
        QSKIP("dbus-daemon could not be started for a bus without a Secret Service");
    const QString address = busRuns ? bus.address() : QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("none"));
    const QStringList operations = {"loadToken",       "saveToken",       "saveBlank",
                                    "loadCredentials", "saveCredentials", "deleteCredentials"};
    const ProbeRun run = runProbe(probeEnvironment(address), QStringList{"run", "2000", "60000"} + operations, 5000);

    QVERIFY2(run.finished, "the probe hung");
    QCOMPARE(run.calls.size(), operations.size());
    for (const ProbeCall &call : run.calls) {
        // A bus that runs answers ServiceUnknown, and that code is what the status carries.
        if (busRuns)
            QCOMPARE(call.outcome, QStringLiteral("status:%1").arg(G_DBUS_ERROR_SERVICE_UNKNOWN));
        QVERIFY2(call.outcome.startsWith(QStringLiteral("status:")), qPrintable(call.op + ' ' + call.outcome));
        QVERIFY2(call.outcome != QStringLiteral("status:%1").arg(timedOutStatus), qPrintable(call.op));
        QVERIFY2(call.elapsedMs < 1000, qPrintable(call.op));
    }
    QCOMPARE(run.stderrLines.size(), 1);
    QVERIFY2(run.stderrLines[0].startsWith(notice), qPrintable(run.stderrLines[0]));
}

void KeychainStoreTest::silentKeyringTimesOutThenFailsFastUntilThePauseEnds()
{
    BareBus bus;
    if (!bus.start())
        QSKIP("dbus-daemon could not be started for a silent Secret Service");
    QProcess silentKeyring;
    silentKeyring.setProcessEnvironment(probeEnvironment(bus.address()));
    silentKeyring.start(QStringLiteral(KEYCHAIN_PROBE), {QStringLiteral("hold-name")});
    QVERIFY(silentKeyring.waitForReadyRead(5000));
    QCOMPARE(silentKeyring.readLine().trimmed(), QByteArray("held"));
    const auto stopSilentKeyring = qScopeGuard([&] {
        silentKeyring.kill();
        silentKeyring.waitForFinished();
    });

    const ProbeRun run = runProbe(probeEnvironment(bus.address()),
                                  {"run", "300", "1000", "loadToken", "loadCredentials", "wait:1100", "saveToken"},
                                  6000);

    QVERIFY2(run.finished, "the probe hung");
    QCOMPARE(run.calls.size(), 3);
    const QString timedOut = QStringLiteral("status:%1").arg(timedOutStatus);
    // Bounded, and a time-out is a failure, never "absent".
    QCOMPARE(run.calls[0].outcome, timedOut);
    QVERIFY2(run.calls[0].elapsedMs >= 280 && run.calls[0].elapsedMs < 1500,
             qPrintable(QString::number(run.calls[0].elapsedMs)));
    // Within the pause nothing asks the keyring.
    QCOMPARE(run.calls[1].outcome, timedOut);
    QVERIFY2(run.calls[1].elapsedMs < 100, qPrintable(QString::number(run.calls[1].elapsedMs)));
    // After it, the keyring is asked again (and is still silent).
    QCOMPARE(run.calls[2].outcome, timedOut);
    QVERIFY2(run.calls[2].elapsedMs >= 280, qPrintable(QString::number(run.calls[2].elapsedMs)));

    QCOMPARE(run.stderrLines.size(), 1);
    QVERIFY2(run.stderrLines[0].startsWith(QStringLiteral("orvela: the Secret Service did not answer")),
             qPrintable(run.stderrLines[0]));
}

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "KeychainStoreTest.moc"
