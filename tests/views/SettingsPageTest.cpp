// The settings page, loaded from its QML against a real store.
#include "PageHarness.h"

#include <QGuiApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>

namespace {

PersistedState stateWith(const QList<Website> &websites, std::optional<QUuid> selected)
{
    PersistedState state;
    state.websites = websites;
    state.selectedWebsiteID = selected;
    return state;
}

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

}  // namespace

class SettingsPageTest : public QObject
{
    Q_OBJECT

    const Website blank = testWebsite("blank.example.org", " \n ");
    const Website sameAsDomain = testWebsite("same.example.org", "Same.Example.ORG");
    const Website named = testWebsite("shop.example.org", "  My Shop  ");

private slots:
    void initTestCase() { PageHarness::prepareProcess(); }

    void websiteRows()
    {
        PageHarness harness;
        harness.startStore(stateWith({blank, sameAsDomain, named}, named.id));
        harness.load(QStringLiteral("SettingsView.qml"));

        QVERIFY(!harness.shown("noWebsite"));
        auto row = [&](const Website &site) { return harness.item("websiteRow:" + site.domain); };
        auto part = [&](const Website &site, const char *name) { return harness.item(name, row(site)); };
        QCOMPARE(part(blank, "rowTitle")->property("text"), "blank.example.org");
        QVERIFY(!part(blank, "rowSubtitle")->isVisible());
        QCOMPARE(part(sameAsDomain, "rowTitle")->property("text"), "Same.Example.ORG");
        QVERIFY(!part(sameAsDomain, "rowSubtitle")->isVisible());
        QCOMPARE(part(named, "rowTitle")->property("text"), "My Shop");
        QVERIFY(part(named, "rowSubtitle")->isVisible());
        QCOMPARE(part(named, "rowSubtitle")->property("text"), "shop.example.org");
        // Titles and subtitles are shown whole beside the buttons.
        for (const Website &site : {blank, sameAsDomain, named}) {
            QQuickItem *title = part(site, "rowTitle");
            QVERIFY(title->width() >= title->implicitWidth());
            QVERIFY(title->height() > 0);
        }
        QVERIFY(part(named, "rowSubtitle")->width() >= part(named, "rowSubtitle")->implicitWidth());
        // Only the selected website carries the checkmark.
        QVERIFY(part(named, "selectedMark")->isVisible());
        QVERIFY(!part(blank, "selectedMark")->isVisible());
        QCOMPARE(harness.text("addWebsiteButton"), "Add website");
        QVERIFY(!harness.shown("refreshCaption"));
        harness.screenshots(QStringLiteral("settings"));
    }

    void rowActions()
    {
        PageHarness harness;
        harness.startStore(stateWith({blank, named}, named.id));
        QQuickItem *page = harness.load(QStringLiteral("SettingsView.qml"));
        QSignalSpy close(page, SIGNAL(close()));
        QSignalSpy edit(page, SIGNAL(edit(QString)));

        auto part = [&](const Website &site, const char *name) {
            return harness.item(name, harness.item("websiteRow:" + site.domain));
        };
        // Edit opens the editor for that website and leaves the selection alone.
        harness.click(part(blank, "editButton"));
        QCOMPARE(edit.size(), 1);
        QCOMPARE(edit.first().first().toString(), idText(blank.id));
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(named.id));
        QCOMPARE(close.size(), 0);

