#pragma once

// A real orvela-server on 127.0.0.1 with its data in a temporary folder and a clock the test
// moves by hand.
#include "HttpService.h"
#include "RuntimeSalts.h"
#include "SqliteStorage.h"
#include "TokenCommand.h"
#include "Instant.h"
#include "Json.h"
#include "Tokens.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
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

// An account state that lists one website.
inline std::string stateWith(const std::string &id, const QString &name = {}, const char *domain = "shop.example.net")
{
    return "{\"websites\":[{\"id\":\"" + id + "\",\"displayName\":\"" + name.toStdString() + "\",\"domain\":\"" +
           domain + "\"}],\"refreshInterval\":60}";
}

struct RunningServer {
    QTemporaryDir folder;
    QTemporaryDir runtime;  // the runtime folder, apart from the data folder
    std::shared_ptr<std::atomic<qint64>> now;
    std::unique_ptr<SqliteStorage> storage;
    QString saltFile;  // empty: salts in memory only
    std::unique_ptr<RuntimeSalts> salts;
    std::unique_ptr<HttpService> service;
    HttpService::Options options;
    int port = 0;

    explicit RunningServer(qint64 start, HttpService::Options withOptions = {})
        : now(std::make_shared<std::atomic<qint64>>(start)),
          storage(std::make_unique<SqliteStorage>(folder.path())),
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
        service = std::make_unique<HttpService>(*storage, *salts, [clock = now] { return clock->load(); }, options);
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

    std::unique_ptr<httplib::Client> client() const
    {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
        client->set_tcp_nodelay(true);
        client->set_read_timeout(10, 0);
        return client;
    }

    httplib::Result put(const QString &token, const std::string &state) const
    {
        return client()->Put("/v1/state", bearer(token), state, "application/json");
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)); }
};
