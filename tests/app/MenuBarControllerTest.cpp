// The tray icon's title, tooltip and icon, and the panel's opening and closing, with the real
// root view and pages over a store on in-memory collaborators.
#include "AppDelegate.h"
#include "MenuBarController.h"
#include "PanelPlacement.h"
#include "ShellFakes.h"
#include "ViewRegistration.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

namespace {

std::unique_ptr<MenuBarController> makeController(AppStore &store)
{
    auto controller = std::make_unique<MenuBarController>(
        store, [&store](QQmlEngine &engine) { registerViewTypes(engine, store); });
    controller->install();
    return controller;
}

QQuickItem *currentPage(MenuBarController &controller)
{
    return controller.panel().rootObject()->property("currentPage").value<QQuickItem *>();
}

QString pageType(MenuBarController &controller)
{
    QQuickItem *page = currentPage(controller);
    return page ? QString::fromLatin1(page->metaObject()->className()).section(u'_', 0, 0) : QString();
}

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

    void titleAndTooltipFollowTheMetric_data()
    {
        QTest::addColumn<MenuBarMetric>("metric");
        QTest::addColumn<int>("websites");
        QTest::addColumn<int>("figures");  // 2: all of them, 1: live and today only, 0: not fetched yet
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("toolTip");
        using M = MenuBarMetric;
        const QString dash = QStringLiteral(" \u2014");
        QTest::newRow("live") << M::live << 1 << 2 << " 1,234" << "Orvela, 1,234 live visitors";
        QTest::newRow("today") << M::today << 1 << 2 << " 56" << "Orvela, 56 visitors today";
        QTest::newRow("week") << M::week << 1 << 2 << " 700" << "Orvela, 700 visitors this week";
        QTest::newRow("month") << M::month << 1 << 2 << " 3,000" << "Orvela, 3,000 visitors this month";
        QTest::newRow("all time") << M::allTime << 1 << 2 << " 1,000,000" << "Orvela, 1,000,000 visitors all time";
        QTest::newRow("week absent") << M::week << 1 << 1 << dash << "Orvela, visitors this week unavailable";
        QTest::newRow("month absent") << M::month << 1 << 1 << dash << "Orvela, visitors this month unavailable";
        QTest::newRow("all time absent") << M::allTime << 1 << 1 << dash << "Orvela, visitors all time unavailable";
        QTest::newRow("not fetched yet") << M::live << 1 << 0 << dash << "Orvela, live visitors unavailable";
        QTest::newRow("no website") << M::live << 0 << 0 << dash << "Orvela, live visitors unavailable";
    }

    void titleAndTooltipFollowTheMetric()
    {
        QFETCH(MenuBarMetric, metric);
        QFETCH(int, websites);
        QFETCH(int, figures);
        QFETCH(QString, title);
        QFETCH(QString, toolTip);
        const std::optional<AnalyticsSnapshot> snapshots[] = {
            std::nullopt, snapshotWith(1234, 56), snapshotWith(1234, 56, 700, 3000, 1'000'000)};
        StoreFixture fixture(websites, snapshots[figures], metric);
        auto controller = makeController(*fixture.store);
        QCOMPARE(controller->title(), title);
        QCOMPARE(controller->toolTip(), toolTip);
        QCOMPARE(controller->trayIcon().toolTip(), toolTip);
    }

    void updatesAfterTheStoresChangeAndOnlyWhenTheTextChanges()
    {
        StoreFixture fixture(1, snapshotWith(1234, 56));
        auto controller = makeController(*fixture.store);
        QSignalSpy updates(controller.get(), &MenuBarController::statusItemChanged);
        const qint64 chartKey = controller->trayIcon().icon().cacheKey();

        fixture.store->setMenuBarMetric(MenuBarMetric::today);
        fixture.store->setMenuBarMetric(MenuBarMetric::week);
        fixture.store->setMenuBarMetric(MenuBarMetric::today);
        // Not from inside the store's change: the update is queued, and a burst costs one.
        QCOMPARE(controller->title(), QStringLiteral(" 1,234"));
        settle();
        QCOMPARE(controller->title(), QStringLiteral(" 56"));
        QCOMPARE(updates.count(), 1);
        QVERIFY(controller->trayIcon().icon().cacheKey() != chartKey);

        // What the status item does not show changes nothing.
        fixture.store->setPanelAppearance(PanelAppearance::dark);
        fixture.store->setRefreshInterval(RefreshInterval::oneTwenty);
        settle();
        QCOMPARE(updates.count(), 1);

        fixture.store->removeWebsite(*fixture.store->selectedWebsiteID());
        settle();
        QCOMPARE(controller->title(), QStringLiteral(" \u2014"));
    }

