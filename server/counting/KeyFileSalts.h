#pragma once

#include "DailySalts.h"

#include <QString>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>

struct SaltSecretError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Salts from a secret key that every server of one database holds a copy of, so that all of
// them count a visitor once. The key moves on at every UTC day, k(d + 1) = HMAC(k(d), "next"),
// and the file is overwritten with it, so that it only ever holds the current day's key: a
// stolen copy gives that day's salt and the later ones, never an earlier one. The salt of day
// d is HMAC(k(d), "salt"). The previous day's salt is kept in memory alone, for the grace
// period after midnight: it is gone after a restart once the file has moved on.
class KeyFileSalts : public DailySalts
{
public:
    using Warn = std::function<void(const QString &)>;

    // Reads the file and moves its key on to `today`, keeping the day before's salt if the file
    // still had it. Throws SaltSecretError when the file is missing or not a salt secret. A file
    // that cannot be written is said once through `warn`.
    KeyFileSalts(QString file, qint64 today, Warn warn = {});

    // A new secret for `today`, readable by its owner alone. Refuses to replace a file.
    static void create(const QString &file, qint64 today);

    std::optional<QByteArray> salt(qint64 day) override;
    std::optional<QByteArray> keptSalt(qint64 day) override;
    void forgetBefore(qint64 day) override;

    // The day whose key the file holds.
    qint64 keyDay() const;

private:
    void moveTo(qint64 day);
    void save();
    void warnOnce(const QString &message);

    QString m_file;
    Warn m_warn;
    bool m_warned = false;
    mutable std::mutex m_lock;
    qint64 m_day = 0;
    QByteArray m_key;
    std::map<qint64, QByteArray> m_kept;  // salts of days whose keys are gone
    qint64 m_forgottenBefore = std::numeric_limits<qint64>::min();
};
