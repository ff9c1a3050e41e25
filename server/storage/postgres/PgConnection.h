#pragma once

#include "Storage.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// What the server said when a statement failed, with its SQLSTATE, so that a caller can tell a
// deadlock or a serialization failure (worth another try) from anything else.
struct PgError : StorageError {
    PgError(const std::string &message, QByteArray state) : StorageError(message), sqlState(std::move(state)) {}
    QByteArray sqlState;

    bool retryable() const { return sqlState == "40001" || sqlState == "40P01"; }
};

// One result; values are read in text form.
class PgResult
{
public:
    explicit PgResult(pg_result *result = nullptr);

    int rows() const;
    bool isNull(int row, int column) const;
    qint64 integer(int row, int column) const;
    QString text(int row, int column) const;
    QByteArray bytes(int row, int column) const;  // a bytea column
    // Rows a command changed.
    qint64 changed() const;

private:
    std::shared_ptr<pg_result> m_result;
};

// A statement's parameters in text form; no value is NULL.
class PgParams
{
public:
    PgParams &add(qint64 value);
    PgParams &add(const QString &text);
    PgParams &addBytes(const QByteArray &bytes);       // for a bytea parameter
    PgParams &add(const std::vector<qint64> &values);  // bigint[]
    PgParams &add(const std::vector<QString> &texts);  // text[]
    // A text[] of the values in hex, for decode(x, 'hex') on the server.
    PgParams &addHex(const std::vector<QByteArray> &values);

    const std::vector<QByteArray> &values() const { return m_values; }

private:
    std::vector<QByteArray> m_values;
};

struct PgStatement {
    const char *sql = nullptr;
    PgParams params;
};

// One libpq connection, used by one thread at a time. Statements that depend on no earlier
// result go to the server together in pipeline mode: one round trip for all of them.
class PgConnection
{
public:
    explicit PgConnection(const QString &connection);  // throws StorageError
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    PgResult exec(const char *sql, const PgParams &params = {});
    // Runs a script of several statements without parameters.
    void execute(const char *sql);
    // Runs the statements in order and returns their results; throws at the first that fails
    // (the ones after it are not run).
    std::vector<PgResult> pipeline(const std::vector<PgStatement> &statements);
    // Ends an open transaction, if any, ignoring failures.
    void rollback();

    // The connection is gone; it cannot be used again.
    bool broken() const;
    // No transaction is open.
    bool idle() const;
    // Where it is connected, for messages: database and host, never the password.
    QString description() const;

private:
    [[noreturn]] void fail(pg_result *result);
    void flushAll();

    pg_conn *m_conn = nullptr;
};

// Runs `body` in a transaction on `db`, again from the start when the server broke it off for a
// deadlock or a serialization failure. `body` begins and commits the transaction itself (in a
// pipeline, so that BEGIN costs no round trip of its own); whatever it left open is rolled back.
template<class Body>
auto inTransaction(PgConnection &db, Body body)
{
    for (int attempt = 1;; ++attempt) {
        try {
            return body();
        } catch (const PgError &error) {
            db.rollback();
            if (!error.retryable() || attempt >= 20)
                throw;
        } catch (...) {
            db.rollback();
            throw;
        }
    }
}
