#include "Theme.h"

#include "AppStore.h"
#include "ViewEngine.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

Theme::Theme(AppStore &store, QObject *parent) : QObject(parent), m_store(store)
{
    connect(&store, &AppStore::panelAppearanceChanged, this, &Theme::update);
    // The desktop switching between light and dark reaches the application as a new palette.
    qApp->installEventFilter(this);
    m_dark = wantsDark();
}

Theme *Theme::create(QQmlEngine *engine, QJSEngine *)
{
    AppStore *store = preparedStore(engine);
    if (!store)
        qFatal("the QML engine was not prepared with a store (prepareViewEngine)");
    return new Theme(*store);
}

bool Theme::isDarkWindowColor(const QColor &window)
{
    return window.lightnessF() < 0.5;
}

QString Theme::monospaceFamily() const
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

bool Theme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        update();
    return QObject::eventFilter(watched, event);
}

bool Theme::wantsDark() const
{
    switch (m_store.panelAppearance()) {
    case PanelAppearance::light: return false;
    case PanelAppearance::dark: return true;
    case PanelAppearance::system: break;
    }
    return isDarkWindowColor(QGuiApplication::palette().color(QPalette::Window));
}

void Theme::update()
{
    const bool dark = wantsDark();
    if (dark == m_dark)
        return;
    m_dark = dark;
    emit changed();
}
