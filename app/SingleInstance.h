#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <chrono>
#include <memory>

// One Orvela per user session. The first process holds a lock file and listens on a local
// socket beside it (only the user can connect); a later one finds the lock held, hands the first
// what it was started with, asks it to open its panel, and ends. The lock, not the socket, decides who is first: a
// socket file left by a crashed process proves nothing, and two processes started together cannot both win.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        primary,    // this process runs Orvela
        handedOff,  // the running instance took the hand-over and was asked to open its panel
        failed,     // another instance holds the lock but did not answer
    };

    // `directory`: where the lock and the socket live; the user's runtime directory by default.
    explicit SingleInstance(QString directory = defaultDirectory(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Blocks for at most `wait` when another instance runs (it may still be starting).
    // `handOver`: text values for the running instance, which receives them with the request.
    Role claim(std::chrono::milliseconds wait = std::chrono::seconds(5), const QVariantMap &handOver = {});

    QString socketPath() const;
    static QString defaultDirectory();

signals:
    // Another launch asked for the panel, handing over these values.
    void activationRequested(const QVariantMap &handedOver);

private:
    void acceptConnections();

    QString m_directory;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
