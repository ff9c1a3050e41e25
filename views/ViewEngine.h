#pragma once

class AppStore;
class QQmlEngine;

// Readies an engine for the pages of the QML module "Orvela" 1.0, which load from
// "qrc:/qt/qml/Orvela/": the module's import path, the "image://symbol" provider, and the store
// that the engine's `Store` and `Theme` singletons are made over. Call it before the engine
// loads a page; the store must outlive the engine.
void prepareViewEngine(QQmlEngine &engine, AppStore &store);

// The store the engine was prepared with; null when it was not.
AppStore *preparedStore(const QQmlEngine *engine);
