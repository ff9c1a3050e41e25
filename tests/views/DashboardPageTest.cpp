// The dashboard and the empty state, loaded from their QML against a real store.
#include "PageHarness.h"

#include "BaseURL.h"
#include "ChartText.h"
#include "Contrast.h"
#include "DateText.h"
#include "ExampleWebsite.h"
#include "TrackingSnippet.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QJSValue>

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

// The website menu's popup (a child of the menu button, not an item of the page).
QObject *websiteMenuPopup(PageHarness &harness)
{
    return harness.item("websiteMenu")->findChild<QObject *>("websiteMenuPopup");
}

QRectF popupRect(PageHarness &harness, QObject *popup)
{
    return harness.sceneRect(popup->property("background").value<QQuickItem *>());
}

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

    // Websites not refreshed yet. The snippet shows whole, broken between its attributes (only
    // the site id, longer than a line, breaks inside); "Copied" lasts until the section or the
    // website changes. Also the page's keyboard and the dashboard's address.
    void websitesWithoutSnapshot()
    {
        PageHarness harness;
        const Website shop = testWebsite("shop.example.org", "Shop", "https://stats.example.org/shop");
        const Website other = testWebsite("other.example.org");
        harness.open("DashboardView.qml", withWebsites({shop, other}));
        // Without a snapshot nobody has seen the tracking script yet.
        const QString snippet = trackingSnippet(shop.id, defaultBaseURL());
        EXPECT_PAGE(harness,
                    {{"websiteMenuLabel", "shop.example.org"},
                     {"demoBadge", hidden},
                     {"liveValue", "—"},
                     {"visitorsToday/value", "—"},
                     {"pageViewsToday/value", "—"},
                     {"chartBlock", hidden},
                     {"failureBanner", hidden},
                     {"statusText", "Not updated yet"},
                     {"trackingSnippet", visible}});
        QCOMPARE(harness.shownSnippet(), snippet);
        QQuickItem *text = harness.item("snippetText");
        const QString shown = text->property("text").toString();
        QStringList lines{QString()};
        qreal lineTop = 0;
        for (int position = 0; position < shown.size(); ++position) {
            QRectF cursor;
            QMetaObject::invokeMethod(text, "positionToRectangle", Q_RETURN_ARG(QRectF, cursor), Q_ARG(int, position));
            if (position > 0 && cursor.y() > lineTop)
                lines.append(QString());
            lineTop = cursor.y();
            lines.last().append(shown[position]);
        }
        QVERIFY2(lines.size() <= 4, qPrintable(lines.join(u'|')));
        QVERIFY(text->height() >= text->property("contentHeight").toReal());
        for (qsizetype line = 0; line + 1 < lines.size(); ++line)
            QVERIFY2(lines[line].endsWith(u'\n') || !lines[line].contains(u' '), qPrintable(lines.join(u'|')));
        harness.screenshots("dashboard-no-snapshot");
        QCOMPARE(harness.tabOrder("websiteMenu", 6),
                 (QStringList{"websiteMenu", "settingsButton", "sectionSwitch", "copySnippetButton", "refreshButton",
                              "openDashboardButton"}));
        QVERIFY(!harness.takesEscape());

        BrowserStandIn browser;
        QDesktopServices::setUrlHandler("https", &browser, "open");
        harness.click("openDashboardButton");
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(browser.opened, QList<QUrl>{QUrl("https://stats.example.org/shop")});

        // The section switch moves with the arrow keys.
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

        harness.click("copySnippetButton");
        harness.store->selectWebsite(other.id);
        settle();
        const QString otherSnippet = trackingSnippet(other.id, defaultBaseURL());
        QCOMPARE(harness.shownSnippet(), otherSnippet);
        QCOMPARE(harness.text("copySnippetButton"), "Copy");
        harness.click("copySnippetButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), otherSnippet);
    }

    // One website through its refreshes: a failure without figures, figures, a cancelled refresh
    // that is no failure, a failure over the figures.
    void refreshesAndFailures()
    {
        PageHarness harness;
        harness.open("DashboardView.qml", withWebsites({site}));
        harness.refresh(AnalyticsFailure::invalidCredentials);
        EXPECT_PAGE(
            harness,
            {{"failureMessage", AnalyticsFailures::message(AnalyticsFailure::invalidCredentials)}, {"statusText", ""}});
        harness.screenshots("dashboard-failure");

        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.refresh(snapshot);
        harness.refresh(AnalyticsFailure::cancelled);  // no failure: no banner, not out of date
        EXPECT_PAGE(harness,
                    {{"liveValue", "1,234"},
                     {"visitorsToday/value", "5,678"},
                     {"pageViewsToday/value", "12,345"},
                     {"statusText", "Updated " + updatedTimeText(snapshot.refreshedAt)},
                     {"failureBanner", hidden},
                     {"trackingSnippet", hidden},
                     {"openDashboardButton", hidden},
                     {"chartReadout", hidden}});
        harness.screenshots("dashboard-snapshot");

        harness.refresh(AnalyticsFailure::offline);
        EXPECT_PAGE(harness,
                    {{"liveValue", "1,234"},
                     {"failureBanner", visible},
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

    // A status that fits shows whole; a long one elides. The refresh button and "Open
    // dashboard" keep their whole width, and their focus rings stay inside the panel.
    void footerButtonsAlwaysFit_data()
    {
        QTest::addColumn<bool>("longStatus");
        QTest::addColumn<bool>("refreshing");
        QTest::newRow("short status") << false << false;
        QTest::newRow("long status") << true << false;
        QTest::newRow("long status, refreshing") << true << true;
    }
    void footerButtonsAlwaysFit()
    {
        QFETCH(bool, longStatus);
        QFETCH(bool, refreshing);
        PageHarness harness;
        const Website shop = testWebsite("shop.example.org", "Shop", "https://stats.example.org/shop");
        harness.open("DashboardView.qml", withWebsites({shop}));
        AnalyticsSnapshot snapshot = testSnapshot();
        if (longStatus)
            snapshot.refreshedAt =
                Instant::fromUnixSeconds(double(QDateTime(QDate(2026, 12, 5), QTime(9, 32)).toSecsSinceEpoch()));
        harness.refresh(snapshot);
        if (longStatus)
            harness.refresh(AnalyticsFailure::offline);
        if (refreshing)
            harness.click("retryButton");
        QCOMPARE(harness.text("statusText"),
                 "Updated " + updatedTimeText(snapshot.refreshedAt) + (longStatus ? " · Out of date" : ""));
        if (longStatus && !refreshing)
            harness.screenshots("dashboard-long-status");

        QQuickItem *status = harness.item("statusText");
        QCOMPARE(status->property("truncated").toBool(), longStatus);
        QVERIFY(harness.sceneRect(status).right() <= harness.sceneRect(harness.item("refreshButton")).left());
        for (const char *name : {"refreshButton", "openDashboardButton"}) {
            QQuickItem *button = harness.item(name);
            QVERIFY2(button->isVisible() && button->width() >= button->implicitWidth(), name);
            QVERIFY2(harness.sceneRect(button).right() <= 320 - 16, name);
            const QRectF ring = harness.sceneRect(button->property("background").value<QQuickItem *>());
            QVERIFY2(ring.left() >= 0 && ring.right() <= 320, name);
        }
        if (refreshing) {
            // The spinner stands out from the page as any symbol does.
            const QImage image = harness.grab();
            const QRect spinner = harness.sceneRect(harness.item("refreshButton")).toRect();
            QVERIFY(strongestContrast(image, spinner, image.pixelColor(1, 1)) >= 3);
        }
    }

    // Each of the day's figures takes half the row, whatever the other one shows.
    void dailyFiguresShareTheRow_data()
    {
        QTest::addColumn<qint64>("visitors");
        QTest::addColumn<qint64>("pageViews");
        QTest::newRow("usual") << qint64(5678) << qint64(12345);
        QTest::newRow("large visitors") << qint64(123'456'789) << qint64(12);
        QTest::newRow("large page views") << qint64(12) << qint64(123'456'789);
    }
    void dailyFiguresShareTheRow()
    {
        QFETCH(qint64, visitors);
        QFETCH(qint64, pageViews);
        PageHarness harness;
        AnalyticsSnapshot snapshot = testSnapshot();
        snapshot.visitorsToday = visitors;
        snapshot.pageViewsToday = pageViews;
        harness.open("DashboardView.qml", withWebsites({site}, {{site.id, snapshot}}));
        if (visitors > pageViews)
            harness.screenshots("dashboard-large-count");
        QQuickItem *first = harness.item("visitorsToday"), *second = harness.item("pageViewsToday");
        QVERIFY(std::abs(first->width() - second->width()) <= 1);
        for (QQuickItem *cell : {first, second}) {
            QQuickItem *value = harness.item("value", cell);
            QCOMPARE(value->property("fontInfo").value<QJSValue>().property("pixelSize").toInt(), 18);
            QVERIFY(value->property("contentWidth").toReal() <= value->width());
        }
    }

    // One bar per hour on whole pixels: the bars stand on one pixel row and end where the
    // divider ends; the busiest fills the height, an hour without visitors keeps 1 px. Pointing
    // at a bar, or straight at the next, reads it out in the heading, and nothing covers it.
    void chartBarsShareABaseline()
    {
        PageHarness harness;
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.open("DashboardView.qml", withWebsites({site}, {{site.id, snapshot}}));
        const QList<QQuickItem *> bars = harness.items("barFill");
        QCOMPARE(bars.size(), 24);
        QCOMPARE(bars[18]->height(), 80.0);
        QCOMPARE(bars[2]->height(), 1.0);
        QCOMPARE(bars[9]->height(), std::round(31.0 / 52 * 80));
        const QRectF divider = harness.sceneRect(harness.item("chartDivider"));
        const QImage image = harness.grab();
        const QColor window = image.pixelColor(1, 1);
        const qreal baseline = harness.sceneRect(bars.first()).bottom();
        for (QQuickItem *bar : bars) {
            const QRectF area = harness.sceneRect(bar);
            QCOMPARE(area.bottom(), baseline);
            QVERIFY(area.left() >= divider.left() && area.right() <= divider.right());
            // Drawn down to the baseline's pixel row and no further.
            const int x = int(area.center().x());
            QVERIFY(image.pixelColor(x, int(baseline) - 1) != window);
            QCOMPARE(image.pixelColor(x, int(baseline)), window);
        }
        for (int x = int(divider.right()); x < 320; ++x)
            for (int y = int(baseline) - 80; y < int(baseline); ++y)
                QCOMPARE(image.pixelColor(x, y), window);

        for (int hour : {18, 19}) {
            harness.hover(bars[hour]->parentItem());
            QCOMPARE(harness.text("chartReadout"), hourReadout((*snapshot.hourlyVisitors)[hour]));
        }
        QTest::qWait(1500);  // longer than any tooltip's delay
        QVERIFY(harness.openPopups().isEmpty());
        harness.hover();
        QVERIFY(!harness.shown("chartReadout"));
    }

    // The menu is as wide as its longest domain needs, up to the panel's width.
    void websiteMenuFitsItsDomains_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<bool>("whole");
        QTest::newRow("wider than a narrow menu") << "newsletter.bakery-example.org" << true;
        QTest::newRow("wider than the panel") << "analytics.newsletter.subscriptions.bakery-example.org" << false;
    }
    void websiteMenuFitsItsDomains()
    {
        QFETCH(QString, domain);
        QFETCH(bool, whole);
        PageHarness harness;
        harness.open("DashboardView.qml", withWebsites({site, testWebsite(domain)}));
        harness.click("websiteMenu");
        QObject *popup = websiteMenuPopup(harness);
        QVERIFY(popup->property("opened").toBool());
        const QRectF menu = popupRect(harness, popup);
        QVERIFY(menu.left() >= 0 && menu.right() <= 320);
        const QList<QQuickItem *> labels = harness.items("websiteMenuItemLabel", harness.window->contentItem());
        QCOMPARE(labels.size(), 2);
        QCOMPARE(labels[1]->property("text").toString(), domain);
        QCOMPARE(labels[1]->property("truncated").toBool(), !whole);
        if (!whole) {
            QVERIFY(menu.width() >= 320 - 2 * 8);
            harness.screenshots("dashboard-website-menu-wide");
        }
    }

    // More websites than the page is tall: the menu stays inside the page, shows that it
    // scrolls, and opens with the selected website in view. Escape closes the menu, not more.
    void websiteMenuScrolls()
    {
        PageHarness harness;
        QList<Website> websites;
        for (int i = 0; i < 30; ++i)
            websites.append(testWebsite(QStringLiteral("site%1.example.org").arg(i)));
        harness.open("DashboardView.qml", withWebsites(websites));
        harness.store->selectWebsite(websites[24].id);
        harness.click("websiteMenu");
        QObject *popup = websiteMenuPopup(harness);
        QVERIFY(popup->property("opened").toBool());
        const QRectF menu = popupRect(harness, popup);
        QVERIFY(menu.top() >= 0 && menu.bottom() <= harness.window->height());
        QQuickItem *bar = harness.find("websiteMenuScrollBar", harness.window->contentItem());
        QVERIFY(bar && bar->isVisible() && bar->height() > 0);
        QVERIFY(bar->property("size").toReal() < 1);
        const QImage image = harness.grab();
        const QColor menuBackground = image.pixelColor(int(menu.left()) + 4, int(menu.center().y()));
        QVERIFY(strongestContrast(image, harness.sceneRect(bar).toRect(), menuBackground) >= 3);
        QQuickItem *selected = nullptr;
        for (QQuickItem *entry : harness.items("websiteMenuItem", harness.window->contentItem()))
            if (entry->property("selected").toBool())
                selected = entry;
        QVERIFY(selected);
        QVERIFY(menu.contains(harness.sceneRect(selected)));
        harness.screenshots("dashboard-website-menu-long");

        QVERIFY(harness.takesEscape());
        QVERIFY(!popup->property("visible").toBool());
        QVERIFY(!harness.takesEscape());
    }

    void exampleWebsiteIsMarked()
    {
        PageHarness harness;
        harness.keepExample = true;
        harness.open("DashboardView.qml");
        EXPECT_PAGE(harness,
                    {{"websiteMenuLabel", QString::fromUtf16(ExampleWebsite::domain)},
                     {"demoBadge", visible},
                     {"demoBadge", "Demo"},
                     {"trackingSnippet", hidden}});
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
        EXPECT_PAGE(harness,
                    {{"visitorCountry", "Germany"},
                     {"visitorDuration", "1h 1m"},
                     {"visitorSummary", "google.com → /pricing +2"},
                     {"visitorClicks", "Clicked Start trial, Docs, Pricing"},
                     {"noRecentActivity", hidden}});
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
        EXPECT_PAGE(harness,
                    {{"websiteMenuLabel", "quiet.example.org"},
                     {"noRecentActivity", visible},
                     {"noRecentActivity", "No recent activity yet."},
                     {"countriesBlock", hidden},
                     {"visitorsBlock", hidden}});
        harness.screenshots("dashboard-recent-empty");
    }
};

QTEST_MAIN(DashboardPageTest)
#include "DashboardPageTest.moc"
