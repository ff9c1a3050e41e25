// The tray icon's title, tooltip and icon, and the panel's opening and closing, with the real
// root view and pages over a store on the store tests' fakes.
#include "MenuBarController.h"
#include "AppDelegate.h"
#include "BaseURL.h"
#include "StoreFakes.h"
#include "ViewEngine.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

namespace {

AnalyticsSnapshot figures(qint64 live, qint64 today, std::optional<qint64> week = {}, std::optional<qint64> month = {},
                          std::optional<qint64> allTime = {})
{
    return {.liveVisitors = live,
            .visitorsToday = today,
            .refreshedAt = Instant::fromUnixSeconds(1'750'000'000),
            .visitorsWeek = week,
            .visitorsMonth = month,
            .visitorsAllTime = allTime};
}

// The controller over a store with one website (or none), selected and showing `snapshot` when given.
struct Shell : StoreFixture {
    std::unique_ptr<AppStore> store;
    std::unique_ptr<MenuBarController> controller;

    explicit Shell(bool website = true, std::optional<AnalyticsSnapshot> snapshot = {},
                   MenuBarMetric metric = MenuBarMetric::live)
    {
        PersistedState state;
        if (website) {
            state.websites = {site("one")};
            state.selectedWebsiteID = state.websites.first().id;
            if (snapshot)
                state.snapshots = {{state.websites.first().id, *snapshot}};
        }
        storeState(state);
        defaults->settings->setValue("orvela.menuBarMetric", MenuBarMetrics::rawValue(metric));
        store = makeStore();
        controller = std::make_unique<MenuBarController>(
            *store, [this](QQmlEngine &engine) { prepareViewEngine(engine, *store); });
        controller->install();
    }

    QQuickItem *page() { return controller->panel().rootObject()->property("currentPage").value<QQuickItem *>(); }
    QQuickItem *item(const QString &name)
    {
        QQuickItem *found = controller->panel().rootObject()->findChild<QQuickItem *>(name);
        if (!found)
            qFatal("no item %s in the panel", qPrintable(name));
        return found;
    }
    bool websiteMenuOpen()
    {
        return item("websiteMenu")->findChild<QObject *>("websiteMenuPopup")->property("visible").toBool();
    }
    QString pageType()
    {
        return page() ? QString::fromLatin1(page()->metaObject()->className()).section(u'_', 0, 0) : QString();
    }
};

}  // namespace

class MenuBarControllerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        QCOMPARE(QLocale::system().name(), QStringLiteral("en_US"));
    }

    void titleAndTooltipFollowTheMetric()
    {
        using M = MenuBarMetric;
        const AnalyticsSnapshot all = figures(1234, 56, 700, 3000, 1'000'000), some = figures(1234, 56);
        const QString dash = QStringLiteral(" \u2014");
        const struct {
            MenuBarMetric metric;
            bool website;
            std::optional<AnalyticsSnapshot> snapshot;
            QString title, toolTip;
        } cases[] = {
            {M::live, true, all, " 1,234", "Orvela, 1,234 live visitors"},
            {M::today, true, all, " 56", "Orvela, 56 visitors today"},
            {M::week, true, all, " 700", "Orvela, 700 visitors this week"},
            {M::month, true, all, " 3,000", "Orvela, 3,000 visitors this month"},
            {M::allTime, true, all, " 1,000,000", "Orvela, 1,000,000 visitors all time"},
            {M::allTime, true, some, dash, "Orvela, visitors all time unavailable"},
            {M::live, true, std::nullopt, dash, "Orvela, live visitors unavailable"},  // not fetched yet
            {M::week, false, std::nullopt, dash, "Orvela, visitors this week unavailable"},
        };
        for (const auto &c : cases) {
            Shell shell(c.website, c.snapshot, c.metric);
            QCOMPARE(shell.controller->title(), c.title);
            QCOMPARE(shell.controller->toolTip(), c.toolTip);
            QCOMPARE(shell.controller->trayIcon().toolTip(), c.toolTip);
        }
    }

    void updatesAfterTheStoresChangeAndOnlyWhenTheTextChanges()
    {
        Shell shell(true, figures(1234, 56));
        MenuBarController &controller = *shell.controller;
        QSignalSpy updates(&controller, &MenuBarController::statusItemChanged);

        shell.store->setMenuBarMetric(MenuBarMetric::today);
        shell.store->setMenuBarMetric(MenuBarMetric::week);
        shell.store->setMenuBarMetric(MenuBarMetric::today);
        // Not from inside the store's change: the update is queued, and a burst costs one.
        QCOMPARE(controller.title(), QStringLiteral(" 1,234"));
        settle();
        QCOMPARE(controller.title(), QStringLiteral(" 56"));
        QCOMPARE(updates.count(), 1);

        // Changes that end where they began change nothing.
        shell.store->setMenuBarMetric(MenuBarMetric::week);
        shell.store->setMenuBarMetric(MenuBarMetric::today);
        settle();
        QCOMPARE(updates.count(), 1);

        shell.store->removeWebsite(*shell.store->selectedWebsiteID());
        settle();
        QCOMPARE(controller.title(), QStringLiteral(" \u2014"));
    }

    void theIconIsRedrawnOnlyWhenItsFigureChanges_data()
    {
        QTest::addColumn<qint64>("live");
        QTest::addColumn<qint64>("newLive");
        QTest::addColumn<bool>("showToday");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("redrawn");
        QTest::newRow("1.2k stays 1.2k") << qint64(1234) << qint64(1250) << false << " 1,250" << false;
        QTest::newRow("1.2k becomes 1.3k") << qint64(1234) << qint64(1334) << false << " 1,334" << true;
        QTest::newRow("another metric, the same figure") << qint64(56) << qint64(56) << true << " 56" << false;
        QTest::newRow("another metric, another figure") << qint64(57) << qint64(57) << true << " 56" << true;
    }

    void theIconIsRedrawnOnlyWhenItsFigureChanges()
    {
        QFETCH(qint64, live);
        QFETCH(qint64, newLive);
        QFETCH(bool, showToday);
        QFETCH(QString, title);
        QFETCH(bool, redrawn);
        Shell shell(true, figures(live, 56));
        const qint64 before = shell.controller->trayIcon().icon().cacheKey();
        if (newLive != live) {
            shell.store->refreshNow();
            shell.provider->succeed(0, figures(newLive, 56));
        }
        if (showToday)
            shell.store->setMenuBarMetric(MenuBarMetric::today);
        settle();
        QCOMPARE(shell.controller->title(), title);
        QCOMPARE(shell.controller->trayIcon().icon().cacheKey() != before, redrawn);
    }

    // The tray end-to-end test clicks the real icon; here, what X cannot easily show.
    void clicksAndKeysOpenAndCloseThePanel()
    {
        Shell shell;
        MenuBarController &controller = *shell.controller;
        PanelWindow &panel = controller.panel();
        controller.handleActivation(QSystemTrayIcon::MiddleClick);
        settle();
        QVERIFY(controller.isPanelOpen());
        QVERIFY(controller.monitorsInstalled());
        QCOMPARE(shell.provider->fetches.size(), 1);  // the selected site had no snapshot
        shell.provider->succeed(0, figures(5, 6));
        QCOMPARE(panel.rootObject()->width(), 320.0);
        QVERIFY(panel.flags().testFlag(Qt::Popup));
        controller.applyHeight(300.3);
        controller.applyHeight(300.7);  // 300.5 again
        QCOMPARE(panel.height(), 301);

        // The right button belongs to the context menu; a click closes, the next opens.
        controller.handleActivation(QSystemTrayIcon::Context);
        QVERIFY(controller.isPanelOpen());
        controller.handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(!controller.isPanelOpen());
        QVERIFY(!controller.monitorsInstalled());
        controller.handleActivation(QSystemTrayIcon::Trigger);
        QCOMPARE(shell.provider->fetches.size(), 1);  // fresh now: no second fetch

        // Other keys and a click inside leave it open. A press outside closes it, and the
        // tray's activation for that same click does not open it again.
        QTest::keyClick(&panel, Qt::Key_A);
        QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(10, 10));
        settle();
        QVERIFY(controller.isPanelOpen());
        QTest::mousePress(&panel, Qt::LeftButton, {}, QPoint(-30, -10));
        controller.handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(!controller.isPanelOpen());
        QVERIFY(!controller.monitorsInstalled());

        controller.showPanel();
        panel.hide();  // hidden any other way: the monitors go with it
        QVERIFY(!controller.monitorsInstalled());
    }

    // Escape closes the innermost open thing: the website menu, then the panel. Shift+Escape
    // closes the panel at once, and the panel reopens without the menu.
    void escapeClosesTheInnermostThing()
    {
        Shell shell(true, figures(3, 4));
        MenuBarController &controller = *shell.controller;
        PanelWindow &panel = controller.panel();
        const auto openMenu = [&] {
            controller.showPanel();
            QVERIFY(QTest::qWaitForWindowActive(&panel));
            QQuickItem *button = shell.item("websiteMenu");
            QTest::mouseClick(&panel, Qt::LeftButton, {},
                              button->mapToScene(QPointF(10, button->height() / 2)).toPoint());
            settle();
            QVERIFY(shell.websiteMenuOpen());
        };

        openMenu();
        QTest::keyClick(&panel, Qt::Key_Escape);
        settle();
        QVERIFY(!shell.websiteMenuOpen());
        QVERIFY(controller.isPanelOpen());
        QTest::keyClick(&panel, Qt::Key_Escape);
        settle();
        QVERIFY(!controller.isPanelOpen());

        openMenu();
        QTest::keyClick(&panel, Qt::Key_Escape, Qt::ShiftModifier);
        settle();
        QVERIFY(!controller.isPanelOpen());
        controller.showPanel();
        settle();
        QVERIFY(!shell.websiteMenuOpen());
        controller.closePanel();
    }

    void theRootViewNavigatesAndFollowsTheStore()
    {
        Shell shell(true, figures(3, 4));
        MenuBarController &controller = *shell.controller;
        QQuickItem *root = controller.panel().rootObject();
        QCOMPARE(shell.pageType(), QStringLiteral("DashboardView"));
        shell.store->removeWebsite(*shell.store->selectedWebsiteID());
        shell.store->setPanelAppearance(PanelAppearance::dark);
        settle();
        QCOMPARE(shell.pageType(), QStringLiteral("EmptyStateView"));
        QVERIFY(root->property("color").value<QColor>().lightness() < 100);
        QCOMPARE(controller.panel().color(), root->property("color").value<QColor>());

        // Each page's callback, and the page and editor's website ("" adds one) it leads to.
        const auto call = [&](const char *method, const QString &argument = {}) {
            const bool called = argument.isEmpty()
                ? QMetaObject::invokeMethod(shell.page(), method)
                : QMetaObject::invokeMethod(shell.page(), method, Q_ARG(QString, argument));
            return called ? shell.pageType() + u' ' + shell.page()->property("websiteID").toString() : QString();
        };
        QCOMPARE(call("connect"), QStringLiteral("WebsiteEditorView "));
        QCOMPARE(call("close"), QStringLiteral("EmptyStateView "));
        QCOMPARE(call("settings"), QStringLiteral("SettingsView "));
        QCOMPARE(call("edit", QStringLiteral("ABC")), QStringLiteral("WebsiteEditorView ABC"));
        QCOMPARE(call("close"), QStringLiteral("EmptyStateView "));

        // The page survives closing and reopening the panel.
        root->setProperty("page", QStringLiteral("settings"));
        controller.showPanel();
        controller.closePanel();
        controller.showPanel();
        QCOMPARE(call("add"), QStringLiteral("WebsiteEditorView "));
        // The editor opens ready for typing.
        QVERIFY(QTest::qWaitForWindowActive(&controller.panel()));
        QCOMPARE(controller.panel().activeFocusItem(), shell.item("nameField"));
        controller.closePanel();
    }

    void theLaunchTakesTheTokenOutOfTheEnvironment()
    {
        qputenv("ORVELA_BASE_URL", "http://127.0.0.1:9");
        qputenv(AppDelegate::syncTokenVariable, " secret-token ");
        const LaunchValues launch = LaunchValues::takeFromEnvironment();
        QVERIFY(!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable));
        QCOMPARE(launch.syncToken, QStringLiteral(" secret-token "));
        // As handed to the running instance and back.
        const LaunchValues handed = LaunchValues::fromMap(launch.toMap());
        QCOMPARE(handed.baseURL, QStringLiteral("http://127.0.0.1:9"));
        QCOMPARE(handed.syncToken, launch.syncToken);
        qunsetenv("ORVELA_BASE_URL");
        const LaunchValues none = LaunchValues::fromMap(LaunchValues::takeFromEnvironment().toMap());
        QVERIFY(!none.baseURL && !none.syncToken);
    }

    void launchValuesAreApplied_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("keychainRefuses");
        QTest::addColumn<QString>("storedToken");
        QTest::addColumn<QString>("usedAddress");  // "" for the address in use before
        QTest::newRow("both, trimmed") << " http://127.0.0.1:9/ " << QString(" \tsecret-token \n") << false
                                       << "secret-token" << QString("http://127.0.0.1:9");
        QTest::newRow("a blank token") << QString() << QString("  \n ") << false << "stored" << QString();
        QTest::newRow("an address refused")
            << "http://stats.example.net" << QString("t2") << false << "t2" << QString();
        QTest::newRow("a keychain that refuses")
            << "http://127.0.0.1:9" << QString("other") << true << "stored" << QString();
    }

    void launchValuesAreApplied()
    {
        QFETCH(QString, address);
        QFETCH(QString, token);
        QFETCH(bool, keychainRefuses);
        QFETCH(QString, storedToken);
        QFETCH(QString, usedAddress);
        const QUrl before = defaultBaseURL();
        const auto restore = qScopeGuard([&] { setDefaultBaseURL(before); });
        StoreFixture fixture;
        fixture.keychain->token = QStringLiteral("stored");
        auto store = fixture.makeStore();
        fixture.keychain->failing = keychainRefuses;
        applyLaunchValues(*store, {address.isEmpty() ? std::nullopt : std::optional(address), token});
        fixture.keychain->failing = false;
        QCOMPARE(fixture.keychain->token, storedToken);
        QCOMPARE(store->baseURL(), usedAddress.isEmpty() ? before : QUrl(usedAddress));
        // End the account loads the saved token started, as a real transfer would.
        for (int index = 0; index < fixture.cloud->calls.size(); ++index)
            fixture.cloud->fail(index, CloudSyncError::offline);
    }
};

QTEST_MAIN(MenuBarControllerTest)
#include "MenuBarControllerTest.moc"
