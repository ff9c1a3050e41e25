#include "MenuBarController.h"

#include "AppStore.h"
#include "NumberText.h"
#include "PanelPlacement.h"
#include "TrayIcon.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScreen>

namespace {

// The screens, the primary first: a panel without an anchor is centred on that one.
QList<PanelPlacement::Screen> currentScreens()
{
    QList<PanelPlacement::Screen> screens;
    const QScreen *primary = QGuiApplication::primaryScreen();
    for (const QScreen *screen : QGuiApplication::screens()) {
        const PanelPlacement::Screen area{screen->geometry(), screen->availableGeometry()};
        screen == primary ? screens.prepend(area) : screens.append(area);
    }
    return screens;
}

}  // namespace

MenuBarController::MenuBarController(AppStore &store, ViewSetup viewSetup, QObject *parent)
    : QObject(parent),
      m_store(store),
      m_viewSetup(std::move(viewSetup))
{}

MenuBarController::~MenuBarController()
{
    // A window being destroyed still reports itself hidden: not to this half-destroyed object.
    if (m_panel) {
        disconnect(m_panel.get(), nullptr, this, nullptr);
        removeMonitors();
        m_panel.reset();
    }
    m_trayIcon.hide();
}

QString MenuBarController::titleText(std::optional<qint64> value)
{
    return u' ' + countText(value);
}

void MenuBarController::install()
{
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(QStringLiteral("Open Orvela"), this, &MenuBarController::handleClick);
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("Quit Orvela"), qApp, &QCoreApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    m_trayIcon.setContextMenu(m_menu.get());
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, &MenuBarController::handleActivation);

    updateStatusItem();
    observeStore();
    m_trayIcon.show();
}

PanelWindow &MenuBarController::panel()
{
    // Loaded on first use and kept: until the first opening, no page costs memory or work.
    if (!m_panel) {
        // Wayland does not let a client place its own window, nor grab the pointer for it.
        const bool popup = !QGuiApplication::platformName().startsWith(u"wayland");
        m_engine = std::make_unique<QQmlEngine>();
        if (m_viewSetup)
            m_viewSetup(*m_engine);
        m_panel = std::make_unique<PanelWindow>(m_engine.get(), popup);
        m_panel->onLayout = [this](double height) { applyHeight(height); };
        connect(m_panel.get(), &QWindow::visibleChanged, this, &MenuBarController::panelVisibilityChanged);
        connect(m_panel.get(), &PanelWindow::escapeNotTaken, this, &MenuBarController::closePanel,
                Qt::QueuedConnection);
        m_panel->load();
    }
    return *m_panel;
}

void MenuBarController::observeStore()
{
    // Everything menuBarSignature is built from. The appearance is the root view's to apply:
    // it binds to it.
    for (auto changed : {&AppStore::selectedWebsiteIDChanged, &AppStore::menuBarMetricChanged,
                         &AppStore::snapshotsChanged, &AppStore::websitesChanged})
        connect(&m_store, changed, this, &MenuBarController::scheduleUpdate);
}

void MenuBarController::scheduleUpdate()
{
    // Queued: the store finishes its change before anything here reads it, and a burst of
    // changes costs one update.
    if (m_updatePending)
        return;
    m_updatePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_updatePending = false;
            if (m_store.menuBarSignature() != m_appliedSignature)
                updateStatusItem();
        },
        Qt::QueuedConnection);
}

void MenuBarController::updateStatusItem()
{
    m_appliedSignature = m_store.menuBarSignature();
    const auto value = m_store.menuBarValue();
    m_title = titleText(value);
    m_toolTip = m_store.menuBarDescription();

    // A new icon makes tray hosts repaint: only when what it shows changes.
    const QString iconKey = value ? QStringLiteral("figure:") + TrayIcon::figureText(*value) : QStringLiteral("chart");
    if (iconKey != m_iconKey) {
        m_iconKey = iconKey;
        m_trayIcon.setIcon(TrayIcon::make(value));
    }
    if (m_trayIcon.toolTip() != m_toolTip)
        m_trayIcon.setToolTip(m_toolTip);
    emit statusItemChanged();
}

void MenuBarController::handleActivation(QSystemTrayIcon::ActivationReason reason)
{
    // The right button belongs to the context menu; a double click's first press toggled already.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick)
        handleClick();
}

