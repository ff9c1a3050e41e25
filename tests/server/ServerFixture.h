#pragma once

// A real orvela-server on 127.0.0.1 with a clock the test moves by hand, and its data in a
// temporary folder or, when ORVELA_TEST_ENGINE=postgres, in a database of its own on the
// PostgreSQL cluster that ORVELA_TEST_POSTGRES names.
#include "HttpService.h"
#include "Instant.h"
#include "Json.h"
#include "PgConnection.h"
#include "PgStorage.h"
#include "RuntimeSalts.h"
#include "SqliteStorage.h"
#include "TokenCommand.h"
#include "Tokens.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <atomic>
#include <csignal>
#include <httplib.h>
#include <memory>
#include <sqlite3.h>

inline qint64 utc(const char *iso)
{
    return qint64(Instant::fromIso8601(QString::fromLatin1(iso))->unixSeconds());
}

inline httplib::Headers bearer(const QString &token)
{
    return {{"Authorization", "Bearer " + token.toStdString()}};
}

inline QByteArray bodyOf(const httplib::Result &result)
{
    return result ? QByteArray::fromStdString(result->body) : QByteArray();
}

inline int statusOf(const httplib::Result &result)
{
    return result ? result->status : -1;
}

// A body over a limit is answered and the connection closed without reading the rest; the
// client may notice the close while still writing, before it reads the answer.
inline bool answeredOrCut(const httplib::Result &result, int status)
{
    using httplib::Error;
    return statusOf(result) == status || result.error() == Error::Canceled || result.error() == Error::Write ||
        result.error() == Error::Read;
}

// The first column of the first row `sql` gives, read from the database file itself; -1 when
// there is none.
inline qint64 sqlValue(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    const qint64 result = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

enum class Engine { sqlite, postgres };

// The engine the tests of the storage contract run against: CTest registers them once per engine.
inline Engine testEngine()
{
    return qEnvironmentVariable("ORVELA_TEST_ENGINE") == u"postgres" ? Engine::postgres : Engine::sqlite;
}

// A database of its own on the test cluster, so that tests run side by side; dropped at the
// end. No cluster is a failure, not a reason to skip: scripts/test starts one.
class TestDatabase
{
public:
    TestDatabase() : m_name("orvela_test_" + QUuid::createUuid().toString(QUuid::Id128))
    {
        if (cluster().isEmpty()) {
            qFatal("ORVELA_TEST_POSTGRES is not set: the tests of the PostgreSQL engine need a cluster "
                   "(scripts/test starts one)");
        }
        PgConnection(cluster()).exec(QStringLiteral("CREATE DATABASE %1").arg(m_name).toUtf8().constData());
    }
    ~TestDatabase()
    {
        try {
            PgConnection(cluster()).exec(
                QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(m_name).toUtf8().constData());
        } catch (const StorageError &error) {
            qWarning("could not drop the test database %s: %s", qPrintable(m_name), error.what());
        }
    }
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    // libpq takes the last of a repeated key.
    QString connection() const { return cluster() + QStringLiteral(" dbname=") + m_name; }

    static QString cluster() { return qEnvironmentVariable("ORVELA_TEST_POSTGRES"); }

private:
    QString m_name;
};

// The first column of the first row `sql` gives in the database; -1 when there is none.
inline qint64 pgValue(const QString &connection, const char *sql)
{
    PgConnection db(connection);
    const PgResult result = db.exec(sql);
    return result.rows() > 0 && !result.isNull(0, 0) ? result.integer(0, 0) : -1;
}

// Every value of every table in the database, as bytes (bytea raw, anything else as text).
inline QList<QByteArray> pgEveryValue(const QString &connection)
{
    PgConnection db(connection);
    const PgResult columns = db.exec("SELECT table_name, column_name, data_type FROM information_schema.columns "
                                     "WHERE table_schema = 'public'");
    QList<QByteArray> values;
    for (int column = 0; column < columns.rows(); ++column) {
        const QByteArray sql = "SELECT \"" + columns.text(column, 1).toUtf8() + "\"::text FROM \"" +
            columns.text(column, 0).toUtf8() + '"';
        const bool bytes = columns.text(column, 2) == u"bytea";
        const PgResult rows = db.exec(bytes ? QByteArray(sql).replace("::text", "").constData() : sql.constData());
        for (int row = 0; row < rows.rows(); ++row) {
            if (!rows.isNull(row, 0))
                values << (bytes ? rows.bytes(row, 0) : rows.text(row, 0).toUtf8());
        }
    }
    return values;
}

// The site the tests count for, as the snippet on its pages names it.
const char *const siteId = "c0ffee00-1234-4abc-9def-0123456789ab";

// An event as the tracking script sends it.
inline std::string eventBody(const char *kind, const std::string &path, const char *referrer = "",
                             const char *label = "", const char *site = siteId)
{
    return std::string("{\"s\":\"") + site + "\",\"k\":\"" + kind + "\",\"u\":\"https://shop.example.net" + path +
        "\",\"r\":\"" + referrer + "\",\"l\":\"" + label + "\"}";
}

// An account state that lists one website.
inline std::string stateWith(const std::string &id, const QString &name = {}, const char *domain = "shop.example.net")
{
    return "{\"websites\":[{\"id\":\"" + id + "\",\"displayName\":\"" + name.toStdString() + "\",\"domain\":\"" +
        domain + "\"}],\"refreshInterval\":60}";
}

inline std::unique_ptr<httplib::Client> clientFor(int port)
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_tcp_nodelay(true);
    client->set_read_timeout(10, 0);
    return client;
}

