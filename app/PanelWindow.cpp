#include "PanelWindow.h"

#include "PanelPlacement.h"

#include <QKeyEvent>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPanel, "orvela.panel")

PanelWindow::PanelWindow(QQmlEngine *engine, bool asPopup) : QQuickView(engine, nullptr), m_popup(asPopup)
{
    setFlags(asPopup ? Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint : Qt::Window);
    setTitle(QStringLiteral("Orvela"));
    setResizeMode(QQuickView::SizeRootObjectToView);
    resize(PanelPlacement::panelWidth, 120);
    if (!asPopup) {
        setMinimumWidth(PanelPlacement::panelWidth);
        setMaximumWidth(PanelPlacement::panelWidth);
    }
}

bool PanelWindow::load()
{
    setSource(rootViewURL);
    m_root = rootObject();
    if (!m_root) {
        for (const auto &error : errors())
            qCWarning(lcPanel).noquote() << error.toString();
        return false;
    }
    connect(m_root, &QQuickItem::implicitHeightChanged, this, &PanelWindow::reportLayout);
    reportLayout();
    return true;
}

void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    QQuickView::keyPressEvent(event);
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && !event->isAccepted()) {
        event->accept();
        emit escapeNotTaken();
    }
}

void PanelWindow::reportLayout()
{
    if (m_root && onLayout)
        onLayout(m_root->implicitHeight());
}
