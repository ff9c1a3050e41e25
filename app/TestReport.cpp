#include "TestReport.h"

#include "AppStore.h"
#include "MenuBarController.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QSaveFile>
#include <QTimer>

namespace {

QJsonObject rectJson(const QRect &rect)
{
    return {{"x", rect.x()}, {"y", rect.y()}, {"width", rect.width()}, {"height", rect.height()}};
}

}  // namespace

TestReport::TestReport(QString path, AppStore &store, MenuBarController &menuBar, QObject *parent)
    : QObject(parent),
      m_path(std::move(path)),
      m_store(store),
      m_menuBar(menuBar)
{
    connect(&menuBar, &MenuBarController::statusItemChanged, this, &TestReport::write);
    connect(&menuBar, &MenuBarController::panelOpenChanged, this, [this] {
        watchPanel();
        write();
    });
    connect(&store, &AppStore::cloudSyncStatusChanged, this, &TestReport::schedule);
    write();
}

void TestReport::watchPanel()
{
    if (m_watchingPanel)
        return;
    m_watchingPanel = true;
    // Where the pages' controls are after each frame, for the end-to-end test to click.
    PanelWindow &panel = m_menuBar.panel();
    connect(&panel, &QQuickWindow::frameSwapped, this, &TestReport::schedule);
    connect(&panel, &QWindow::heightChanged, this, &TestReport::write);
}

void TestReport::write() const
{
    const PanelWindow *panel = m_menuBar.existingPanel();
    QJsonObject items;
    if (panel && panel->isVisible() && panel->rootObject()) {
        const QPoint origin = panel->position();
        QList<QQuickItem *> pending{panel->rootObject()};
        while (!pending.isEmpty()) {
            QQuickItem *item = pending.takeFirst();
            if (!item->isVisible())
                continue;
            if (!item->objectName().isEmpty() && !items.contains(item->objectName()))
                items.insert(item->objectName(),
                             rectJson(item->mapRectToScene(item->boundingRect()).toRect().translated(origin)));
            pending += item->childItems();
        }
    }
    QJsonObject report{
        {"items", items},
        {"syncStatus", m_store.cloudSyncStatus().value_or(QString())},
        {"title", m_menuBar.title()},
        {"toolTip", m_menuBar.toolTip()},
        {"trayAvailable", QSystemTrayIcon::isSystemTrayAvailable()},
        {"icon", rectJson(m_menuBar.trayIcon().geometry())},
        {"panelOpen", m_menuBar.isPanelOpen()},
        {"panel", panel ? rectJson(panel->geometry()) : QJsonObject()},
        {"grabs", m_menuBar.holdsInputGrabs()},
    };
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(report).toJson());
        file.commit();
    }
}

void TestReport::schedule()
{
    if (m_pending)
        return;
    m_pending = true;
    QTimer::singleShot(100, this, [this] {
        m_pending = false;
        write();
    });
}
