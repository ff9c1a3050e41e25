#pragma once

#include "Storage.h"

#include <QByteArray>
#include <QString>
#include <sqlite3.h>
#include <utility>

// One statement of a connection's cache, reset and cleared on the way out.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3 *db, sqlite3_stmt *stmt) : m_db(db), m_stmt(stmt) {}
    SqliteStatement(SqliteStatement &&other) noexcept : m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr))
    {}
    SqliteStatement(const SqliteStatement &) = delete;
    ~SqliteStatement()
    {
        if (!m_stmt)
            return;
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    // Binding hands the statement on, so that a query can be prepared and bound in one line.
    SqliteStatement &&bind(int index, qint64 value)
    {
        check(sqlite3_bind_int64(m_stmt, index, value));
        return std::move(*this);
    }
    SqliteStatement &&bind(int index, const QByteArray &blob)
    {
        check(sqlite3_bind_blob(m_stmt, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT));
        return std::move(*this);
    }
    SqliteStatement &&bindText(int index, const QByteArray &utf8)
    {
        check(sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
        return std::move(*this);
    }
    SqliteStatement &&bind(int index, const QString &text) { return bindText(index, text.toUtf8()); }

    // True while there is a row to read.
    bool step()
    {
        const int result = sqlite3_step(m_stmt);
        if (result == SQLITE_ROW)
            return true;
        if (result == SQLITE_DONE)
            return false;
        throw StorageError(sqlite3_errmsg(m_db));
    }
    void run()
    {
        while (step()) {}
    }

    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    QByteArray blob(int column) const
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return QByteArray(data, sqlite3_column_bytes(m_stmt, column));
    }
    QString text(int column) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
    }

private:
    void check(int result)
    {
        if (result != SQLITE_OK)
            throw StorageError(sqlite3_errmsg(m_db));
    }

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt;
};
