#pragma once

#include <QObject>
#include <functional>

// Reduces the system's network reachability to one bool and hands it to the store on the
// main thread. Without a reachability backend it reports nothing, and the store stays online.
class LinkMonitor : public QObject
{
    Q_OBJECT
public:
    explicit LinkMonitor(QObject *parent = nullptr);

    std::function<void(bool isOnline)> onUpdate;

    // Loads a backend, reports the current state once and every change after it.
    void start();
    // Ends all reports for good.
    void cancel();

    // Off: every monitor behaves as on a machine without a backend, so the store stays online.
    // For tests of the store's own logic, whose outcome must not depend on this machine's link.
    static void setSystemReachabilityUsed(bool used);

private:
    void report();

    bool m_running = false;
    bool m_cancelled = false;
    QMetaObject::Connection m_connection;
};
