#include "PageHarness.h"

#include "IcuLocale.h"
#include "ViewRegistration.h"

#include <QDir>
#include <QNetworkProxy>
#include <QQmlComponent>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

void PageHarness::prepareProcess()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    useSystemLocaleForIcu();
    // Website icons are looked up on the network: send every request to a port where nothing
    // listens, so each ends at once and the globe stays.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 closedPort = probe.serverPort();
    probe.close();
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), closedPort));
}

PageHarness::PageHarness() = default;

PageHarness::~PageHarness()
{
    delete page;
    window.reset();
    engine.reset();
    store.reset();
    settle();
}

void PageHarness::startStore(const PersistedState &state, bool keepExample)
{
    if (!keepExample)
        defaults.settings->setValue(QString::fromUtf16(AppStore::dismissedExampleKey), true);
    if (!state.websites.isEmpty())
        defaults.settings->setValue(QString::fromUtf16(AppStore::storageKey), state.encode());
    store = std::make_unique<AppStore>(provider, keychain, cloud, defaults.settings, false);
    engine = std::make_unique<QQmlEngine>();
    registerViewTypes(*engine, *store);
}

QQuickItem *PageHarness::load(const QString &file, const QVariantMap &properties)
{
    delete page;
    page = nullptr;
    QQmlComponent component(engine.get(), QUrl(QStringLiteral("qrc:/qt/qml/Orvela/") + file));
    QObject *object = component.createWithInitialProperties(properties);
    if (!object)
        qFatal("%s", qPrintable(component.errorString()));
    page = qobject_cast<QQuickItem *>(object);

    if (!window) {
        window = std::make_unique<QQuickWindow>();
        window->resize(320, 200);
        window->show();
        window->requestActivate();
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the page's window never became active");
    }
    page->setParentItem(window->contentItem());
    page->setWidth(320);
    // The panel follows its page's height.
    QObject::connect(page, &QQuickItem::implicitHeightChanged, page, [this] { fitWindow(); });
    settleFrame();
    return page;
}

namespace {

void collect(QQuickItem *item, const QString &objectName, bool onlyVisible, bool first, QList<QQuickItem *> &found)
{
    for (QQuickItem *child : item->childItems()) {
        if (first && !found.isEmpty())
            return;
        if (child->objectName() == objectName && (!onlyVisible || child->isVisible()))
            found.append(child);
        collect(child, objectName, onlyVisible, first, found);
    }
}

}  // namespace

QQuickItem *PageHarness::find(const QString &objectName, QQuickItem *under) const
{
    QList<QQuickItem *> found;
    collect(under ? under : page, objectName, false, true, found);
    return found.isEmpty() ? nullptr : found.first();
}

QQuickItem *PageHarness::item(const QString &objectName, QQuickItem *under) const
{
    QQuickItem *found = find(objectName, under);
    if (!found)
        qFatal("no item named %s on the page", qPrintable(objectName));
    return found;
}

QString PageHarness::text(const QString &objectName, QQuickItem *under) const
{
    return item(objectName, under)->property("text").toString();
}

bool PageHarness::shown(const QString &objectName) const
{
    const QQuickItem *found = find(objectName);
    return found && found->isVisible() && found->width() > 0 && found->height() > 0;
}

QList<QQuickItem *> PageHarness::items(const QString &objectName, QQuickItem *under) const
{
    QList<QQuickItem *> found;
    collect(under ? under : page, objectName, true, false, found);
    return found;
}

void PageHarness::click(QQuickItem *target)
{
    settleFrame();
    if (!target->isVisible())
        qFatal("clicking %s, which is not shown", qPrintable(target->objectName()));
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window.get(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    settle();
}

void PageHarness::hover(QQuickItem *target)
{
    settleFrame();
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseMove(window.get(), centre.toPoint());
    settle();
}

void PageHarness::hoverAway()
{
    QTest::mouseMove(window.get(), QPoint(2, 2));
    settle();
}

void PageHarness::key(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(window.get(), key, modifiers);
    settle();
}

void PageHarness::typeInto(const QString &objectName, const QString &text)
{
    item(objectName)->forceActiveFocus(Qt::TabFocusReason);
    for (const QChar character : text)
        QTest::keyClick(window.get(), character.toLatin1());
    settle();
}

void PageHarness::fitWindow()
{
    const int height = std::max(1, int(std::ceil(page->implicitHeight())));
    page->setHeight(height);
    if (window->height() != height)
        window->resize(320, height);
}

void PageHarness::settleFrame()
{
    settle();
    fitWindow();
    QSignalSpy swapped(window.get(), &QQuickWindow::frameSwapped);
    window->update();
    swapped.wait(2000);
    settle();
}

void PageHarness::screenshots(const QString &name)
{
    const PanelAppearance kept = store->panelAppearance();
    const QDir directory(QStringLiteral(ORVELA_SCREENSHOT_DIR));
    directory.mkpath(QStringLiteral("."));
    for (const PanelAppearance appearance : {PanelAppearance::light, PanelAppearance::dark}) {
        store->setPanelAppearance(appearance);
        settleFrame();
        const QImage image = window->grabWindow();
        const QString file = directory.filePath(name + u'-' + PanelAppearances::rawValue(appearance) + QStringLiteral(".png"));
        if (image.isNull() || !image.save(file))
            qFatal("could not save %s", qPrintable(file));
    }
    store->setPanelAppearance(kept);
    settleFrame();
}

void PageHarness::refreshWith(const AnalyticsSnapshot &snapshot)
{
    const int index = int(provider->fetches.size());
    store->refreshNow();
    settle();
    provider->succeed(index, snapshot);
    settle();
}

void PageHarness::refreshFailing(AnalyticsFailure failure)
{
    const int index = int(provider->fetches.size());
    store->refreshNow();
    settle();
    provider->fail(index, failure);
    settle();
}

Website testWebsite(const QString &domain, const QString &displayName, std::optional<QString> dashboard)
{
    return {QUuid::createUuid(), displayName, domain, std::move(dashboard)};
}

AnalyticsSnapshot testSnapshot(bool trackingInstalled)
{
    static const int visitorsPerHour[24] = {3, 1, 0, 0, 2, 5, 9, 14, 22, 31, 28, 35,
                                            41, 38, 30, 27, 33, 45, 52, 40, 26, 18, 9, 6};
    const Instant now = Instant::now();
    const double hourStart = std::floor(now.unixSeconds() / 3600) * 3600;
    AnalyticsSnapshot snapshot;
    snapshot.liveVisitors = 1234;
    snapshot.visitorsToday = 5678;
    snapshot.pageViewsToday = 12345;
    snapshot.refreshedAt = now.addingSeconds(-120);
    snapshot.trackingInstalled = trackingInstalled;
    QList<HourlyVisitorCount> hours;
    for (int hour = 0; hour < 24; ++hour)
        hours.append({Instant::fromUnixSeconds(hourStart - (23 - hour) * 3600.0), visitorsPerHour[hour]});
    snapshot.hourlyVisitors = hours;
    snapshot.countries = {{"de", 120}, {" us ", 96}, {"GB", 0}, {"FR", 41}, {"nl", 12}, {"XK", 9}, {"se", 4}, {"ch", 2}};
    snapshot.recentVisitors = {
        {"v1", "DE", "https://www.Google.com/search?q=x", {"/pricing", "/docs", "/signup"}, {"Start trial", "Docs", "Pricing", "Blog"}, 3660, now},
        {"v2", "us", "", {"/"}, {}, 45, now},
        {"v3", "ABC", "newsletter", {}, {}, 7259, now},
    };
    return snapshot;
}
