#include "RuntimeSalts.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int saltBytes = 32;

QByteArray randomSalt()
{
    quint32 words[saltBytes / 4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), saltBytes);
}

}  // namespace

RuntimeSalts::RuntimeSalts(QString file, Warn warn) : m_file(std::move(file)), m_warn(std::move(warn))
{
    if (!m_file.isEmpty())
        load();
}

QString RuntimeSalts::fileIn(const QString &folder, const QString &instanceId)
{
    return QDir(folder).filePath(QStringLiteral("orvela-server-%1.salts").arg(instanceId));
}

std::optional<QByteArray> RuntimeSalts::salt(qint64 day)
{
    std::lock_guard lock(m_lock);
    if (day < m_forgottenBefore)
        return std::nullopt;
    if (const auto found = m_salts.find(day); found != m_salts.end())
        return found->second;
    const QByteArray made = m_salts.emplace(day, randomSalt()).first->second;
    save();
    return made;
}

std::optional<QByteArray> RuntimeSalts::keptSalt(qint64 day)
{
    std::lock_guard lock(m_lock);
    if (const auto found = m_salts.find(day); found != m_salts.end())
        return found->second;
    return std::nullopt;
}

void RuntimeSalts::forgetBefore(qint64 day)
{
    std::lock_guard lock(m_lock);
    m_forgottenBefore = std::max(m_forgottenBefore, day);
    const auto end = m_salts.lower_bound(day);
    if (end == m_salts.begin())
        return;
    m_salts.erase(m_salts.begin(), end);
    save();
}

// One line per day: the day's number and its salt in hex.
void RuntimeSalts::load()
{
    QFile file(m_file);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        warnOnce(
            QStringLiteral("cannot read %1 (%2): today's visitors are counted anew").arg(m_file, file.errorString()));
        return;
    }
    std::map<qint64, QByteArray> salts;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        bool ok = false;
        const qint64 day = fields.first().toLongLong(&ok);
        const QByteArray salt = fields.size() == 2 ? QByteArray::fromHex(fields[1]) : QByteArray();
        if (!ok || salt.size() != saltBytes) {
            warnOnce(QStringLiteral("%1 is not a file of salts: today's visitors are counted anew").arg(m_file));
            return;
        }
        salts[day] = salt;
    }
    m_salts = std::move(salts);
}

// Replaced whole through a new file, readable by this user alone from its first byte.
void RuntimeSalts::save()
{
    if (m_file.isEmpty())
        return;
    QByteArray text;
    for (const auto &[day, salt] : m_salts)
        text += QByteArray::number(day) + ' ' + salt.toHex() + '\n';
    const QByteArray path = QFile::encodeName(m_file);
    const QByteArray temporary = path + ".new";
    int error = 0;
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
    } else {
        errno = 0;
        if (::fchmod(fd, 0600) != 0)
            error = errno;
        else if (::write(fd, text.constData(), size_t(text.size())) != text.size())
            error = errno ? errno : EIO;
        if (::close(fd) != 0 && !error)
            error = errno;
    }
    if (!error && ::rename(temporary.constData(), path.constData()) != 0)
        error = errno;
    if (!error)
        return;
    ::unlink(temporary.constData());
    warnOnce(QStringLiteral("cannot write %1 (%2): the day's salt is kept in memory only, and a restart counts "
                            "today's visitors anew")
                 .arg(m_file, QString::fromLocal8Bit(std::strerror(error))));
}

void RuntimeSalts::warnOnce(const QString &message)
{
    if (m_warned || !m_warn)
        return;
    m_warned = true;
    m_warn(message);
}
