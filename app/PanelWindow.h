#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QQuickView>
#include <functional>

// The window that hosts PopoverRootView. On X11 it is a frameless popup (no taskbar entry, no
// decoration, placed by us); where the display server places windows itself (Wayland) it is
// an ordinary window. It reports the height its content wants after every change, and asks to
// be closed by an Escape that the page did not take for itself (an open menu takes it).
class PanelWindow : public QQuickView
{
    Q_OBJECT
public:
    static inline const QUrl rootViewURL{QStringLiteral("qrc:/qt/qml/Orvela/PopoverRootView.qml")};

    PanelWindow(QQmlEngine *engine, bool asPopup);

    bool isPopup() const { return m_popup; }
    // Called with the content's implicit height whenever it changes.
    std::function<void(double)> onLayout;

    // Loads the root view; false, with the QML errors logged (orvela.panel), when it cannot be loaded.
    bool load();

signals:
    void escapeNotTaken();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void reportLayout();

    bool m_popup;
    QPointer<QQuickItem> m_root;
};
