#pragma once

// A real AppStore with stand-in collaborators, a QML engine with the pages' module, and an
// offscreen window that shows one page at a time, as the panel does.

#include "AppStore.h"
#include "IcuLocale.h"
#include "PersistedState.h"
#include "QmlValues.h"
#include "StoreFakes.h"
#include "ViewEngine.h"

#include <QDir>
#include <QGuiApplication>
#include <QNetworkProxy>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <memory>
#include <variant>

// Requests to this machine go straight there; all others (website icons) to a port where
// nothing listens, so each ends at once and nothing leaves the machine.
class LoopbackOnlyProxies : public QNetworkProxyFactory
{
public:
    explicit LoopbackOnlyProxies(quint16 deadPort) : m_deadPort(deadPort) {}
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const QString host = query.peerHostName();
        if (host == u"localhost" || QHostAddress(host).isLoopback())
            return {QNetworkProxy::NoProxy};
        return {QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", m_deadPort)};
    }

private:
    quint16 m_deadPort;
};

// Once per process, before the first window: software rendering, the user's language for ICU,
// and the proxies above.
inline void preparePageProcess()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    useSystemLocaleForIcu();
    QTcpServer probe;  // closed again on return
    probe.listen(QHostAddress::LocalHost);
    QNetworkProxyFactory::setApplicationProxyFactory(new LoopbackOnlyProxies(probe.serverPort()));
}

inline Website testWebsite(const QString &domain, const QString &displayName = {},
                           std::optional<QString> dashboard = std::nullopt)
{
    return {QUuid::createUuid(), displayName, domain, std::move(dashboard)};
}

// The websites with the first one selected.
inline PersistedState withWebsites(const QList<Website> &websites, const QList<StoredSnapshot> &snapshots = {})
{
    return {.websites = websites, .selectedWebsiteID = websites.first().id, .snapshots = snapshots};
}

// Figures for a page: 24 hours, nine countries (two without visitors) and three visitors,
// refreshed two minutes ago.
inline AnalyticsSnapshot testSnapshot()
{
    static const int visitorsPerHour[24] = {3,  1,  0,  0,  2,  5,  9,  14, 22, 31, 28, 35,
                                            41, 38, 30, 27, 33, 45, 52, 40, 26, 18, 9,  6};
    const Instant now = Instant::now();
    const double hourStart = std::floor(now.unixSeconds() / 3600) * 3600;
    AnalyticsSnapshot snapshot{.liveVisitors = 1234,
                               .visitorsToday = 5678,
                               .pageViewsToday = 12345,
                               .hourlyVisitors = QList<HourlyVisitorCount>(),
                               .refreshedAt = now.addingSeconds(-120),
                               .trackingInstalled = true};
    for (int hour = 0; hour < 24; ++hour)
        snapshot.hourlyVisitors->append(
            {Instant::fromUnixSeconds(hourStart - (23 - hour) * 3600.0), visitorsPerHour[hour]});
    snapshot.countries = {{"de", 120}, {" us ", 96}, {"GB", 0}, {"FR", 41}, {"IT", -1},
                          {"nl", 12},  {"XK", 9},    {"se", 4}, {"ch", 2}};
    const QStringList clicks{"Start trial", "Docs", "Pricing", "Blog"};
    snapshot.recentVisitors = {
        {"v1", "DE", "https://www.Google.com/search?q=x", {"/pricing", "/docs", "/signup"}, clicks, 3660, now},
        {"v2", "us", "", {"/"}, {}, 45, now},
        {"v3", "ABC", "newsletter", {}, {}, 7259, now}};
    return snapshot;
}

// Values for PageHarness::expect that ask whether an item is shown rather than what it says.
inline const QVariant visible = true, hidden = false;

// Compares what the page shows with a table; returns from the test at the first mismatch.
#define EXPECT_PAGE(harness, ...)                                                                                      \
    do {                                                                                                               \
        if (!(harness).expect(__VA_ARGS__, __FILE__, __LINE__))                                                        \
            return;                                                                                                    \
    } while (false)

