#pragma once

#include "DailySalts.h"

#include <QString>
#include <functional>
#include <limits>
#include <map>
#include <mutex>

// Random salts kept in memory and, so that a restart within the day goes on counting the same
// visitors, in a file of the runtime folder (a tmpfs, cleared at boot, never in a backup).
// Without a file they live in memory only.
class RuntimeSalts : public DailySalts
{
public:
    using Warn = std::function<void(const QString &)>;

    // `file` empty: memory only. A file that cannot be read or written is said once through
    // `warn`, and the salts stay in memory.
    explicit RuntimeSalts(QString file, Warn warn = {});

    // The file of one database's salts in `folder`, named after its instance id, so that two
    // servers of one user never share it.
    static QString fileIn(const QString &folder, const QString &instanceId);

    std::optional<QByteArray> salt(qint64 day) override;
    std::optional<QByteArray> keptSalt(qint64 day) override;
    void forgetBefore(qint64 day) override;

private:
    void load();
    void save();
    void warnOnce(const QString &message);

    QString m_file;
    Warn m_warn;
    bool m_warned = false;
    std::mutex m_lock;
    std::map<qint64, QByteArray> m_salts;
    qint64 m_forgottenBefore = std::numeric_limits<qint64>::min();
};
