#include "DataFolderLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

DataFolderLock::DataFolderLock(const QString &folder)
{
    const QString shown = QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath());
    const int fd = ::open(QFile::encodeName(fileName(folder)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_problem = QStringLiteral("orvela-server: cannot lock the data folder %1: %2\n")
                        .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char text[32] = {};
        const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
        ::close(fd);
        bool ok = false;
        const qint64 pid = QByteArray(text, length > 0 ? qsizetype(length) : 0).trimmed().toLongLong(&ok);
        if (error != EWOULDBLOCK) {
            m_problem = QStringLiteral("orvela-server: cannot lock the data folder %1: %2\n")
                            .arg(shown, QString::fromLocal8Bit(std::strerror(error)));
        } else {
            m_problem = QStringLiteral("orvela-server: another orvela-server (%1) is serving the data folder %2; "
                                       "stop it first, or give this one another --data folder\n")
                            .arg(ok ? QStringLiteral("PID %1").arg(pid) : QStringLiteral("PID unknown"), shown);
        }
        return;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    // Only a second server's message needs the PID: the lock holds without it.
    [[maybe_unused]] const bool written =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    m_fd = fd;
}

DataFolderLock::~DataFolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString DataFolderLock::fileName(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("orvela-server.lock"));
}
