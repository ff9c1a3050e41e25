#include "KeyFileSalts.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int keyBytes = 32;
const QByteArray heading = "orvela-server salt secret";

QByteArray mac(const QByteArray &key, const char *message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray contents(qint64 day, const QByteArray &key)
{
    return heading + "\nday " + QByteArray::number(day) + "\nkey " + key.toHex() + '\n';
}

// Writes `bytes` to a new file beside `path`, flushed to disk, then puts it in the place of
// `path`, so that a crash leaves the old key or the new one, never half of one. 0 or errno.
int replaceFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return errno;
    int error = 0;
    if (::fchmod(fd, 0600) != 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
        ::fsync(fd) != 0)
        error = errno ? errno : EIO;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return error;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

}  // namespace

KeyFileSalts::KeyFileSalts(QString file, qint64 today, Warn warn) : m_file(std::move(file)), m_warn(std::move(warn))
{
    QFile input(m_file);
    if (!input.open(QIODevice::ReadOnly))
        throw SaltSecretError(input.errorString().toStdString());
    const QList<QByteArray> lines = input.readAll().split('\n');
    bool dayOk = false;
    if (lines.size() >= 3 && lines[0] == heading && lines[1].startsWith("day ") && lines[2].startsWith("key ")) {
        m_day = lines[1].mid(4).toLongLong(&dayOk);
        m_key = QByteArray::fromHex(lines[2].mid(4));
    }
    if (!dayOk || m_key.size() != keyBytes || lines[2].size() != 4 + 2 * keyBytes)
        throw SaltSecretError("it is not a salt secret ('orvela-server salt-secret create FILE' makes one)");
    if (m_warn && (input.permissions() & (QFile::ReadGroup | QFile::ReadOther))) {
        m_warn(
            QStringLiteral("%1 is readable by other users than its owner: make it private with chmod 600").arg(m_file));
    }
    if (m_warn && m_day > today) {
        m_warn(QStringLiteral("%1 holds the key of a later day than today (is this machine's clock behind?): "
                              "visitors are counted from that day on")
                   .arg(m_file));
    }
    std::lock_guard lock(m_lock);
    if (m_day < today)
        moveTo(today);
}

void KeyFileSalts::create(const QString &file, qint64 today)
{
    quint32 words[keyBytes / 4];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray bytes = contents(today, QByteArray(reinterpret_cast<const char *>(words), keyBytes));
    const int fd =
        ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw SaltSecretError(errno == EEXIST ? "the file exists already, and a salt secret is never overwritten"
                                              : reason(errno).toStdString());
    }
    int error = 0;
    if (::fchmod(fd, 0600) != 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
        ::fsync(fd) != 0)
        error = errno ? errno : EIO;
    ::close(fd);
    if (error) {
        ::unlink(QFile::encodeName(file).constData());
        throw SaltSecretError(reason(error).toStdString());
    }
}

std::optional<QByteArray> KeyFileSalts::salt(qint64 day)
{
    std::lock_guard lock(m_lock);
    if (day < m_forgottenBefore)
        return std::nullopt;
    if (day > m_day)
        moveTo(day);
    if (day == m_day)
        return mac(m_key, "salt");
    if (const auto found = m_kept.find(day); found != m_kept.end())
        return found->second;
    return std::nullopt;
}

std::optional<QByteArray> KeyFileSalts::keptSalt(qint64 day)
{
    std::lock_guard lock(m_lock);
    if (day < m_forgottenBefore)
        return std::nullopt;
    if (day == m_day)
        return mac(m_key, "salt");
    if (const auto found = m_kept.find(day); found != m_kept.end())
        return found->second;
    return std::nullopt;
}

void KeyFileSalts::forgetBefore(qint64 day)
{
    std::lock_guard lock(m_lock);
    m_forgottenBefore = std::max(m_forgottenBefore, day);
    if (day > m_day)
        moveTo(day);
    m_kept.erase(m_kept.begin(), m_kept.lower_bound(day));
}

qint64 KeyFileSalts::keyDay() const
{
    std::lock_guard lock(m_lock);
    return m_day;
}

void KeyFileSalts::moveTo(qint64 day)
{
    while (m_day < day) {
        if (m_day == day - 1 && m_day >= m_forgottenBefore)
            m_kept[m_day] = mac(m_key, "salt");
        m_key = mac(m_key, "next");
        ++m_day;
    }
    save();
}

void KeyFileSalts::save()
{
    if (const int error = replaceFile(m_file, contents(m_day, m_key))) {
        warnOnce(QStringLiteral("cannot write %1 (%2): it still holds the key of an earlier day, which gives that "
                                "day's salt")
                     .arg(m_file, reason(error)));
    }
}

void KeyFileSalts::warnOnce(const QString &message)
{
    if (m_warned || !m_warn)
        return;
    m_warned = true;
    m_warn(message);
}
