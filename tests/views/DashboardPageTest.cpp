// The dashboard and the empty state, loaded from their QML against a real store.
#include "PageHarness.h"

#include "BaseURL.h"
#include "ChartText.h"
#include "DateText.h"
#include "ExampleWebsite.h"
#include "TrackingSnippet.h"

#include <QClipboard>
#include <QDesktopServices>

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

}  // namespace

class DashboardPageTest : public QObject
{
    Q_OBJECT

    const Website site = testWebsite("blog.example.org");

private slots:
    void initTestCase() { preparePageProcess(); }

    void emptyStateOffersToConnect()
    {
        PageHarness harness;
        QQuickItem *page = harness.open("EmptyStateView.qml");
        QSignalSpy connect(page, SIGNAL(connect())), settings(page, SIGNAL(settings()));
        EXPECT_PAGE(harness, {{"tagLine", "Your website, at a glance."}, {"connectButton", "Connect website"}});
        harness.screenshots("empty-state");
        harness.click("connectButton");
        harness.click("settingsButton");
        QCOMPARE(connect.size(), 1);
        QCOMPARE(settings.size(), 1);
    }

    // A website not refreshed yet, with an address for its dashboard; and the page's keyboard.
    void websiteWithoutSnapshot()
    {
        PageHarness harness;
        const Website shop = testWebsite("shop.example.org", "Shop", "https://stats.example.org/shop");
        harness.open("DashboardView.qml", withWebsites({shop}));
        // Without a snapshot nobody has seen the tracking script yet.
        const QString snippet = trackingSnippet(shop.id, defaultBaseURL());
        EXPECT_PAGE(harness, {{"websiteMenuLabel", "shop.example.org"}, {"demoBadge", hidden}, {"liveValue", "—"},
                              {"visitorsToday/value", "—"}, {"pageViewsToday/value", "—"}, {"chartBlock", hidden},
                              {"failureBanner", hidden}, {"statusText", "Not updated yet"},
                              {"trackingSnippet", visible}, {"snippetText", snippet}});
        harness.screenshots("dashboard-no-snapshot");
        QCOMPARE(harness.tabOrder("websiteMenu", 6), (QStringList{"websiteMenu", "settingsButton", "sectionSwitch",
                                                                  "copySnippetButton", "refreshButton",
                                                                  "openDashboardButton"}));
        QVERIFY(!harness.takesEscape());

        BrowserStandIn browser;
        QDesktopServices::setUrlHandler("https", &browser, "open");
        harness.click("openDashboardButton");
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(browser.opened, QList<QUrl>{QUrl("https://stats.example.org/shop")});

        // Copy says so until the section is left; the section switch moves with the arrow keys.
        QGuiApplication::clipboard()->setText("something copied earlier");
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
        harness.click("copySnippetButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), snippet);
        QCOMPARE(harness.text("copySnippetButton"), "Copied");
        harness.item("sectionSwitch")->forceActiveFocus(Qt::TabFocusReason);
        harness.key(Qt::Key_Right);
        QVERIFY(harness.shown("recentActivity"));
        QVERIFY(!harness.shown("trackingSnippet"));
        harness.click("segment:overview");
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
    }

    // One website through its refreshes: a failure without figures, figures, a failure over them.
    void refreshesAndFailures()
    {
        PageHarness harness;
        harness.open("DashboardView.qml", withWebsites({site}));
        harness.refresh(AnalyticsFailure::invalidCredentials);
        EXPECT_PAGE(harness, {{"failureMessage", AnalyticsFailures::message(AnalyticsFailure::invalidCredentials)},
                              {"statusText", ""}});
        harness.screenshots("dashboard-failure");

        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.refresh(snapshot);
        EXPECT_PAGE(harness, {{"liveValue", "1,234"}, {"visitorsToday/value", "5,678"}, {"pageViewsToday/value", "12,345"},
                              {"statusText", "Updated " + updatedTimeText(snapshot.refreshedAt)},
                              {"failureBanner", hidden}, {"trackingSnippet", hidden}, {"openDashboardButton", hidden},
                              {"chartReadout", hidden}});
        harness.screenshots("dashboard-snapshot");

        // One bar per hour; the busiest fills the height, an hour without visitors keeps 1 px.
        const QList<QQuickItem *> bars = harness.items("barFill");
        QCOMPARE(bars.size(), 24);
        QCOMPARE(bars[18]->height(), 80.0);
        QCOMPARE(bars[2]->height(), 1.0);
        QCOMPARE(bars[9]->height(), 31.0 / 52 * 80);

        // Pointing at a bar reads out its hour; moving straight to the next keeps a read-out.
        for (int hour : {18, 19}) {
            harness.hover(bars[hour]->parentItem());
            QCOMPARE(harness.text("chartReadout"), hourReadout((*snapshot.hourlyVisitors)[hour]));
        }
        harness.hover();
        QVERIFY(!harness.shown("chartReadout"));

        harness.refresh(AnalyticsFailure::offline);
        EXPECT_PAGE(harness, {{"liveValue", "1,234"}, {"failureBanner", visible},
                              {"failureMessage", AnalyticsFailures::message(AnalyticsFailure::offline)},
                              {"retryButton", "Retry"},
                              {"statusText", "Updated " + updatedTimeText(snapshot.refreshedAt) + " · Out of date"}});
        harness.screenshots("dashboard-stale");

        // Retry refreshes; meanwhile the refresh button spins and cannot be pressed, Retry can.
        const qsizetype fetches = harness.provider->fetches.size();
        harness.click("retryButton");
        QVERIFY(!harness.item("refreshButton")->isEnabled());
        QVERIFY(harness.item("refreshButton")->property("busy").toBool());
        harness.screenshots("dashboard-refreshing");
        harness.click("refreshButton");
        QCOMPARE(harness.provider->fetches.size(), fetches + 1);
        harness.click("retryButton");
        QCOMPARE(harness.provider->fetches.size(), fetches + 2);
        harness.provider->succeed(int(fetches + 1), snapshot);
        QVERIFY(!harness.shown("failureBanner"));
        harness.click("refreshButton");
        QCOMPARE(harness.provider->fetches.size(), fetches + 3);
    }

    // A cancelled refresh is no failure: no banner, and the figures are not out of date.
    void cancelledRefreshIsNoFailure()
    {
        PageHarness harness;
        harness.open("DashboardView.qml", withWebsites({site}));
        harness.refresh(testSnapshot());
        harness.refresh(AnalyticsFailure::cancelled);
        QVERIFY(!harness.shown("failureBanner"));
        QVERIFY(!harness.text("statusText").endsWith("Out of date"));
    }

    void exampleWebsiteIsMarked()
    {
        PageHarness harness;
        harness.keepExample = true;
        harness.open("DashboardView.qml");
        EXPECT_PAGE(harness, {{"websiteMenuLabel", QString::fromUtf16(ExampleWebsite::domain)}, {"demoBadge", visible},
                              {"demoBadge", "Demo"}, {"trackingSnippet", hidden}});
        harness.screenshots("dashboard-example");
    }

    void recentActivity()
    {
        PageHarness harness;
        const Website quiet = testWebsite("quiet.example.org");
        AnalyticsSnapshot snapshot = testSnapshot();
        for (int i = 0; i < 7; ++i)
            snapshot.recentVisitors.append({"extra", "FR", QString::number(i), {}, {}, 10, snapshot.refreshedAt});
        snapshot.hourlyVisitors = QList<HourlyVisitorCount>();  // stored without hours: no chart
        harness.open("DashboardView.qml", withWebsites({site, quiet}, {{site.id, snapshot}}));
        QVERIFY(!harness.shown("chartBlock"));
        harness.click("segment:recent");

        // Six of the seven countries with visitors, in delivered order; the zero and the negative
        // count between them do not count.
        QStringList countries;
        for (QQuickItem *label : harness.items("countryLabel"))
            countries.append(label->property("text").toString().section("  ", 1));
        QCOMPARE(countries, (QStringList{"Germany", "United States", "France", "Netherlands", "Kosovo", "Sweden"}));
        QCOMPARE(harness.text("countryVisitors"), "120");

        // The first eight of ten visitors, each summed up on its lines.
        const QList<QQuickItem *> entries = harness.items("visitorEntry");
        QCOMPARE(entries.size(), 8);
        EXPECT_PAGE(harness, {{"visitorCountry", "Germany"}, {"visitorDuration", "1h 1m"},
                              {"visitorSummary", "google.com → /pricing +2"},
                              {"visitorClicks", "Clicked Start trial, Docs, Pricing"}, {"noRecentActivity", hidden}});
        QVERIFY(!harness.item("visitorClicks", entries[1])->isVisible());
        QCOMPARE(harness.text("visitorSummary", entries[7]), "4");
        harness.screenshots("dashboard-recent");

        // The menu offers both websites; the other one has no snapshot, so nothing to tell yet.
        harness.click("websiteMenu");
        const QList<QQuickItem *> menu = harness.items("websiteMenuItem", harness.window->contentItem());
        QStringList offered;
        for (QQuickItem *entry : menu)
            offered.append(entry->property("text").toString() + (entry->property("selected").toBool() ? " ✓" : ""));
        QCOMPARE(offered, (QStringList{"blog.example.org ✓", "quiet.example.org"}));
        harness.screenshots("dashboard-website-menu");
        harness.click(menu[1]);
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(quiet.id));
        EXPECT_PAGE(harness, {{"websiteMenuLabel", "quiet.example.org"}, {"noRecentActivity", visible},
                              {"noRecentActivity", "No recent activity yet."}, {"countriesBlock", hidden},
                              {"visitorsBlock", hidden}});
        harness.screenshots("dashboard-recent-empty");
    }
};

QTEST_MAIN(DashboardPageTest)
#include "DashboardPageTest.moc"