void MenuBarController::handleClick()
{
    if (isPanelOpen()) {
        closePanel();
        return;
    }
    // The click on the icon that just closed the panel as an outside press.
    if (m_outsideClose.isValid() && !m_outsideClose.hasExpired(reopenGuardMilliseconds)) {
        m_outsideClose.invalidate();
        return;
    }
    showPanel();
}

void MenuBarController::showPanel()
{
    panel();
    if (isPanelOpen()) {
        m_panel->raise();
        m_panel->requestActivate();
        return;
    }
    m_store.refreshIfStale();

    m_anchor = m_panel->isPopup() ? iconAnchor() : std::nullopt;
    m_panel->setPosition(PanelPlacement::position(m_anchor, m_panel->size(), currentScreens()));
    m_panel->show();
    m_panel->raise();
    m_panel->requestActivate();
    installMonitors();
}

void MenuBarController::closePanel()
{
    if (m_panel && m_panel->isVisible())
        m_panel->hide();
    removeMonitors();
}

std::optional<QRect> MenuBarController::iconAnchor() const
{
    const QRect icon = m_trayIcon.geometry();
    if (icon.isValid() && !icon.isEmpty())
        return icon;
    // Hosts speaking StatusNotifierItem do not say where the icon is: the click was there.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return QRect(QCursor::pos(), QSize(1, 1));
    return std::nullopt;
}

void MenuBarController::applyHeight(double height)
{
    const auto applied = PanelPlacement::heightToApply(height, m_appliedHeight);
    if (!applied || !m_panel)
        return;
    m_appliedHeight = *applied;
    const int pixels = PanelPlacement::pixelHeight(*applied);
    if (m_panel->isPopup() && m_panel->isVisible()) {
        // Placed again: a panel above the icon grows upwards, and it stays inside the screen.
        const QSize size(PanelPlacement::panelWidth, pixels);
        m_panel->setGeometry(QRect(PanelPlacement::position(m_anchor, size, currentScreens()), size));
    } else {
        m_panel->resize(PanelPlacement::panelWidth, pixels);
    }
}

void MenuBarController::panelVisibilityChanged(bool visible)
{
    // Every way of closing, the window manager's included, ends the grabs.
    if (!visible)
        removeMonitors();
    emit panelOpenChanged(visible);
}

void MenuBarController::installMonitors()
{
    if (!m_filterInstalled) {
        m_panel->installEventFilter(this);
        m_filterInstalled = true;
    }
    grabInput();
}

void MenuBarController::grabInput()
{
    // Qt does not grab for a popup QWindow; without the pointer grab a click elsewhere never
    // reaches us. A grab refused before the window is mapped is tried again on exposure.
    if (!m_panel->isPopup())
        return;
    if (!m_pointerGrabbed)
        m_pointerGrabbed = m_panel->setMouseGrabEnabled(true);
    if (!m_keyboardGrabbed)
        m_keyboardGrabbed = m_panel->setKeyboardGrabEnabled(true);
}

void MenuBarController::removeMonitors()
{
    if (m_pointerGrabbed) {
        m_panel->setMouseGrabEnabled(false);
        m_pointerGrabbed = false;
    }
    if (m_keyboardGrabbed) {
        m_panel->setKeyboardGrabEnabled(false);
        m_keyboardGrabbed = false;
    }
    if (m_filterInstalled) {
        m_panel->removeEventFilter(this);
        m_filterInstalled = false;
    }
}

bool MenuBarController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_panel.get())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (QRect(QPoint(), m_panel->size()).contains(press->position().toPoint()))
            return false;
        m_outsideClose.start();
        QMetaObject::invokeMethod(this, &MenuBarController::closePanel, Qt::QueuedConnection);
        return true;
    }
    case QEvent::KeyPress: {
        // Escape goes to the page first, which closes what it has open; the panel closes on
        // the Escapes it leaves (PanelWindow::escapeNotTaken). Shift+Escape closes it at once.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::ShiftModifier) {
            QMetaObject::invokeMethod(this, &MenuBarController::closePanel, Qt::QueuedConnection);
            return true;
        }
        if (key->matches(QKeySequence::Quit)) {
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
            return true;
        }
        return false;
    }
    case QEvent::Expose:
        if (m_panel->isVisible())
            grabInput();
        return false;
    default: return false;
    }
}
