#include "ViewRegistration.h"

#include "DesktopActions.h"
#include "FaviconLoader.h"
#include "ImageItem.h"
#include "StoreBridge.h"
#include "SymbolImageProvider.h"
#include "TextRules.h"
#include "Theme.h"

#include <QQmlEngine>
#include <mutex>

namespace {

// Type registrations are global to the process while the instances belong to one engine:
// each engine finds its own among its children.
template <typename T>
void registerSingleton(const char *name)
{
    qmlRegisterSingletonType<T>("Orvela", 1, 0, name, [](QQmlEngine *engine, QJSEngine *) -> QObject * {
        T *instance = engine->findChild<T *>(QString(), Qt::FindDirectChildrenOnly);
        QJSEngine::setObjectOwnership(instance, QJSEngine::CppOwnership);
        return instance;
    });
}

}  // namespace

void registerViewTypes(QQmlEngine &engine, AppStore &store)
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        registerSingleton<StoreBridge>("Store");
        registerSingleton<TextRules>("TextRules");
        registerSingleton<Theme>("Theme");
        registerSingleton<DesktopActions>("Desktop");
        qmlRegisterType<FaviconLoader>("Orvela", 1, 0, "FaviconLoader");
        qmlRegisterType<ImageItem>("Orvela", 1, 0, "ImageItem");
    });
    new StoreBridge(store, &engine);
    new TextRules(&engine);
    new Theme(store, &engine);
    new DesktopActions(&engine);
    engine.addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
}