// A batch of one visit on `site`, last seen at `at`, with `events` page views and its counters.
inline EventBatch visitBatch(qint64 visit, qint64 site, qint64 at, int events)
{
    EventBatch batch;
    batch.visits[visit] = {visit, site, QStringLiteral("v%1").arg(visit), at, at, {}, {}, events};
    for (int seq = 0; seq < events; ++seq)
        batch.events.push_back({visit, seq, at, EventKind::pageview, QStringLiteral("/")});
    batch.visitors.push_back({site, utcDay(at), QByteArray::number(visit), at, visit, {}});
    batch.quarters[{site, slotOf(at)}] = {events, 1};
    batch.slotCountries[{site, slotOf(at), QString()}] = 1;
    batch.hours[{site, 0, at - at % 3600}] = 1;
    batch.days[{site, utcDay(at)}] = {1, events};
    batch.trackedSites.push_back(site);
    return batch;
}

// Work for housekeeping: site "KEPT" with 40 expired visits of 7 events and one recent visit,
// site "ENDED" with 40 recent visits of an account then removed. The two sites' ids.
inline std::pair<qint64, qint64> fillForHousekeeping(Storage &storage, qint64 now)
{
    for (const char *account : {"kept", "ended"}) {
        storage.addAccount(account, 0);
        storage.replaceState(account, "{}", {{QString::fromLatin1(account).toUpper(), "a.example"}}, 0);
    }
    const qint64 kept = *storage.ownedSite("kept", "KEPT"), ended = *storage.ownedSite("ended", "ENDED");
    for (int i = 0; i < 40; ++i) {
        storage.commit(visitBatch(2 * i + 1, kept, now - 40 * secondsPerDay + i * 3600, 7));
        storage.commit(visitBatch(2 * i + 2, ended, now - 2 * secondsPerDay + i * 60, 3));
    }
    storage.commit(visitBatch(81, kept, now - 60, 2));
    storage.removeAccount("ended");
    return {kept, ended};
}

const char *const allRowsSql = "SELECT (SELECT count(*) FROM visits) + (SELECT count(*) FROM events) + "
                               "(SELECT count(*) FROM visitors) + (SELECT count(*) FROM slots) + "
                               "(SELECT count(*) FROM slot_countries) + (SELECT count(*) FROM hours) + "
                               "(SELECT count(*) FROM days) + (SELECT count(*) FROM ended_sites)";

#ifdef ORVELA_SERVER_BINARY
struct Ran {
    int status = -1;
    QString out, err;
};

