#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray openRequest = QByteArrayLiteral("open\n");
const QByteArray openReply = QByteArrayLiteral("ok\n");

}  // namespace

SingleInstance::SingleInstance(QString directory, QObject *parent)
    : QObject(parent), m_directory(std::move(directory))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

QString SingleInstance::defaultDirectory()
{
    // XDG_RUNTIME_DIR belongs to one user session; Qt falls back to a private directory.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath() const
{
    return QDir(m_directory).filePath(QStringLiteral("orvela.socket"));
}

SingleInstance::Role SingleInstance::claim(std::chrono::milliseconds wait)
{
    QDir().mkpath(m_directory);
    m_lock = std::make_unique<QLockFile>(QDir(m_directory).filePath(QStringLiteral("orvela.lock")));
    // A lock whose process is gone is taken over; a live holder is never treated as stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        QLocalServer::removeServer(socketPath());
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        // Should listening fail, this is still the one instance; later launches say so.
        m_server.listen(socketPath());
        return Role::primary;
    }
    // A directory we cannot write to says nothing about other instances: run unguarded.
    if (m_lock->error() != QLockFile::LockFailedError) {
        m_lock.reset();
        return Role::primary;
    }
    m_lock.reset();

    // The holder may be between taking the lock and listening: try until the deadline.
    const QDeadlineTimer deadline(wait);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0)))) {
            socket.write(openRequest);
            socket.flush();
            while (!socket.canReadLine() && socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)))) {
            }
            if (socket.canReadLine() && socket.readLine() == openReply)
                return Role::handedOff;
        }
        if (deadline.hasExpired())
            return Role::failed;
        QThread::msleep(50);
    }
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() != openRequest)
                    continue;
                emit activationRequested();
                socket->write(openReply);
                socket->flush();
            }
            // Nothing legitimate sends more than one short line.
            if (socket->bytesAvailable() > 64)
                socket->abort();
        });
    }
}
