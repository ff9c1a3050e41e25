// The dashboard and the empty state, loaded from their QML against a real store.
#include "PageHarness.h"

#include "BaseURL.h"
#include "ChartText.h"
#include "DateText.h"
#include "ExampleWebsite.h"
#include "TrackingSnippet.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

// Receives the addresses the pages ask the desktop to open.
class BrowserStandIn : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

PersistedState stateWith(const QList<Website> &websites, std::optional<QUuid> selected,
                         const QList<StoredSnapshot> &snapshots = {})
{
    PersistedState state;
    state.websites = websites;
    state.selectedWebsiteID = selected;
    state.snapshots = snapshots;
    return state;
}

}  // namespace

class DashboardPageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { PageHarness::prepareProcess(); }

    void emptyStateOffersToConnect()
    {
        PageHarness harness;
        harness.startStore();
        QQuickItem *page = harness.load(QStringLiteral("EmptyStateView.qml"));
        QSignalSpy connect(page, SIGNAL(connect()));
        QSignalSpy settings(page, SIGNAL(settings()));

        QCOMPARE(page->width(), 320.0);
        QCOMPARE(harness.text("tagLine"), "Your website, at a glance.");
        QCOMPARE(harness.text("connectButton"), "Connect website");
        harness.screenshots(QStringLiteral("empty-state"));

        harness.click(QStringLiteral("connectButton"));
        QCOMPARE(connect.size(), 1);
        harness.click(QStringLiteral("settingsButton"));
        QCOMPARE(settings.size(), 1);
    }

    void websiteWithoutSnapshot()
    {
        PageHarness harness;
        const Website site = testWebsite("shop.example.org", "Shop", "https://stats.example.org/shop");
        harness.startStore(stateWith({site}, site.id));
        harness.load(QStringLiteral("DashboardView.qml"));

        QCOMPARE(harness.text("websiteMenuLabel"), "shop.example.org");
        QVERIFY(!harness.shown("demoBadge"));
        QCOMPARE(harness.text("liveValue"), "—");
        QCOMPARE(harness.item("value", harness.item("visitorsToday"))->property("text"), "—");
        QCOMPARE(harness.item("value", harness.item("pageViewsToday"))->property("text"), "—");
        QVERIFY(!harness.shown("chartBlock"));
        QVERIFY(!harness.shown("failureBanner"));
        QCOMPARE(harness.text("statusText"), "Not updated yet");
        // Without a snapshot nobody has seen the tracking script yet.
        QVERIFY(harness.shown("trackingSnippet"));
        QCOMPARE(harness.item("snippetText")->property("text").toString(), trackingSnippet(site.id, defaultBaseURL()));
        harness.screenshots(QStringLiteral("dashboard-no-snapshot"));

        BrowserStandIn browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        harness.click(QStringLiteral("openDashboardButton"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(QStringLiteral("https://stats.example.org/shop"))});
    }

    void snippetCopiesAndStartsOverWithTheSection()
    {
        PageHarness harness;
        const Website site = testWebsite("shop.example.org");
        harness.startStore(stateWith({site}, site.id));
        harness.load(QStringLiteral("DashboardView.qml"));

        QGuiApplication::clipboard()->setText(QStringLiteral("something copied earlier"));
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
        harness.click(QStringLiteral("copySnippetButton"));
        QCOMPARE(QGuiApplication::clipboard()->text(), trackingSnippet(site.id, defaultBaseURL()));
        QCOMPARE(harness.text("copySnippetButton"), "Copied");
        harness.click(QStringLiteral("copySnippetButton"));
        QCOMPARE(harness.text("copySnippetButton"), "Copied");

        harness.click(QStringLiteral("segment:recent"));
        QVERIFY(!harness.shown("trackingSnippet"));
        harness.click(QStringLiteral("segment:overview"));
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
    }

    void websiteWithSnapshot()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org");
        harness.startStore(stateWith({site}, site.id));
        harness.load(QStringLiteral("DashboardView.qml"));
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.refreshWith(snapshot);

        QCOMPARE(harness.text("liveValue"), "1,234");
        QCOMPARE(harness.item("value", harness.item("visitorsToday"))->property("text"), "5,678");
        QCOMPARE(harness.item("value", harness.item("pageViewsToday"))->property("text"), "12,345");
        QCOMPARE(harness.text("statusText"), "Updated " + updatedTimeText(snapshot.refreshedAt));
        QVERIFY(!harness.shown("trackingSnippet"));
        QVERIFY(!harness.shown("openDashboardButton"));
        QVERIFY(harness.shown("activityChart"));

        // One bar per hour; the busiest fills the height, an hour without visitors keeps 1 px.
        const QList<QQuickItem *> bars = harness.items(QStringLiteral("barFill"));
        QCOMPARE(bars.size(), 24);
        QCOMPARE(bars[18]->height(), 80.0);
        QCOMPARE(bars[2]->height(), 1.0);
        QCOMPARE(bars[9]->height(), 31.0 / 52 * 80);

        // Pointing at a bar reads out its hour; moving straight to the next keeps a read-out.
        QVERIFY(!harness.shown("chartReadout"));
        harness.hover(bars[18]->parentItem());
        QCOMPARE(harness.text("chartReadout"), hourReadout((*snapshot.hourlyVisitors)[18]));
        harness.screenshots(QStringLiteral("dashboard-snapshot"));
        harness.hover(bars[19]->parentItem());
        QCOMPARE(harness.text("chartReadout"), hourReadout((*snapshot.hourlyVisitors)[19]));
        harness.hoverAway();
        QVERIFY(!harness.shown("chartReadout"));
    }

    void snapshotFromYesterdayAndWithoutHours()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org");
        AnalyticsSnapshot snapshot = testSnapshot();
        snapshot.refreshedAt = Instant::now().addingSeconds(-26 * 3600);
        snapshot.hourlyVisitors = QList<HourlyVisitorCount>();
        harness.startStore(stateWith({site}, site.id, {{site.id, snapshot}}));
        harness.load(QStringLiteral("DashboardView.qml"));

        QCOMPARE(harness.text("statusText"), "Updated " + updatedTimeText(snapshot.refreshedAt));
        QVERIFY(harness.text("statusText").size() > QStringLiteral("Updated 10:00 PM").size());
        QVERIFY(!harness.shown("chartBlock"));
    }

    void failureOverStaleFigures()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org");
        harness.startStore(stateWith({site}, site.id));
        harness.load(QStringLiteral("DashboardView.qml"));
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.refreshWith(snapshot);
        harness.refreshFailing(AnalyticsFailure::offline);

        QCOMPARE(harness.text("liveValue"), "1,234");
        QVERIFY(harness.shown("failureBanner"));
        QCOMPARE(harness.text("failureMessage"), AnalyticsFailures::message(AnalyticsFailure::offline));
        QCOMPARE(harness.text("retryButton"), "Retry");
        QCOMPARE(harness.text("statusText"),
                 "Updated " + updatedTimeText(snapshot.refreshedAt) + QStringLiteral(" · Out of date"));
        harness.screenshots(QStringLiteral("dashboard-stale"));

        // Retry refreshes; meanwhile the refresh button spins and cannot be pressed, Retry can.
        const qsizetype fetches = harness.provider->fetches.size();
        harness.click(QStringLiteral("retryButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 1);
        QVERIFY(!harness.item("refreshButton")->isEnabled());
        QVERIFY(harness.item("refreshButton")->property("busy").toBool());
        QVERIFY(harness.item("retryButton")->isEnabled());
        harness.screenshots(QStringLiteral("dashboard-refreshing"));
        harness.click(QStringLiteral("refreshButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 1);
        harness.click(QStringLiteral("retryButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 2);

        harness.provider->succeed(int(fetches + 1), snapshot);
        settle();
        QVERIFY(!harness.shown("failureBanner"));
        QVERIFY(harness.item("refreshButton")->isEnabled());
        harness.click(QStringLiteral("refreshButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 3);
    }

    void failureWithoutFigures()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org");
        harness.startStore(stateWith({site}, site.id));
        harness.load(QStringLiteral("DashboardView.qml"));
        harness.refreshFailing(AnalyticsFailure::invalidCredentials);

        QCOMPARE(harness.text("failureMessage"), AnalyticsFailures::message(AnalyticsFailure::invalidCredentials));
        QCOMPARE(harness.text("statusText"), "");
        harness.screenshots(QStringLiteral("dashboard-failure"));
    }

    void cancelledRefreshShowsNoBanner()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org");
        harness.startStore(stateWith({site}, site.id));
        harness.load(QStringLiteral("DashboardView.qml"));
        harness.refreshWith(testSnapshot());
        harness.refreshFailing(AnalyticsFailure::cancelled);

        QVERIFY(!harness.shown("failureBanner"));
        QVERIFY(!harness.text("statusText").endsWith(QStringLiteral("Out of date")));
    }

    void exampleWebsite()
    {
        PageHarness harness;
        harness.startStore({}, true);
        QCOMPARE(harness.store->websites().size(), 1);
        harness.load(QStringLiteral("DashboardView.qml"));
        AnalyticsSnapshot demo = ExampleWebsite::exampleSnapshot(Instant::now());
        demo.trackingInstalled = false;
        harness.refreshWith(demo);

        QCOMPARE(harness.text("websiteMenuLabel"), QString::fromUtf16(ExampleWebsite::domain));
        QVERIFY(harness.shown("demoBadge"));
        QCOMPARE(harness.text("demoBadge"), "Demo");
        QVERIFY(!harness.shown("trackingSnippet"));
        harness.screenshots(QStringLiteral("dashboard-example"));
    }

    void recentActivity()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org");
        const Website quiet = testWebsite("quiet.example.org");
        AnalyticsSnapshot snapshot = testSnapshot();
        for (int i = 0; i < 10; ++i)
            snapshot.recentVisitors.append({QStringLiteral("extra%1").arg(i), "FR", "", {}, {}, 10, snapshot.refreshedAt});
        harness.startStore(stateWith({site, quiet}, site.id, {{site.id, snapshot}}));
        harness.load(QStringLiteral("DashboardView.qml"));
        harness.click(QStringLiteral("segment:recent"));

        // Six countries with visitors in delivered order; the zero between them does not count.
        QStringList countries;
        for (QQuickItem *label : harness.items(QStringLiteral("countryLabel")))
            countries.append(label->property("text").toString());
        QCOMPARE(countries.size(), 6);
        QVERIFY(countries[0].endsWith(QStringLiteral("  Germany")));
        QVERIFY(countries[1].endsWith(QStringLiteral("  United States")));
        QVERIFY(countries[2].endsWith(QStringLiteral("  France")));
        QVERIFY(countries[5].endsWith(QStringLiteral("  Sweden")));
        QCOMPARE(harness.items(QStringLiteral("countryVisitors")).first()->property("text"), "120");

        // Eight visitors of thirteen, each summed up on its lines.
        const QList<QQuickItem *> entries = harness.items(QStringLiteral("visitorEntry"));
        QCOMPARE(entries.size(), 8);
        auto line = [&](int entry, const char *name) {
            return harness.item(name, entries[entry])->property("text").toString();
        };
        QCOMPARE(line(0, "visitorCountry"), "Germany");
        QCOMPARE(line(0, "visitorDuration"), "1h 1m");
        QCOMPARE(line(0, "visitorSummary"), "google.com → /pricing +2");
        QCOMPARE(line(0, "visitorClicks"), "Clicked Start trial, Docs, Pricing");
        QCOMPARE(line(1, "visitorSummary"), "Direct → /");
        QVERIFY(!harness.item("visitorClicks", entries[1])->isVisible());
        QCOMPARE(line(2, "visitorCountry"), "Unknown");
        QCOMPARE(line(2, "visitorDuration"), "2h");
        QCOMPARE(line(2, "visitorSummary"), "newsletter");
        QVERIFY(!harness.shown("noRecentActivity"));
        harness.screenshots(QStringLiteral("dashboard-recent"));

        // Another website without a snapshot: nothing to tell yet.
        harness.store->selectWebsite(quiet.id);
        settle();
        QVERIFY(harness.shown("noRecentActivity"));
        QCOMPARE(harness.text("noRecentActivity"), "No recent activity yet.");
        QVERIFY(!harness.shown("countriesBlock"));
        QVERIFY(!harness.shown("visitorsBlock"));
        harness.screenshots(QStringLiteral("dashboard-recent-empty"));
    }

    void websiteMenuSwitchesTheSelection()
    {
        PageHarness harness;
        const Website first = testWebsite("first.example.org");
        const Website second = testWebsite("second.example.org");
        harness.startStore(stateWith({first, second}, first.id));
        harness.load(QStringLiteral("DashboardView.qml"));

        harness.click(QStringLiteral("websiteMenu"));
        const QList<QQuickItem *> menuItems = harness.items(QStringLiteral("websiteMenuItem"), harness.window->contentItem());
        QCOMPARE(menuItems.size(), 2);
        QCOMPARE(menuItems[0]->property("text"), "first.example.org");
        QVERIFY(menuItems[0]->property("selected").toBool());
        QVERIFY(!menuItems[1]->property("selected").toBool());
        harness.screenshots(QStringLiteral("dashboard-website-menu"));

        harness.click(menuItems[1]);
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(second.id));
        QCOMPARE(harness.text("websiteMenuLabel"), "second.example.org");
    }

    void keyboardReachesTheControlsAndLeavesEscape()
    {
        PageHarness harness;
        const Website site = testWebsite("blog.example.org", {}, "https://stats.example.org");
        harness.startStore(stateWith({site}, site.id, {{site.id, testSnapshot()}}));
        harness.load(QStringLiteral("DashboardView.qml"));

        QStringList order;
        harness.item("websiteMenu")->forceActiveFocus(Qt::TabFocusReason);
        for (int step = 0; step < 5; ++step) {
            order.append(harness.window->activeFocusItem()->objectName());
            harness.key(Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"websiteMenu", "settingsButton", "sectionSwitch", "refreshButton",
                                     "openDashboardButton"}));

        // The section switch moves with the arrow keys.
        harness.item("sectionSwitch")->forceActiveFocus(Qt::TabFocusReason);
        harness.key(Qt::Key_Right);
        QVERIFY(harness.shown("recentActivity"));

        // The panel closes on Escape: no page takes it for itself.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QGuiApplication::sendEvent(harness.window.get(), &escape);
        QVERIFY(!escape.isAccepted());
    }
};

QTEST_MAIN(DashboardPageTest)
#include "DashboardPageTest.moc"