// The binary run as a service would run it: no runtime folder unless `runtime` names one.
inline QProcessEnvironment environment(const QString &runtime = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("RUNTIME_DIRECTORY"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty())
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    return environment;
}

inline Ran runBinary(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral(ORVELA_SERVER_BINARY), arguments);
    process.waitForFinished(30000);
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// `serve` on a free port of 127.0.0.1; the port it serves on, or 0.
inline int startServing(QProcess &serving, const QStringList &arguments, const QString &runtime = {})
{
    serving.setProcessEnvironment(environment(runtime));
    serving.start(QStringLiteral(ORVELA_SERVER_BINARY), QStringList{"serve", "--listen", "127.0.0.1:0"} + arguments);
    if (!serving.waitForReadyRead(30000))
        return 0;
    return QString::fromLocal8Bit(serving.readLine()).section(u':', 3).section(u'/', 0, 0).toInt();
}
#endif

struct RunningServer {
    QTemporaryDir folder;
    QTemporaryDir runtime;  // the runtime folder, apart from the data folder
    std::shared_ptr<std::atomic<qint64>> now;
    std::unique_ptr<TestDatabase> database;  // with PostgreSQL
    std::unique_ptr<Storage> storage;
    QString saltFile;  // empty: salts in memory only
    std::unique_ptr<RuntimeSalts> salts;
    std::unique_ptr<HttpService> service;
    HttpService::Options options;
    int port = 0;

    explicit RunningServer(qint64 start, HttpService::Options withOptions = {}, Engine engine = testEngine())
        : now(std::make_shared<std::atomic<qint64>>(start)),
          database(engine == Engine::postgres ? std::make_unique<TestDatabase>() : nullptr),
          storage(database ? std::unique_ptr<Storage>(std::make_unique<PgStorage>(database->connection()))
                           : std::make_unique<SqliteStorage>(folder.path())),
          saltFile(RuntimeSalts::fileIn(runtime.path(), storage->instanceId())),
          options(withOptions)
    {
        // cpp-httplib's client writes without MSG_NOSIGNAL: a server that closes a connection
        // while a body is still being sent must not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        restart();
    }

    // A new service over the same database, on a new port, with what a new process would have:
    // the salts only from the runtime file.
    void restart()
    {
        service.reset();  // the old collector is done before the new one reads the database
        salts = std::make_unique<RuntimeSalts>(saltFile);
        service = std::make_unique<HttpService>(
            *storage, *salts, [clock = now] { return clock->load(); }, options);
        port = service->bind("127.0.0.1", 0);
        service->start();
    }

    QString createToken() { return tokenCommand(CommandLine::Token::Action::create).out.trimmed(); }

    // `token rotate` and `token revoke` for a token, as the command line would run them.
    CommandOutput tokenCommand(CommandLine::Token::Action action, const QString &token = {})
    {
        const QString prefix = QString::fromLatin1(Tokens::hash(token).toHex().left(16));
        return runTokenCommand({action, prefix, folder.path()}, *storage, *now);
    }

    QString databasePath() const { return SqliteStorage::fileName(folder.path()); }

    // The first column of the first row `sql` gives, read from the database itself.
    qint64 sqlValue(const char *sql) const
    {
        return database ? pgValue(database->connection(), sql) : ::sqlValue(databasePath(), sql);
    }

    // Every byte the database holds: the files of the data folder, or every stored value.
    QByteArray everythingStored() const
    {
        QByteArray everything;
        if (database) {
            for (const QByteArray &value : pgEveryValue(database->connection()))
                everything += value + '\n';
            return everything;
        }
        for (const QString suffix : {"", "-wal", "-shm"}) {
            QFile file(databasePath() + suffix);
            if (file.open(QIODevice::ReadOnly))
                everything += file.readAll();
        }
        return everything;
    }

    std::unique_ptr<httplib::Client> client() const { return clientFor(port); }

    httplib::Result put(const QString &token, const std::string &state) const
    {
        return client()->Put("/v1/state", bearer(token), state, "application/json");
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)); }
};
