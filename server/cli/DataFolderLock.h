#pragma once

#include <QString>

// One `serve` per data folder: an exclusive lock on a file in it, which holds the server's PID
// for the message a second one gives. The lock goes with the process, however it ends. The
// token commands do not take it: they work while the server runs.
class DataFolderLock
{
public:
    // Tries to take the lock of `folder`, which must exist.
    explicit DataFolderLock(const QString &folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    bool held() const { return m_fd >= 0; }
    // Why it is not held, as a line for stderr.
    QString problem() const { return m_problem; }

    static QString fileName(const QString &folder);

private:
    int m_fd = -1;
    QString m_problem;
};
