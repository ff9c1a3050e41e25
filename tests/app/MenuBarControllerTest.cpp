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

bool showsPage(MenuBarController &controller, const char *type)
{
    QQuickItem *page = currentPage(controller);
    return page && QString::fromLatin1(page->metaObject()->className()).startsWith(QLatin1String(type));
}

class KeyRecorder : public QObject
{
public:
    QList<int> pressed;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress)
            pressed.append(static_cast<QKeyEvent *>(event)->key());
        return false;
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

    void titleAndTooltipFollowTheMetric_data()
    {
        QTest::addColumn<MenuBarMetric>("metric");
        QTest::addColumn<bool>("withWeekAndBeyond");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("toolTip");
        using M = MenuBarMetric;
        QTest::newRow("live") << M::live << true << " 1,234" << "Orvela, 1,234 live visitors";
        QTest::newRow("today") << M::today << true << " 56" << "Orvela, 56 visitors today";
        QTest::newRow("week") << M::week << true << " 700" << "Orvela, 700 visitors this week";
        QTest::newRow("month") << M::month << true << " 3,000" << "Orvela, 3,000 visitors this month";
        QTest::newRow("all time") << M::allTime << true << " 1,000,000" << "Orvela, 1,000,000 visitors all time";
        QTest::newRow("week absent") << M::week << false << " \u2014" << "Orvela, visitors this week unavailable";
        QTest::newRow("month absent") << M::month << false << " \u2014" << "Orvela, visitors this month unavailable";
        QTest::newRow("all time absent") << M::allTime << false << " \u2014"
                                         << "Orvela, visitors all time unavailable";
    }

    void titleAndTooltipFollowTheMetric()
    {
        QFETCH(MenuBarMetric, metric);
        QFETCH(bool, withWeekAndBeyond);
        QFETCH(QString, title);
        QFETCH(QString, toolTip);
        const auto snapshot = withWeekAndBeyond ? snapshotWith(1234, 56, 700, 3000, 1'000'000) : snapshotWith(1234, 56);
        StoreFixture fixture(1, snapshot, metric);
        auto controller = makeController(*fixture.store);
        QCOMPARE(controller->title(), title);
        QCOMPARE(controller->toolTip(), toolTip);
        QCOMPARE(controller->trayIcon().toolTip(), toolTip);
    }

    void withoutASelectionShowsTheDash()
    {
        StoreFixture fixture(0);
        auto controller = makeController(*fixture.store);
        QCOMPARE(controller->title(), QStringLiteral(" \u2014"));
        QCOMPARE(controller->toolTip(), QStringLiteral("Orvela, live visitors unavailable"));

        // Known, but not fetched yet.
        StoreFixture unfetched(1);
        auto other = makeController(*unfetched.store);
        QCOMPARE(other->title(), QStringLiteral(" \u2014"));
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

        // A new figure that draws the same ("1.2k") keeps the icon and changes the tooltip.
        fixture.store->setMenuBarMetric(MenuBarMetric::live);
        settle();
        const qint64 iconKey = controller->trayIcon().icon().cacheKey();
        fixture.provider->next = snapshotWith(1250, 56);
        fixture.store->refreshNow();
        settle();
        QCOMPARE(controller->toolTip(), QStringLiteral("Orvela, 1,250 live visitors"));
        QCOMPARE(controller->trayIcon().icon().cacheKey(), iconKey);

        // Another selection with no figure.
        fixture.store->removeWebsite(*fixture.store->selectedWebsiteID());
        settle();
        QCOMPARE(controller->title(), QStringLiteral(" \u2014"));
    }

    void aClickRefreshesAndOpensUnderTheIconAndASecondClickCloses()
    {
        StoreFixture fixture(1);
        fixture.provider->next = snapshotWith(5, 6);
        auto controller = makeController(*fixture.store);
        PanelWindow *panel = &controller->panel();
        QVERIFY(panel->rootObject());

        controller->handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(controller->isPanelOpen());
        QCOMPARE(fixture.provider->fetches, 1);  // the selected site had no snapshot
        QCOMPARE(panel->width(), 320);
        QCOMPARE(panel->rootObject()->width(), 320.0);
        QVERIFY(panel->flags().testFlag(Qt::Popup));
        QVERIFY(controller->monitorsInstalled());
        // The height the content asked for, by the half-point rule.
        QCOMPARE(panel->height(), PanelPlacement::pixelHeight(controller->appliedHeight()));
        QVERIFY(controller->appliedHeight() > 1);

        controller->handleActivation(QSystemTrayIcon::Trigger);
        settle();
        QVERIFY(!controller->isPanelOpen());
        QVERIFY(!controller->monitorsInstalled());

        // The middle button opens too; the right one belongs to the context menu.
        controller->handleActivation(QSystemTrayIcon::Context);
        QVERIFY(!controller->isPanelOpen());
        controller->handleActivation(QSystemTrayIcon::MiddleClick);
        QVERIFY(controller->isPanelOpen());
        QCOMPARE(fixture.provider->fetches, 1);  // fresh now: no second fetch
        controller->closePanel();
    }

    void escapeClosesAndIsSwallowed()
    {
        StoreFixture fixture(1);
        auto controller = makeController(*fixture.store);
        PanelWindow *panel = &controller->panel();
        // Installed before the panel's own filter, so it sees what gets past that one.
        KeyRecorder recorder;
        panel->installEventFilter(&recorder);
        controller->showPanel();
        QVERIFY(controller->isPanelOpen());

        QTest::keyClick(panel, Qt::Key_Escape);
        settle();
        QVERIFY(!controller->isPanelOpen());
        QVERIFY(!controller->monitorsInstalled());
        QVERIFY(!recorder.pressed.contains(Qt::Key_Escape));

        // Reopening installs the monitors again; other keys pass.
        controller->showPanel();
        QVERIFY(controller->monitorsInstalled());
        QTest::keyClick(panel, Qt::Key_A);
        settle();
        QVERIFY(controller->isPanelOpen());
        QVERIFY(recorder.pressed.contains(Qt::Key_A));
        controller->closePanel();
    }

    void aPressOutsideClosesAndTheSameClickOnTheIconDoesNotReopen()
    {
        StoreFixture fixture(1);
        auto controller = makeController(*fixture.store);
        PanelWindow *panel = &controller->panel();
        controller->showPanel();

        // Inside: nothing.
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

    void appliesContentHeightsByTheHalfPointRule()
    {
        StoreFixture fixture(1);
        auto controller = makeController(*fixture.store);
        QVERIFY(controller->panel().rootObject());
        QVERIFY(controller->appliedHeight() > 1);  // the page's own height
        controller->applyHeight(300.3);
        QCOMPARE(controller->appliedHeight(), 300.5);
        QCOMPARE(controller->panel().height(), 301);
        QCOMPARE(controller->panel().width(), 320);
        controller->applyHeight(300.7);  // 300.5 again
        controller->applyHeight(0.5);
        QCOMPARE(controller->appliedHeight(), 300.5);
        controller->applyHeight(260);
        QCOMPARE(controller->panel().height(), 260);
    }

    void navigatesBetweenThePages()
    {
        StoreFixture fixture(0);
        auto controller = makeController(*fixture.store);
        QObject *root = controller->panel().rootObject();
        QVERIFY(showsPage(*controller, "EmptyStateView"));

        // Empty state: "Connect website" adds, the gear opens the settings.
        QVERIFY(QMetaObject::invokeMethod(currentPage(*controller), "connect"));
        QVERIFY(showsPage(*controller, "WebsiteEditorView"));
        QCOMPARE(currentPage(*controller)->property("websiteID").toString(), QString());
        QVERIFY(QMetaObject::invokeMethod(currentPage(*controller), "close"));
        QVERIFY(showsPage(*controller, "EmptyStateView"));
        QVERIFY(QMetaObject::invokeMethod(currentPage(*controller), "settings"));
        QVERIFY(showsPage(*controller, "SettingsView"));

        // Settings: edit opens the editor on that website; closing it lands on the main page.
        QVERIFY(QMetaObject::invokeMethod(currentPage(*controller), "edit", Q_ARG(QString, QStringLiteral("ABC"))));
        QVERIFY(showsPage(*controller, "WebsiteEditorView"));
        QCOMPARE(currentPage(*controller)->property("websiteID").toString(), QStringLiteral("ABC"));
        QVERIFY(QMetaObject::invokeMethod(currentPage(*controller), "close"));
        QCOMPARE(root->property("page").toString(), QStringLiteral("main"));

        // The page survives closing and reopening the panel.
        root->setProperty("page", QStringLiteral("settings"));
        controller->showPanel();
        controller->closePanel();
        controller->showPanel();
        QVERIFY(showsPage(*controller, "SettingsView"));
        QVERIFY(QMetaObject::invokeMethod(currentPage(*controller), "add"));
        QVERIFY(showsPage(*controller, "WebsiteEditorView"));
        QCOMPARE(currentPage(*controller)->property("websiteID").toString(), QString());
        controller->closePanel();
    }

    void theMainPageFollowsTheWebsiteList()
    {
        StoreFixture fixture(1, snapshotWith(3, 4));
        auto controller = makeController(*fixture.store);
        QVERIFY(showsPage(*controller, "DashboardView"));
        QQuickItem *dashboard = currentPage(*controller);
        QCOMPARE(dashboard->width(), 320.0);

        fixture.store->removeWebsite(*fixture.store->selectedWebsiteID());
        settle();
        QVERIFY(showsPage(*controller, "EmptyStateView"));
        QCOMPARE(controller->panel().rootObject()->property("page").toString(), QStringLiteral("main"));
    }

    void appliesTheAppearanceAtOnce()
    {
        StoreFixture fixture(1);
        auto controller = makeController(*fixture.store);
        QQuickItem *root = controller->panel().rootObject();
        fixture.store->setPanelAppearance(PanelAppearance::dark);
        settle();
        const QColor dark = root->property("color").value<QColor>();
        fixture.store->setPanelAppearance(PanelAppearance::light);
        settle();
        const QColor light = root->property("color").value<QColor>();
        QVERIFY(dark.lightness() < 100);
        QVERIFY(light.lightness() > 150);
        QCOMPARE(controller->panel().color(), light);
    }

    void theEnvironmentTokenIsSavedTrimmedAndThenForgotten()
    {
        StoreFixture fixture(1);
        qputenv(AppDelegate::syncTokenVariable, " \tsecret-token \n");
        saveEnvironmentSyncToken(*fixture.store);
        QCOMPARE(fixture.credentials->token, std::optional(QStringLiteral("secret-token")));
        QVERIFY(!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable));

        // Blank: nothing written, the stored token stays; unset: nothing written.
        qputenv(AppDelegate::syncTokenVariable, "  \n ");
        saveEnvironmentSyncToken(*fixture.store);
        saveEnvironmentSyncToken(*fixture.store);
        QCOMPARE(fixture.credentials->tokenWrites, 1);
        QCOMPARE(fixture.credentials->token, std::optional(QStringLiteral("secret-token")));
        QVERIFY(!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable));

        // A keychain that refuses: launching goes on, and the token still leaves the environment.
        fixture.credentials->failWrites = true;
        qputenv(AppDelegate::syncTokenVariable, "other");
        saveEnvironmentSyncToken(*fixture.store);
        QVERIFY(!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable));
        QCOMPARE(fixture.credentials->token, std::optional(QStringLiteral("secret-token")));
    }
};

QTEST_MAIN(MenuBarControllerTest)
#include "MenuBarControllerTest.moc"
