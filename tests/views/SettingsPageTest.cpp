// The settings page, loaded from its QML against a real store.
#include "PageHarness.h"

#include <QPalette>

class SettingsPageTest : public QObject
{
    Q_OBJECT

    const Website blank = testWebsite("blank.example.org", " \n ");
    const Website sameAsDomain = testWebsite("same.example.org", "Same.Example.ORG");
    const Website named = testWebsite("shop.example.org", "  My Shop  ");
    const QString settings = QStringLiteral("SettingsView.qml");

    static QObject *singleton(PageHarness &harness, const char *name)
    {
        return harness.engine->singletonInstance<QObject *>(qmlTypeId("Orvela", 1, 0, name));
    }

private slots:
    void initTestCase() { preparePageProcess(); }

    void websiteRowsAndTheirActions()
    {
        PageHarness harness;
        QQuickItem *page = harness.open(settings, withWebsites({named, blank, sameAsDomain}));
        auto part = [&](const Website &site, const char *name) {
            return harness.item("websiteRow:" + site.domain + u'/' + name);
        };
        // The trimmed name, or the domain when the name is blank; the domain below only when
        // the name says something else. Both are shown whole beside the buttons.
        const QList<std::tuple<Website, QString, QString>> rows{
            {blank, "blank.example.org", ""}, {sameAsDomain, "Same.Example.ORG", ""}, {named, "My Shop", "shop.example.org"}};
        for (const auto &[site, title, subtitle] : rows) {
            QCOMPARE(part(site, "rowTitle")->property("text"), title);
            QVERIFY(part(site, "rowTitle")->width() >= part(site, "rowTitle")->implicitWidth());
            QVERIFY(part(site, "rowTitle")->height() > 0);
            QCOMPARE(part(site, "rowSubtitle")->isVisible(), !subtitle.isEmpty());
            if (!subtitle.isEmpty()) {
                QCOMPARE(part(site, "rowSubtitle")->property("text"), subtitle);
                QVERIFY(part(site, "rowSubtitle")->width() >= part(site, "rowSubtitle")->implicitWidth());
            }
            // Only the selected website carries the checkmark.
            QCOMPARE(part(site, "selectedMark")->isVisible(), site.id == named.id);
        }
        EXPECT_PAGE(harness, {{"noWebsite", hidden}, {"addWebsiteButton", "Add website"}});
        harness.screenshots("settings");

        QSignalSpy close(page, SIGNAL(close())), edit(page, SIGNAL(edit(QString))), add(page, SIGNAL(add()));
        QSignalSpy quit(singleton(harness, "Desktop"), SIGNAL(quitRequested()));
        // Edit opens the editor for that website and leaves the selection alone.
        harness.click(part(blank, "editButton"));
        QCOMPARE(edit.size(), 1);
        QCOMPARE(edit.first().first().toString(), QmlValues::idText(blank.id));
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(named.id));
        QCOMPARE(close.size(), 0);

        // Choosing a row selects it and returns to the dashboard.
        harness.click(part(blank, "selectButton"));
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(blank.id));
        QCOMPARE(close.size(), 1);
        QVERIFY(part(blank, "selectedMark")->isVisible());

        // Remove takes effect at once.
        harness.click(part(named, "removeButton"));
        QCOMPARE(harness.store->websites(), (QList<Website>{blank, sameAsDomain}));
        QVERIFY(!harness.find("websiteRow:" + named.domain));
        harness.click(part(blank, "removeButton"));
        harness.click(part(sameAsDomain, "removeButton"));
        QVERIFY(harness.store->websites().isEmpty());
        EXPECT_PAGE(harness, {{"noWebsite", visible}, {"noWebsite", "No website yet."}, {"quitButton", "Quit Orvela"}});
        harness.screenshots("settings-no-website");

        harness.click("addWebsiteButton");
        QCOMPARE(add.size(), 1);
        harness.click("backButton");
        QCOMPARE(close.size(), 2);
        harness.click("quitButton");
        QCOMPARE(quit.size(), 1);
    }

    void choicesGoToTheStore()
    {
        PageHarness harness;
        harness.provider->minimum = 90;
        harness.open(settings, withWebsites({named}));
        // The provider refreshes less often than the chosen 60 seconds: the page says so.
        EXPECT_PAGE(harness, {{"refreshCaption", "This provider allows a refresh every 90 seconds."},
                              {"menuBarSwitch/segment:live", "Live"}, {"menuBarSwitch/segment:today", "Today"},
                              {"menuBarSwitch/segment:week", "Week"}, {"menuBarSwitch/segment:month", "Month"},
                              {"menuBarSwitch/segment:allTime", "All time"}});
        harness.screenshots("settings-refresh-caption");

        harness.click("segment:120");
        QCOMPARE(harness.store->refreshInterval(), RefreshInterval::oneTwenty);
        QVERIFY(!harness.shown("refreshCaption"));
        harness.click("segment:week");
        QCOMPARE(harness.store->menuBarMetric(), MenuBarMetric::week);

        // The keyboard: one stop per switch, the arrows choose.
        harness.item("refreshSwitch")->forceActiveFocus(Qt::TabFocusReason);
        harness.key(Qt::Key_Left);
        QCOMPARE(harness.store->refreshInterval(), RefreshInterval::sixty);
        harness.key(Qt::Key_Tab);
        QCOMPARE(harness.window->activeFocusItem(), harness.item("menuBarSwitch"));
        harness.key(Qt::Key_Right);
        QCOMPARE(harness.store->menuBarMetric(), MenuBarMetric::month);

        // A forced scheme wins over the desktop's; the system one follows the desktop's palette.
        QObject *theme = singleton(harness, "Theme");
        harness.click("segment:dark");
        QCOMPARE(harness.store->panelAppearance(), PanelAppearance::dark);
        QVERIFY(theme->property("dark").toBool());
        const QPalette original = QGuiApplication::palette();
        QPalette night = original;
        night.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        QGuiApplication::setPalette(night);
        harness.click("segment:light");
        QVERIFY(!theme->property("dark").toBool());
        harness.click("segment:system");
        QCOMPARE(harness.store->panelAppearance(), PanelAppearance::system);
        QVERIFY(theme->property("dark").toBool());
        QGuiApplication::setPalette(original);
        settle();
        QVERIFY(!theme->property("dark").toBool());
    }
};

QTEST_MAIN(SettingsPageTest)
#include "SettingsPageTest.moc"
