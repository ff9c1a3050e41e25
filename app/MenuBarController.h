#pragma once

#include "PanelWindow.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

class AppStore;
class QQmlEngine;

// Everything of Orvela outside the panel's pages: the tray icon with the shown figure and its
// tooltip, the context menu, and the panel window that opens under the icon and closes on a
// second click, a click elsewhere, or Escape.
class MenuBarController : public QObject
{
    Q_OBJECT
    // The text a menu bar would show beside the icon: one space, then the figure or "—".
    // A tray icon carries no text, so it is kept here for tests and assistive technology.
    Q_PROPERTY(QString title READ title NOTIFY statusItemChanged)
    Q_PROPERTY(QString toolTip READ toolTip NOTIFY statusItemChanged)
    Q_PROPERTY(bool panelOpen READ isPanelOpen NOTIFY panelOpenChanged)

public:
    // Registers what the pages need with the panel's QML engine.
    using ViewSetup = std::function<void(QQmlEngine &)>;

    // An activation that follows an outside-press close this soon is the same click.
    static constexpr qint64 reopenGuardMilliseconds = 300;

    MenuBarController(AppStore &store, ViewSetup viewSetup, QObject *parent = nullptr);
    ~MenuBarController() override;

    // Shows the icon and its menu; once, right after construction.
    void install();

    static QString titleText(std::optional<qint64> value);

    QString title() const { return m_title; }
    QString toolTip() const { return m_toolTip; }
    bool isPanelOpen() const { return m_panel && m_panel->isVisible(); }
    bool monitorsInstalled() const { return m_filterInstalled; }
    QSystemTrayIcon &trayIcon() { return m_trayIcon; }
    const QSystemTrayIcon &trayIcon() const { return m_trayIcon; }
    // The panel window with the root view, loaded on first use.
    PanelWindow &panel();
    // The panel window when it was loaded, else null.
    const PanelWindow *existingPanel() const { return m_panel.get(); }
    // Whether the open panel holds the pointer and the keyboard, as a popup must.
    bool holdsInputGrabs() const { return m_pointerGrabbed && m_keyboardGrabbed; }

    void handleActivation(QSystemTrayIcon::ActivationReason reason);
    void handleClick();
    void showPanel();
    void closePanel();
    void applyHeight(double height);

signals:
    void statusItemChanged();
    void panelOpenChanged(bool open);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void observeStore();
    void scheduleUpdate();
    void updateStatusItem();
    void installMonitors();
    void removeMonitors();
    void grabInput();
    void panelVisibilityChanged(bool visible);
    std::optional<QRect> iconAnchor() const;

    AppStore &m_store;
    ViewSetup m_viewSetup;
    QSystemTrayIcon m_trayIcon;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<PanelWindow> m_panel;

    QString m_title;
    QString m_toolTip;
    std::optional<QString> m_appliedSignature;
    QString m_iconKey;  // what the current icon shows; empty before the first
    bool m_updatePending = false;

    double m_appliedHeight = 0;
    std::optional<QRect> m_anchor;  // where the open panel was placed from
    bool m_filterInstalled = false;
    bool m_pointerGrabbed = false;
    bool m_keyboardGrabbed = false;
    QElapsedTimer m_outsideClose;
};
