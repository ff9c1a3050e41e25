#pragma once

#include "SqliteStatement.h"

#include <QFile>
#include <string>
#include <unordered_map>

// One SQLite connection with its compiled statements.
class SqliteConnection
{
public:
    SqliteConnection(const QString &path, bool create)
    {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr) != SQLITE_OK) {
            const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
            sqlite3_close(m_db);
            throw StorageError(reason.toStdString());
        }
        sqlite3_busy_timeout(m_db, 5000);
        // Deleted rows are overwritten, so that a copy of the folder holds no revoked state
        // and no expired visit.
        execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA temp_store=MEMORY; "
                "PRAGMA secure_delete=ON;");
    }
    ~SqliteConnection()
    {
        for (auto &[sql, stmt] : m_cache)
            sqlite3_finalize(stmt);
        sqlite3_close(m_db);
    }

    void execute(const char *sql)
    {
        char *message = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string reason = message ? message : "unknown failure";
            sqlite3_free(message);
            throw StorageError(reason);
        }
    }

    // Statements are compiled once per connection and kept.
    SqliteStatement prepare(const char *sql)
    {
        auto found = m_cache.find(sql);
        if (found == m_cache.end()) {
            sqlite3_stmt *stmt = nullptr;
            if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
                throw StorageError(sqlite3_errmsg(m_db));
            found = m_cache.emplace(sql, stmt).first;
        }
        return SqliteStatement(m_db, found->second);
    }

    sqlite3 *handle() const { return m_db; }
    // Rows changed by the last statement.
    qint64 changes() const { return sqlite3_changes64(m_db); }

private:
    sqlite3 *m_db = nullptr;
    std::unordered_map<const char *, sqlite3_stmt *> m_cache;
};
