#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <optional>

namespace {

// "open" and, after a space, the hand-over as one line of JSON; a bare "open" hands over nothing.
const QByteArray openRequest = QByteArrayLiteral("open");
const QByteArray openReply = QByteArrayLiteral("ok\n");
// A request line longer than this is not from Orvela.
constexpr qint64 maxRequestBytes = 64 * 1024;

QByteArray requestLine(const QVariantMap &handOver)
{
    if (handOver.isEmpty())
        return openRequest + '\n';
    return openRequest + ' ' + QJsonDocument(QJsonObject::fromVariantMap(handOver)).toJson(QJsonDocument::Compact) +
        '\n';
}

// The hand-over of a request line, or none when the line is no request.
std::optional<QVariantMap> handOverFrom(QByteArray line)
{
    line = line.chopped(line.endsWith('\n') ? 1 : 0);
    if (line == openRequest)
        return QVariantMap();
    if (!line.startsWith(openRequest + ' '))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(line.mid(openRequest.size() + 1));
    if (!document.isObject())
        return std::nullopt;
    return document.object().toVariantMap();
}

}  // namespace

SingleInstance::SingleInstance(QString directory, QObject *parent) : QObject(parent), m_directory(std::move(directory))
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

SingleInstance::Role SingleInstance::claim(std::chrono::milliseconds wait, const QVariantMap &handOver)
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
            socket.write(requestLine(handOver));
            socket.flush();
            while (!socket.canReadLine() &&
                   socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)))) {}
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
                const auto handOver = handOverFrom(socket->readLine(maxRequestBytes + 1));
                if (!handOver)
                    continue;
                emit activationRequested(*handOver);
                socket->write(openReply);
                socket->flush();
            }
            // Nothing legitimate sends more than one line of this size.
            if (socket->bytesAvailable() > maxRequestBytes)
                socket->abort();
        });
    }
}