    void clicksAndKeysOpenAndCloseThePanel()
    {
        StoreFixture fixture(1);
        fixture.provider->next = snapshotWith(5, 6);
        auto controller = makeController(*fixture.store);
        PanelWindow *panel = &controller->panel();

        controller->handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(controller->isPanelOpen());
        QVERIFY(controller->monitorsInstalled());
        QCOMPARE(fixture.provider->fetches, 1);  // the selected site had no snapshot
        QCOMPARE(panel->rootObject()->width(), 320.0);
        QVERIFY(panel->flags().testFlag(Qt::Popup));
        QCOMPARE(panel->height(), PanelPlacement::pixelHeight(controller->appliedHeight()));
        QVERIFY(controller->appliedHeight() > 1);  // the content's own height
        // Later heights by the half-point rule.
        controller->applyHeight(300.3);
        controller->applyHeight(300.7);  // 300.5 again
        QCOMPARE(controller->appliedHeight(), 300.5);
        QCOMPARE(panel->height(), 301);
        QCOMPARE(panel->width(), 320);

        // A second click closes; the right button belongs to the context menu, the middle one opens.
        controller->handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(!controller->isPanelOpen());
        QVERIFY(!controller->monitorsInstalled());
        controller->handleActivation(QSystemTrayIcon::Context);
        QVERIFY(!controller->isPanelOpen());
        controller->handleActivation(QSystemTrayIcon::MiddleClick);
        QVERIFY(controller->isPanelOpen());
        QVERIFY(controller->monitorsInstalled());
        QCOMPARE(fixture.provider->fetches, 1);  // fresh now: no second fetch

        // Other keys leave it open; Escape closes.
        QTest::keyClick(panel, Qt::Key_A);
        settle();
        QVERIFY(controller->isPanelOpen());
        QTest::keyClick(panel, Qt::Key_Escape);
        settle();
        QVERIFY(!controller->isPanelOpen());
        QVERIFY(!controller->monitorsInstalled());

        // A click inside leaves it open; a press outside closes it.
        controller->showPanel();
        QTest::mouseClick(panel, Qt::LeftButton, {}, QPoint(10, 10));
        settle();
        QVERIFY(controller->isPanelOpen());
        // Outside (the grabbed pointer reports it in the panel's coordinates), then the tray's
        // activation of the same click.
        QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(-30, -10));
        controller->handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(!controller->isPanelOpen());
        QVERIFY(!controller->monitorsInstalled());

        // A click that comes later is a new one.
        QTest::qWait(MenuBarController::reopenGuardMilliseconds + 50);
        controller->handleActivation(QSystemTrayIcon::Trigger);
        QVERIFY(controller->isPanelOpen());
        QVERIFY(controller->monitorsInstalled());
        // Hidden any other way: the monitors go with it.
        panel->hide();
        QVERIFY(!controller->monitorsInstalled());
    }

    void theRootViewNavigatesAndFollowsTheStore()
    {
        StoreFixture fixture(1, snapshotWith(3, 4));
        auto controller = makeController(*fixture.store);
        QQuickItem *root = controller->panel().rootObject();
        QCOMPARE(pageType(*controller), QStringLiteral("DashboardView"));
        fixture.store->removeWebsite(*fixture.store->selectedWebsiteID());
        fixture.store->setPanelAppearance(PanelAppearance::dark);
        settle();
        QCOMPARE(pageType(*controller), QStringLiteral("EmptyStateView"));
        QVERIFY(root->property("color").value<QColor>().lightness() < 100);
        QCOMPARE(controller->panel().color(), root->property("color").value<QColor>());
        fixture.store->setPanelAppearance(PanelAppearance::light);
        settle();
        QVERIFY(root->property("color").value<QColor>().lightness() > 150);

        // Each page's callback, and the page and editor's website ("" adds one) it leads to.
        const auto call = [&](const char *method, const QString &argument = {}) {
            QQuickItem *page = currentPage(*controller);
            const bool called = argument.isEmpty() ? QMetaObject::invokeMethod(page, method)
                                                   : QMetaObject::invokeMethod(page, method, Q_ARG(QString, argument));
            return called ? pageType(*controller) + u' ' + currentPage(*controller)->property("websiteID").toString()
                          : QString();
        };
        QCOMPARE(call("connect"), QStringLiteral("WebsiteEditorView "));
        QCOMPARE(call("close"), QStringLiteral("EmptyStateView "));
        QCOMPARE(call("settings"), QStringLiteral("SettingsView "));
        QCOMPARE(call("edit", QStringLiteral("ABC")), QStringLiteral("WebsiteEditorView ABC"));
        QCOMPARE(call("close"), QStringLiteral("EmptyStateView "));
        QCOMPARE(root->property("page").toString(), QStringLiteral("main"));

        // The page survives closing and reopening the panel.
        root->setProperty("page", QStringLiteral("settings"));
        controller->showPanel();
        controller->closePanel();
        controller->showPanel();
        QCOMPARE(call("add"), QStringLiteral("WebsiteEditorView "));
        controller->closePanel();
    }

    void theEnvironmentTokenIsSavedTrimmedAndThenForgotten()
    {
        StoreFixture fixture(1);
        qputenv(AppDelegate::syncTokenVariable, " \tsecret-token \n");
        saveEnvironmentSyncToken(*fixture.store);
        QCOMPARE(fixture.credentials->token, std::optional(QStringLiteral("secret-token")));
        QVERIFY(!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable));

        // Blank, then unset: nothing written. A keychain that refuses: launching goes on. The
        // stored token stays, and the variable leaves the environment each time.
        qputenv(AppDelegate::syncTokenVariable, "  \n ");
        saveEnvironmentSyncToken(*fixture.store);
        saveEnvironmentSyncToken(*fixture.store);
        fixture.credentials->failWrites = true;
        qputenv(AppDelegate::syncTokenVariable, "other");
        saveEnvironmentSyncToken(*fixture.store);
        QVERIFY(!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable));
        QCOMPARE(fixture.credentials->tokenWrites, 1);
        QCOMPARE(fixture.credentials->token, std::optional(QStringLiteral("secret-token")));
    }
};

QTEST_MAIN(MenuBarControllerTest)
#include "MenuBarControllerTest.moc"
