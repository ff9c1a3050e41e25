#pragma once

class AppStore;
class QQmlEngine;

// Makes the pages' module "Orvela" 1.0 available to the engine: the singletons `Store` (the
// store's bridge), `TextRules`, `Theme` and `Desktop`, the types `FaviconLoader` and
// `ImageItem`, and the "image://symbol" provider. The pages themselves are loaded from
// "qrc:/qt/qml/Orvela/". The store must outlive the engine.
void registerViewTypes(QQmlEngine &engine, AppStore &store);
