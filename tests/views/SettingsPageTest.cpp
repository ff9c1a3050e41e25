// The settings page, loaded from its QML against a real store.
#include "BaseURL.h"
#include "PageHarness.h"
#include "ScriptedServer.h"

#include <QPalette>
#include <QScopeGuard>

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
        const QList<std::tuple<Website, QString, QString>> rows{{blank, "blank.example.org", ""},
                                                                {sameAsDomain, "Same.Example.ORG", ""},
                                                                {named, "My Shop", "shop.example.org"}};
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
        EXPECT_PAGE(harness,
                    {{"refreshCaption", "This provider allows a refresh every 90 seconds."},
                     {"menuBarSwitch/segment:live", "Live"},
                     {"menuBarSwitch/segment:today", "Today"},
                     {"menuBarSwitch/segment:week", "Week"},
                     {"menuBarSwitch/segment:month", "Month"},
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

    // Typed into the page, connected against a service on loopback, as a user would.
    void connectingAnAccount()
    {
        const QUrl before = defaultBaseURL();
        const auto restore = qScopeGuard([&] { setDefaultBaseURL(before); });
        ScriptedServer service;
        service.enqueue({200, R"({"websites":[],"refreshInterval":60,"updatedAt":"2026-01-02T03:04:05Z"})",
                         std::chrono::milliseconds(400)});
        PageHarness harness;
        harness.realSyncClient = true;
        harness.open(settings);
        EXPECT_PAGE(harness,
                    {{"serviceField", before.toString()},
                     {"tokenField", ""},
                     {"disconnectButton", hidden},
                     {"syncRow", hidden},
                     {"serviceMessage", hidden},
                     {"tokenMessage", hidden}});

        const auto replaceText = [&](const QString &field, const QString &text) {
            harness.item(field)->forceActiveFocus(Qt::TabFocusReason);
            harness.key(Qt::Key_A, Qt::ControlModifier);
            harness.typeInto(field, text);
        };
        // Refused under their fields, and nothing kept: no token may go to an address it was not given for.
        replaceText("serviceField", "http://stats.example.net");
        harness.click("connectButton");
        EXPECT_PAGE(harness,
                    {{"serviceMessage", "Use https: plain http is only for a service on this computer."},
                     {"tokenMessage", "Enter the sync token to connect."}});
        replaceText("serviceField", service.url().toString() + "/api");
        harness.typeInto("tokenField", "tok-1");
        harness.click("connectButton");
        EXPECT_PAGE(harness,
                    {{"serviceMessage", "Enter the address alone, without a path."}, {"tokenMessage", hidden}});
        QCOMPARE(harness.keychain->token, std::nullopt);
        QCOMPARE(harness.store->baseURL(), before);

        // Return connects; the token is kept, never shown back, and the status follows the sync.
        replaceText("serviceField", service.url().toString());
        harness.key(Qt::Key_Return);
        EXPECT_PAGE(harness,
                    {{"serviceMessage", hidden},
                     {"tokenField", ""},
                     {"accountStatus", "Sync token saved."},
                     {"syncSpinner", visible},
                     {"disconnectButton", visible}});
        QCOMPARE(harness.keychain->token, QStringLiteral("tok-1"));
        QTRY_COMPARE(harness.text("accountStatus"), QStringLiteral("Loaded from your account."));
        EXPECT_PAGE(harness,
                    {{"syncSpinner", hidden}, {"lastSync", visible}, {"serviceField", service.url().toString()}});
        QVERIFY(harness.text("lastSync").startsWith(QStringLiteral("Last synced ")));
        QCOMPARE(harness.defaults.settings->value("orvela.baseURL").toString(), service.url().toString());
        const auto requests = service.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].header("Authorization"), QByteArray("Bearer tok-1"));
        harness.screenshots("settings-account");

        // The websites stay on this computer.
        harness.click("disconnectButton");
        EXPECT_PAGE(harness, {{"accountStatus", "Sync token removed."}, {"disconnectButton", hidden}});
        QCOMPARE(harness.keychain->token, std::nullopt);

        // A keyring that says no: the field cannot take a token, and the page says why.
        harness.keychain->reachable = SecretStoreReach::noSecretService;
        harness.store->refreshSyncTokenState();
        EXPECT_PAGE(harness, {{"tokenMessage", "No keyring (Secret Service) is running to keep a token."}});
        QVERIFY(!harness.item("tokenField")->isEnabled());
        QVERIFY(!harness.item("connectButton")->isEnabled());
    }
};

QTEST_MAIN(SettingsPageTest)
#include "SettingsPageTest.moc"