class PageHarness
{
public:
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<FakeCredentialStore> keychain = std::make_shared<FakeCredentialStore>();
    TestDefaults defaults;
    bool keepExample = false;     // the store starts without the example website unless set
    bool realSyncClient = false;  // the service's own sync client instead of a fake one
    std::unique_ptr<AppStore> store;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;
    QQuickItem *page = nullptr;

    ~PageHarness()
    {
        delete page;
        window.reset();
        engine.reset();
        store.reset();
        settle();
    }

    // Starts the store from the state and shows qrc:/qt/qml/Orvela/<file>, 320 wide; the window
    // follows the page's height, as the panel does.
    QQuickItem *open(const QString &file, const PersistedState &state = {}, const QVariantMap &properties = {})
    {
        if (!keepExample)
            defaults.settings->setValue(QString::fromUtf16(AppStore::dismissedExampleKey), true);
        if (!state.websites.isEmpty())
            defaults.settings->setValue(QString::fromUtf16(AppStore::storageKey), state.encode());
        store = std::make_unique<AppStore>(provider, keychain,
                                           realSyncClient ? nullptr : std::make_shared<FakeSyncClient>(),
                                           defaults.settings, false);
        engine = std::make_unique<QQmlEngine>();
        prepareViewEngine(*engine, *store);
        QQmlComponent component(engine.get(), QUrl("qrc:/qt/qml/Orvela/" + file));
        page = qobject_cast<QQuickItem *>(component.createWithInitialProperties(properties));
        if (!page)
            qFatal("%s", qPrintable(component.errorString()));
        window = std::make_unique<QQuickWindow>();
        window->resize(320, 200);
        window->show();
        window->requestActivate();
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the page's window never became active");
        page->setParentItem(window->contentItem());
        page->setWidth(320);
        QObject::connect(page, &QQuickItem::implicitHeightChanged, page, [this] { fitWindow(); });
        settleFrame();
        return page;
    }

    // Items are searched in the tree of visual items (a Repeater's or Loader's items are not
    // QObject children of the page), in tree order; "a/b" is the first b inside the first a.
    QList<QQuickItem *> items(const QString &name, QQuickItem *under = nullptr, bool visibleOnly = true) const
    {
        QList<QQuickItem *> found;
        for (QQuickItem *child : (under ? under : page)->childItems()) {
            if (child->objectName() == name && (!visibleOnly || child->isVisible()))
                found.append(child);
            found += items(name, child, visibleOnly);
        }
        return found;
    }
    QQuickItem *find(const QString &path, QQuickItem *under = nullptr) const
    {
        for (const QString &name : path.split(u'/'))
            if (!(under = items(name, under, false).value(0)))
                return nullptr;
        return under;
    }
    // As find, but a missing item ends the test.
    QQuickItem *item(const QString &path, QQuickItem *under = nullptr) const
    {
        if (QQuickItem *found = find(path, under))
            return found;
        qFatal("no item %s on the page", qPrintable(path));
    }
    QString text(const QString &path, QQuickItem *under = nullptr) const
    {
        return item(path, under)->property("text").toString();
    }
    // The tracking snippet as shown, its line breaks read as the spaces they stand for.
    QString shownSnippet() const { return text("snippetText").replace(u'\n', u' '); }
    bool shown(const QString &path) const
    {
        const QQuickItem *found = find(path);
        return found && found->isVisible() && found->width() > 0 && found->height() > 0;
    }
    // Each item's text, or with `visible`/`hidden` whether it is shown; a mismatch names the item.
    bool expect(const QList<std::pair<QString, QVariant>> &table, const char *file, int line) const
    {
        for (const auto &[path, value] : table) {
            const QByteArray what = path.toUtf8();
            if (value.typeId() == QMetaType::Bool
                    ? !QTest::qCompare(shown(path), value.toBool(), what + " shown", "expected", file, line)
                    : !QTest::qCompare(text(path), value.toString(), what, "expected", file, line))
                return false;
        }
        return true;
    }

