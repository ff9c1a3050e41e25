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
        QQuickItem *page = harness.open(QStringLiteral("EmptyStateView.qml"));
        QSignalSpy connect(page, SIGNAL(connect()));
        QSignalSpy settings(page, SIGNAL(settings()));
        EXPECT_PAGE(harness, {{"tagLine", "Your website, at a glance."}, {"connectButton", "Connect website"}});
        harness.screenshots(QStringLiteral("empty-state"));
        harness.click(QStringLiteral("connectButton"));
        QCOMPARE(connect.size(), 1);
        harness.click(QStringLiteral("settingsButton"));
        QCOMPARE(settings.size(), 1);
    }

    void websiteWithoutSnapshot()
    {
        PageHarness harness;
        const Website shop = testWebsite("shop.example.org", "Shop", "https://stats.example.org/shop");
        harness.open(QStringLiteral("DashboardView.qml"), withWebsites({shop}));
        // Without a snapshot nobody has seen the tracking script yet.
        const QString snippet = trackingSnippet(shop.id, defaultBaseURL());
        EXPECT_PAGE(harness, {{"websiteMenuLabel", "shop.example.org"}, {"demoBadge", hidden}, {"liveValue", "—"},
                              {"visitorsToday/value", "—"}, {"pageViewsToday/value", "—"}, {"chartBlock", hidden},
                              {"failureBanner", hidden}, {"statusText", "Not updated yet"},
                              {"trackingSnippet", visible}, {"snippetText", snippet}});
        harness.screenshots(QStringLiteral("dashboard-no-snapshot"));

        BrowserStandIn browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        harness.click(QStringLiteral("openDashboardButton"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(QStringLiteral("https://stats.example.org/shop"))});

        // Copy says so until the section is left.
        QGuiApplication::clipboard()->setText(QStringLiteral("something copied earlier"));
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
        harness.click(QStringLiteral("copySnippetButton"));
        QCOMPARE(QGuiApplication::clipboard()->text(), snippet);
        QCOMPARE(harness.text("copySnippetButton"), "Copied");
        harness.click(QStringLiteral("segment:recent"));
        QVERIFY(!harness.shown("trackingSnippet"));
        harness.click(QStringLiteral("segment:overview"));
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
    }

    void websiteWithSnapshot()
    {
        PageHarness harness;
        harness.open(QStringLiteral("DashboardView.qml"), withWebsites({site}));
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.refresh(snapshot);
        EXPECT_PAGE(harness, {{"liveValue", "1,234"}, {"visitorsToday/value", "5,678"}, {"pageViewsToday/value", "12,345"},
                              {"statusText", "Updated " + updatedTimeText(snapshot.refreshedAt)},
                              {"trackingSnippet", hidden}, {"openDashboardButton", hidden}, {"chartReadout", hidden}});

        // One bar per hour; the busiest fills the height, an hour without visitors keeps 1 px.
        const QList<QQuickItem *> bars = harness.items(QStringLiteral("barFill"));
        QCOMPARE(bars.size(), 24);
        QCOMPARE(bars[18]->height(), 80.0);
        QCOMPARE(bars[2]->height(), 1.0);
        QCOMPARE(bars[9]->height(), 31.0 / 52 * 80);

        // Pointing at a bar reads out its hour; moving straight to the next keeps a read-out.
        harness.hover(bars[18]->parentItem());
        QCOMPARE(harness.text("chartReadout"), hourReadout((*snapshot.hourlyVisitors)[18]));
        harness.screenshots(QStringLiteral("dashboard-snapshot"));
        harness.hover(bars[19]->parentItem());
        QCOMPARE(harness.text("chartReadout"), hourReadout((*snapshot.hourlyVisitors)[19]));
        harness.hover();
        QVERIFY(!harness.shown("chartReadout"));
    }

    void failureOverStaleFigures()
    {
        PageHarness harness;
        harness.open(QStringLiteral("DashboardView.qml"), withWebsites({site}));
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.refresh(snapshot);
        harness.refresh(AnalyticsFailure::offline);
        EXPECT_PAGE(harness, {{"liveValue", "1,234"}, {"failureBanner", visible},
                              {"failureMessage", AnalyticsFailures::message(AnalyticsFailure::offline)},
                              {"retryButton", "Retry"},
                              {"statusText", "Updated " + updatedTimeText(snapshot.refreshedAt) + " · Out of date"}});
        harness.screenshots(QStringLiteral("dashboard-stale"));

        // Retry refreshes; meanwhile the refresh button spins and cannot be pressed, Retry can.
        const qsizetype fetches = harness.provider->fetches.size();
        harness.click(QStringLiteral("retryButton"));
        QVERIFY(!harness.item("refreshButton")->isEnabled());
        QVERIFY(harness.item("refreshButton")->property("busy").toBool());
        harness.screenshots(QStringLiteral("dashboard-refreshing"));
        harness.click(QStringLiteral("refreshButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 1);
        harness.click(QStringLiteral("retryButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 2);

        harness.provider->succeed(int(fetches + 1), snapshot);
        settle();
        QVERIFY(!harness.shown("failureBanner"));
        harness.click(QStringLiteral("refreshButton"));
        QCOMPARE(harness.provider->fetches.size(), fetches + 3);
    }

    void failureWithoutFiguresAndCancelledRefresh()
    {
        PageHarness harness;
        harness.open(QStringLiteral("DashboardView.qml"), withWebsites({site}));
        harness.refresh(AnalyticsFailure::invalidCredentials);
        EXPECT_PAGE(harness, {{"failureMessage", AnalyticsFailures::message(AnalyticsFailure::invalidCredentials)},
                              {"statusText", ""}});
        harness.screenshots(QStringLiteral("dashboard-failure"));

        // A cancelled refresh is no failure: no banner, and the figures are not out of date.
        harness.refresh(testSnapshot());
        harness.refresh(AnalyticsFailure::cancelled);
        QVERIFY(!harness.shown("failureBanner"));
        QVERIFY(!harness.text("statusText").endsWith(QStringLiteral("Out of date")));
    }

    void exampleWebsite()
    {
        PageHarness harness;
        harness.startStore({}, true);
        harness.load(QStringLiteral("DashboardView.qml"));
        AnalyticsSnapshot demo = ExampleWebsite::exampleSnapshot(Instant::now());
        demo.trackingInstalled = false;
        harness.refresh(demo);
        EXPECT_PAGE(harness, {{"websiteMenuLabel", QString::fromUtf16(ExampleWebsite::domain)}, {"demoBadge", visible},
                              {"demoBadge", "Demo"}, {"trackingSnippet", hidden}});
        harness.screenshots(QStringLiteral("dashboard-example"));
    }

    void recentActivity()
    {
        PageHarness harness;
        const Website quiet = testWebsite("quiet.example.org");
        AnalyticsSnapshot snapshot = testSnapshot();
        for (int i = 0; i < 7; ++i)
            snapshot.recentVisitors.append({"extra", "FR", QString::number(i), {}, {}, 10, snapshot.refreshedAt});
        harness.open(QStringLiteral("DashboardView.qml"), withWebsites({site, quiet}, {{site.id, snapshot}}));
        harness.click(QStringLiteral("segment:recent"));

        // Six of the seven countries with visitors, in delivered order; the zero and the negative
        // count between them do not count.
        QStringList countries;
        for (QQuickItem *label : harness.items(QStringLiteral("countryLabel")))
            countries.append(label->property("text").toString().section(QStringLiteral("  "), 1));
        QCOMPARE(countries, (QStringList{"Germany", "United States", "France", "Netherlands", "Kosovo", "Sweden"}));
        QCOMPARE(harness.text("countryVisitors"), "120");

        // The first eight of ten visitors, each summed up on its lines.
        const QList<QQuickItem *> entries = harness.items(QStringLiteral("visitorEntry"));
        QCOMPARE(entries.size(), 8);
        auto line = [&](int entry, const char *name) { return harness.text(name, entries[entry]); };
        QCOMPARE(line(0, "visitorCountry"), "Germany");
        QCOMPARE(line(0, "visitorDuration"), "1h 1m");
        QCOMPARE(line(0, "visitorSummary"), "google.com → /pricing +2");
        QCOMPARE(line(0, "visitorClicks"), "Clicked Start trial, Docs, Pricing");
        QVERIFY(!harness.item("visitorClicks", entries[1])->isVisible());
        QCOMPARE(line(7, "visitorSummary"), "4");
        QVERIFY(!harness.shown("noRecentActivity"));
        harness.screenshots(QStringLiteral("dashboard-recent"));

        // The menu offers both websites; the other one has no snapshot, so nothing to tell yet.
        harness.click(QStringLiteral("websiteMenu"));
        const QList<QQuickItem *> menu = harness.items(QStringLiteral("websiteMenuItem"), harness.window->contentItem());
        QCOMPARE(menu.size(), 2);
        QCOMPARE(menu[0]->property("text"), "blog.example.org");
        QVERIFY(menu[0]->property("selected").toBool());
        QVERIFY(!menu[1]->property("selected").toBool());
        harness.screenshots(QStringLiteral("dashboard-website-menu"));
        harness.click(menu[1]);
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(quiet.id));
        EXPECT_PAGE(harness, {{"websiteMenuLabel", "quiet.example.org"}, {"noRecentActivity", visible},
                              {"noRecentActivity", "No recent activity yet."}, {"countriesBlock", hidden},
                              {"visitorsBlock", hidden}});
        harness.screenshots(QStringLiteral("dashboard-recent-empty"));
    }

    void keyboardReachesTheControlsAndLeavesEscape()
    {
        PageHarness harness;
        const Website linked = testWebsite("blog.example.org", {}, "https://stats.example.org");
        // A stored snapshot without hours: no chart.
        AnalyticsSnapshot snapshot = testSnapshot();
        snapshot.hourlyVisitors = QList<HourlyVisitorCount>();
        harness.open(QStringLiteral("DashboardView.qml"), withWebsites({linked}, {{linked.id, snapshot}}));
        QVERIFY(!harness.shown("chartBlock"));

        QCOMPARE(harness.tabOrder(QStringLiteral("websiteMenu"), 5),
                 (QStringList{"websiteMenu", "settingsButton", "sectionSwitch", "refreshButton", "openDashboardButton"}));
        // The section switch moves with the arrow keys.
        harness.item("sectionSwitch")->forceActiveFocus(Qt::TabFocusReason);
        harness.key(Qt::Key_Right);
        QVERIFY(harness.shown("recentActivity"));
        QVERIFY(!harness.takesEscape());
    }
};

QTEST_MAIN(DashboardPageTest)
#include "DashboardPageTest.moc"
