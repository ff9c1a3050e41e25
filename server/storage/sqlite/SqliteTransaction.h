#pragma once

#include "SqliteConnection.h"

// Rolls back unless committed; BEGIN IMMEDIATE so that a read-then-write never meets a
// second writer half way.
class SqliteTransaction
{
public:
    SqliteTransaction(SqliteConnection &db, bool write) : m_db(db)
    {
        m_db.execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~SqliteTransaction()
    {
        if (!m_done)
            sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        m_db.execute("COMMIT");
        m_done = true;
    }

private:
    SqliteConnection &m_db;
    bool m_done = false;
};
