#pragma once

// A real AppStore with stand-in collaborators, a QML engine with the pages' module, and an
// offscreen window that shows one page at a time, as the panel does.

#include "AppStore.h"
#include "PersistedState.h"
#include "StoreFakes.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QVariantMap>
#include <memory>

class PageHarness
{
public:
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<FakeCredentialStore> keychain = std::make_shared<FakeCredentialStore>();
    std::shared_ptr<FakeSyncClient> cloud = std::make_shared<FakeSyncClient>();
    TestDefaults defaults;
    std::unique_ptr<AppStore> store;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;
    QQuickItem *page = nullptr;

    // Once per process, before the first window: software rendering, no network for icons,
    // the user's language for ICU.
    static void prepareProcess();

    PageHarness();
    ~PageHarness();

    // Stores the document the store then starts from; without the example website unless
    // keepExample is set.
    void startStore(const PersistedState &state = {}, bool keepExample = false);
    // Loads qrc:/qt/qml/Orvela/<file> with the given properties into the window.
    QQuickItem *load(const QString &file, const QVariantMap &properties = {});

    // Items are found in the tree of visual items (Repeater's and Loader's items are not
    // QObject children of the page), under the page or the given item, in tree order.
    QQuickItem *find(const QString &objectName, QQuickItem *under = nullptr) const;
    // As find, but a missing item ends the test.
    QQuickItem *item(const QString &objectName, QQuickItem *under = nullptr) const;
    QString text(const QString &objectName, QQuickItem *under = nullptr) const;
    bool shown(const QString &objectName) const;
    // Every visible item of that name.
    QList<QQuickItem *> items(const QString &objectName, QQuickItem *under = nullptr) const;

    void click(QQuickItem *item);
    void click(const QString &objectName) { click(this->item(objectName)); }
    void hover(QQuickItem *item);
    void hoverAway();
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void typeInto(const QString &objectName, const QString &text);

    void fitWindow();
    // Lets layouts and bindings settle, fits the window to the page and draws a frame.
    void settleFrame();
    // Saves <name>-light.png and <name>-dark.png of the page as it is now, then restores the
    // appearance it had.
    void screenshots(const QString &name);

    // Runs a refresh of the selected website through the provider: it succeeds with the
    // snapshot, or fails with the failure.
    void refreshWith(const AnalyticsSnapshot &snapshot);
    void refreshFailing(AnalyticsFailure failure);
};

Website testWebsite(const QString &domain, const QString &displayName = {},
                    std::optional<QString> dashboard = std::nullopt);
// Figures for a page: 24 hours, a few countries and visitors, refreshed minutes ago.
AnalyticsSnapshot testSnapshot(bool trackingInstalled = true);