    void click(const QString &path) { click(item(path)); }
    void click(QQuickItem *target)
    {
        settleFrame();
        if (!target->isVisible())
            qFatal("clicking %s, which is not shown", qPrintable(target->objectName()));
        QTest::mouseClick(window.get(), Qt::LeftButton, Qt::NoModifier, centre(target));
        settle();
    }
    // Points at the item, or with none at the window's corner, away from every control.
    void hover(QQuickItem *target = nullptr)
    {
        settleFrame();
        QTest::mouseMove(window.get(), target ? centre(target) : QPoint(2, 2));
        settle();
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window.get(), key, modifiers);
        settle();
    }
    void typeInto(const QString &path, const QString &text)
    {
        item(path)->forceActiveFocus(Qt::TabFocusReason);
        for (const QChar character : text)
            QTest::keyClick(window.get(), character.toLatin1());
        settle();
    }
    // The names of the items Tab visits, starting with the named one.
    QStringList tabOrder(const QString &first, int stops)
    {
        item(first)->forceActiveFocus(Qt::TabFocusReason);
        QStringList order;
        for (int stop = 0; stop < stops; ++stop, key(Qt::Key_Tab))
            order.append(window->activeFocusItem()->objectName());
        return order;
    }
    // The panel closes on an Escape the page leaves; a page takes it only to close what it has
    // open, such as a menu.
    bool takesEscape()
    {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QGuiApplication::sendEvent(window.get(), &escape);
        return escape.isAccepted();
    }

    static QRectF sceneRect(const QQuickItem *target)
    {
        return target->mapRectToScene(QRectF(0, 0, target->width(), target->height()));
    }
    // The popups open over the page: menus, tooltips.
    QList<QQuickItem *> openPopups() const
    {
        QList<QQuickItem *> open;
        for (QQuickItem *layer : window->contentItem()->childItems())
            if (layer->inherits("QQuickOverlay"))
                for (QQuickItem *popup : layer->childItems())
                    if (popup->isVisible())
                        open.append(popup);
        return open;
    }
    // The window as drawn now.
    QImage grab()
    {
        settleFrame();
        return window->grabWindow();
    }

    // Leaves a picture of the page, light and dark, for a reviewer who does not run the app.
    void screenshots(const QString &name)
    {
        const PanelAppearance kept = store->panelAppearance();
        const QDir directory(QStringLiteral(ORVELA_SCREENSHOT_DIR));
        directory.mkpath(QStringLiteral("."));
        for (const PanelAppearance appearance : {PanelAppearance::light, PanelAppearance::dark}) {
            store->setPanelAppearance(appearance);
            settleFrame();
            const QString file =
                directory.filePath(name + u'-' + PanelAppearances::rawValue(appearance) + QStringLiteral(".png"));
            if (!window->grabWindow().save(file))
                qFatal("could not save %s", qPrintable(file));
        }
        store->setPanelAppearance(kept);
        settleFrame();
    }

    // Runs a refresh of the selected website that succeeds with the snapshot or fails.
    void refresh(const std::variant<AnalyticsSnapshot, AnalyticsFailure> &outcome)
    {
        const int index = int(provider->fetches.size());
        store->refreshNow();
        settle();
        if (const auto *snapshot = std::get_if<AnalyticsSnapshot>(&outcome))
            provider->succeed(index, *snapshot);
        else
            provider->fail(index, std::get<AnalyticsFailure>(outcome));
    }

private:
    // Lets layouts and bindings settle, fits the window to the page and draws a frame.
    void settleFrame()
    {
        settle();
        fitWindow();
        QSignalSpy swapped(window.get(), &QQuickWindow::frameSwapped);
        window->update();
        swapped.wait(2000);
        settle();
    }
    void fitWindow()
    {
        const int height = std::max(1, int(std::ceil(page->implicitHeight())));
        page->setHeight(height);
        window->resize(320, height);
    }
    static QPoint centre(QQuickItem *target)
    {
        return target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint();
    }
};