        // Choosing a row selects it and returns to the dashboard.
        harness.click(part(blank, "selectButton"));
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(blank.id));
        QCOMPARE(close.size(), 1);
        QVERIFY(part(blank, "selectedMark")->isVisible());

        // Remove takes effect at once.
        harness.click(part(named, "removeButton"));
        QCOMPARE(harness.store->websites(), QList<Website>{blank});
        QVERIFY(!harness.find("websiteRow:" + named.domain));
        harness.click(part(blank, "removeButton"));
        QVERIFY(harness.store->websites().isEmpty());
        QVERIFY(harness.shown("noWebsite"));
        QCOMPARE(harness.text("noWebsite"), "No website yet.");
        harness.screenshots(QStringLiteral("settings-no-website"));
    }

    void addAndBack()
    {
        PageHarness harness;
        harness.startStore();
        QQuickItem *page = harness.load(QStringLiteral("SettingsView.qml"));
        QSignalSpy add(page, SIGNAL(add()));
        QSignalSpy close(page, SIGNAL(close()));
        harness.click(QStringLiteral("addWebsiteButton"));
        QCOMPARE(add.size(), 1);
        harness.click(QStringLiteral("backButton"));
        QCOMPARE(close.size(), 1);
    }

    void choicesGoToTheStore()
    {
        PageHarness harness;
        harness.startStore(stateWith({named}, named.id));
        harness.load(QStringLiteral("SettingsView.qml"));
        QSignalSpy intervalChanged(harness.store.get(), &AppStore::refreshIntervalChanged);

        // The metrics side by side in their order.
        QStringList titles;
        double left = -1;
        for (const char *metric : {"live", "today", "week", "month", "allTime"}) {
            QQuickItem *segment = harness.item(QStringLiteral("segment:") + metric, harness.item("menuBarSwitch"));
            QVERIFY(segment->x() > left);
            left = segment->x();
            titles.append(segment->property("text").toString());
        }
        QCOMPARE(titles, (QStringList{"Live", "Today", "Week", "Month", "All time"}));

        harness.click(QStringLiteral("segment:120"));
        QCOMPARE(harness.store->refreshInterval(), RefreshInterval::oneTwenty);
        harness.click(QStringLiteral("segment:120"));
        QCOMPARE(intervalChanged.size(), 1);
        harness.click(QStringLiteral("segment:week"));
        QCOMPARE(harness.store->menuBarMetric(), MenuBarMetric::week);
        harness.click(QStringLiteral("segment:dark"));
        QCOMPARE(harness.store->panelAppearance(), PanelAppearance::dark);
        QVERIFY(harness.engine->singletonInstance<QObject *>(qmlTypeId("Orvela", 1, 0, "Theme"))->property("dark").toBool());

        // The keyboard: one stop per switch, the arrows choose.
        harness.item("refreshSwitch")->forceActiveFocus(Qt::TabFocusReason);
        harness.key(Qt::Key_Left);
        QCOMPARE(harness.store->refreshInterval(), RefreshInterval::sixty);
        harness.key(Qt::Key_Tab);
        QCOMPARE(harness.window->activeFocusItem(), harness.item("menuBarSwitch"));
        harness.key(Qt::Key_Right);
        QCOMPARE(harness.store->menuBarMetric(), MenuBarMetric::month);
    }

    void systemAppearanceFollowsTheDesktop()
    {
        PageHarness harness;
        harness.startStore();
        harness.load(QStringLiteral("SettingsView.qml"));
        QObject *theme = harness.engine->singletonInstance<QObject *>(qmlTypeId("Orvela", 1, 0, "Theme"));
        const QPalette original = QGuiApplication::palette();

        harness.click(QStringLiteral("segment:system"));
        QCOMPARE(harness.store->panelAppearance(), PanelAppearance::system);
        QPalette night = original;
        night.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        QGuiApplication::setPalette(night);
        settle();
        QVERIFY(theme->property("dark").toBool());

        // A forced scheme wins over the desktop's.
        harness.click(QStringLiteral("segment:light"));
        QVERIFY(!theme->property("dark").toBool());
        harness.click(QStringLiteral("segment:system"));
        QVERIFY(theme->property("dark").toBool());
        QGuiApplication::setPalette(original);
        settle();
        QVERIFY(!theme->property("dark").toBool());
    }

    void captionForAProviderThatRefreshesLess()
    {
        PageHarness harness;
        harness.provider->minimum = 90;
        harness.startStore(stateWith({named}, named.id));
        harness.load(QStringLiteral("SettingsView.qml"));

        QCOMPARE(harness.text("refreshCaption"), "This provider allows a refresh every 90 seconds.");
        harness.screenshots(QStringLiteral("settings-refresh-caption"));
        harness.click(QStringLiteral("segment:120"));
        QVERIFY(!harness.shown("refreshCaption"));
    }

    void quitAsksTheApplicationToEnd()
    {
        PageHarness harness;
        harness.startStore();
        harness.load(QStringLiteral("SettingsView.qml"));
        QObject *desktop = harness.engine->singletonInstance<QObject *>(qmlTypeId("Orvela", 1, 0, "Desktop"));
        QSignalSpy quit(desktop, SIGNAL(quitRequested()));
        QCOMPARE(harness.text("quitButton"), "Quit Orvela");
        harness.click(QStringLiteral("quitButton"));
        QCOMPARE(quit.size(), 1);
    }
};

QTEST_MAIN(SettingsPageTest)
#include "SettingsPageTest.moc"
