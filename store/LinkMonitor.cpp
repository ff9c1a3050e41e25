#include "LinkMonitor.h"

#include <QNetworkInformation>
#include <QPointer>
#include <atomic>

namespace {
std::atomic<bool> systemReachabilityUsed{true};
}

LinkMonitor::LinkMonitor(QObject *parent) : QObject(parent) {}

void LinkMonitor::setSystemReachabilityUsed(bool used)
{
    systemReachabilityUsed = used;
}

void LinkMonitor::start()
{
    if (m_running || m_cancelled || !systemReachabilityUsed)
        return;
    // On Qt 6.4 the default backend is NetworkManager's, which needs the system bus.
    if (!QNetworkInformation::loadDefaultBackend() && !QNetworkInformation::loadBackendByName(u"glib"))
        return;
    auto *information = QNetworkInformation::instance();
    if (!information)
        return;
    m_running = true;
    m_connection = connect(information, &QNetworkInformation::reachabilityChanged, this, &LinkMonitor::report,
                           Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &LinkMonitor::report, Qt::QueuedConnection);
}

void LinkMonitor::cancel()
{
    m_cancelled = true;
    m_running = false;
    disconnect(m_connection);
}

void LinkMonitor::report()
{
    if (!m_running)
        return;
    auto *information = QNetworkInformation::instance();
    if (!information || !onUpdate)
        return;
    // Local and Site may still reach a server nearby, and Unknown means nobody knows.
    onUpdate(information->reachability() != QNetworkInformation::Reachability::Disconnected);
}
