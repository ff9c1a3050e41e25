// The website editor, loaded from its QML against a real store: its messages, its save and
// what the page does while and after the store works.
#include "PageHarness.h"

#include "BaseURL.h"
#include "Contrast.h"
#include "TrackingSnippet.h"

namespace {

const CredentialField apiKey{"apiKey", "API key", "Paste the key", true};
const QString editor = QStringLiteral("WebsiteEditorView.qml");
using QmlValues::idText;

}  // namespace

class EditorPageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { preparePageProcess(); }

    void addingValidatesThenWaitsForTheFirstRefresh()
    {
        PageHarness harness;
        QSignalSpy close(harness.open(editor), SIGNAL(close()));
        EXPECT_PAGE(harness,
                    {{"editorTitle", "Add website"},
                     {"confirmButton", "Connect website"},
                     {"trackingSnippet", hidden},
                     {"validationMessage", hidden},
                     {"snippetReminderText",
                      "A website address alone cannot supply analytics. "
                      "Paste the tracking snippet into the page head."}});
        harness.screenshots("editor-add");
        QCOMPARE(harness.item("nameField")->property("placeholderText"), "Optional");
        QCOMPARE(harness.item("domainField")->property("placeholderText"), "example.com");
        QCOMPARE(harness.item("dashboardField")->property("placeholderText"), "https://example.com");

        harness.click("confirmButton");
        QCOMPARE(harness.text("validationMessage"), "Enter a domain, such as example.com.");
        harness.screenshots("editor-domain-message");
        harness.typeInto("nameField", "   ");
        harness.typeInto("domainField", "HTTPS://Shop.Example.ORG/blog?x=1");
        harness.typeInto("dashboardField", "ftp://stats.example.org");
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.text("validationMessage"), "Enter a dashboard URL starting with https://.");
        QVERIFY(harness.provider->fetches.isEmpty());
        QVERIFY(harness.store->websites().isEmpty());

        // A blank dashboard is none. The store keeps the site and refreshes it; the page waits
        // and cannot save twice.
        harness.key(Qt::Key_A, Qt::ControlModifier);
        harness.typeInto("dashboardField", "   ");
        harness.key(Qt::Key_Return);
        EXPECT_PAGE(harness, {{"confirmButton", "Testing…"}, {"validationMessage", hidden}});
        harness.screenshots("editor-testing");
        QVERIFY(!harness.item("confirmButton")->isEnabled());
        // Disabled, its label still reads: 3:1 against the button's fill.
        const QImage image = harness.grab();
        const QRect button = harness.sceneRect(harness.item("confirmButton")).toRect();
        const QColor fill = image.pixelColor(button.left() + 3, button.center().y());
        QVERIFY(strongestContrast(image, button.adjusted(3, 3, -3, -3), fill) >= 3);
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.provider->fetches.size(), 1);
        QCOMPARE(close.size(), 0);
        const QList<Website> saved = harness.store->websites();
        QCOMPARE(saved, (QList<Website>{{saved.value(0).id, "", "shop.example.org", std::nullopt}}));

        // A failed first refresh still ends the save: the dashboard shows that failure.
        harness.provider->fail(0, AnalyticsFailure::unavailable);
        QTRY_COMPARE(close.size(), 1);
    }

    // Long values show their start, where the site's name is, not their end: as loaded (the
    // first field has the focus), and reached with Tab, which selects them for typing over.
    // Return saves from wherever the focus is on the page.
    void longValuesAndReturn_data()
    {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<bool>("tabbedInto");
        for (const char *field : {"nameField", "domainField", "dashboardField"}) {
            QTest::addRow("%s as loaded", field) << QString::fromLatin1(field) << false;
            QTest::addRow("%s tabbed into", field) << QString::fromLatin1(field) << true;
        }
        for (const char *other : {"backButton", "snippetText", "confirmButton"})
            QTest::newRow(other) << QString::fromLatin1(other) << true;
    }
    void longValuesAndReturn()
    {
        QFETCH(QString, focused);
        QFETCH(bool, tabbedInto);
        PageHarness harness;
        const QString domain = QStringLiteral("analytics.newsletter.subscriptions.bakery-example.org");
        const Website site = testWebsite(domain, "The Bakery on the Corner of the Long Street, " + domain,
                                         "https://stats.example.org/dashboards/" + domain + "/overview");
        harness.open(editor, withWebsites({site}), {{"websiteID", idText(site.id)}});
        if (focused == u"domainField" && !tabbedInto)
            harness.screenshots("editor-long-values");
        QQuickItem *input = harness.item(focused);
        const bool field = focused.endsWith(u"Field");
        if (!tabbedInto) {
            QCOMPARE(harness.window->activeFocusItem(), harness.item("nameField"));
        } else if (field) {
            harness.item("backButton")->forceActiveFocus(Qt::TabFocusReason);
            for (int stop = 0; stop < 4 && harness.window->activeFocusItem() != input; ++stop)
                harness.key(Qt::Key_Tab);
            QCOMPARE(harness.window->activeFocusItem(), input);
            QCOMPARE(input->property("selectedText"), input->property("text"));
        } else {
            input->forceActiveFocus(Qt::TabFocusReason);
        }
        if (field) {
            QVERIFY(input->property("contentWidth").toReal() > input->width());
            QRectF start;
            QMetaObject::invokeMethod(input, "positionToRectangle", Q_RETURN_ARG(QRectF, start), Q_ARG(int, 0));
            QVERIFY2(start.left() >= 0, qPrintable(QString::number(start.left())));
        }
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.text("confirmButton"), "Testing…");
        QCOMPARE(harness.provider->fetches.size(), 1);
    }

    void credentialsWhenAdding()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        QSignalSpy close(harness.open(editor), SIGNAL(close()));
        QCOMPARE(harness.item("credentialField:apiKey")->property("placeholderText"), "Paste the key");
        QCOMPARE(harness.item("credentialField:apiKey")->property("echoMode").toInt(), 2 /* TextInput.Password */);

        // A blank required credential is named.
        harness.typeInto("nameField", "My Shop");
        harness.typeInto("domainField", "shop.example.org");
        harness.typeInto("credentialField:apiKey", "   ");
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.text("validationMessage"), "Enter API key.");
        harness.screenshots("editor-credential-message");

        // A failed save keeps what was typed.
        harness.keychain->failing = true;
        harness.key(Qt::Key_A, Qt::ControlModifier);
        harness.typeInto("credentialField:apiKey", "secret-key");
        harness.click("confirmButton");
        QTRY_COMPARE(harness.text("validationMessage"), "Credentials could not be saved securely.");
        EXPECT_PAGE(harness,
                    {{"confirmButton", "Connect website"},
                     {"nameField", "My Shop"},
                     {"domainField", "shop.example.org"},
                     {"credentialField:apiKey", "secret-key"}});
        harness.screenshots("editor-save-failed");
        QCOMPARE(close.size(), 0);

        // The next attempt starts without the old message; Back leaves it running.
        harness.keychain->failing = false;
        harness.click("confirmButton");
        QVERIFY(!harness.shown("validationMessage"));
        QCOMPARE(harness.keychain->credentials.value(harness.store->websites().first().id).values.value("apiKey"),
                 "secret-key");
        harness.click("backButton");
        QCOMPARE(close.size(), 1);
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.provider->succeed(0, snapshot);
        QCOMPARE(harness.store->selectedSnapshot(), std::optional(snapshot));
    }

    void editingLoadsTheWebsite()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        const Website site = testWebsite("shop.example.org", "My Shop", "https://stats.example.org/shop");
        harness.keychain->credentials.insert(site.id, ProviderCredentials{{{"apiKey", "stored"}}});
        QSignalSpy close(harness.open(editor, withWebsites({site}), {{"websiteID", idText(site.id)}}), SIGNAL(close()));
        // Its tracking has not been seen: the reminder and the site's own snippet.
        EXPECT_PAGE(harness,
                    {{"editorTitle", "Edit website"},
                     {"confirmButton", "Save"},
                     {"nameField", "My Shop"},
                     {"domainField", "shop.example.org"},
                     {"dashboardField", "https://stats.example.org/shop"},
                     {"credentialField:apiKey", "stored"},
                     {"snippetReminder", visible}});
        QCOMPARE(harness.shownSnippet(), trackingSnippet(site.id, defaultBaseURL()));
        harness.screenshots("editor-edit");

        harness.key(Qt::Key_End);
        harness.typeInto("nameField", " Renamed");
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.store->websites(),
                 (QList<Website>{{site.id, "My Shop Renamed", site.domain, site.dashboardURLString}}));
        harness.provider->succeed(0, testSnapshot());
        QTRY_COMPARE(close.size(), 1);
    }

    // Also the keyboard: Tab walks the fields and Escape is left to the panel.
    void unreadableCredentialsAreSaidAtOnce()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        const Website site = testWebsite("shop.example.org", "My Shop");
        harness.keychain->failing = true;
        harness.open(editor, withWebsites({site}, {{site.id, testSnapshot()}}), {{"websiteID", idText(site.id)}});
        // Tracking is installed: no reminder.
        EXPECT_PAGE(harness,
                    {{"validationMessage", "Saved credentials could not be read."},
                     {"domainField", "shop.example.org"},
                     {"credentialField:apiKey", ""},
                     {"snippetReminder", hidden}});
        harness.screenshots("editor-credentials-unreadable");
        QCOMPARE(harness.tabOrder("backButton", 6),
                 (QStringList{"backButton", "nameField", "domainField", "dashboardField", "credentialField:apiKey",
                              "confirmButton"}));
        harness.item("domainField")->forceActiveFocus(Qt::TabFocusReason);
        QVERIFY(!harness.takesEscape());

        harness.keychain->failing = false;
        harness.typeInto("credentialField:apiKey", "new-key");
        harness.key(Qt::Key_Return);
        EXPECT_PAGE(harness, {{"validationMessage", hidden}, {"confirmButton", "Testing…"}});
    }
};

QTEST_MAIN(EditorPageTest)
#include "EditorPageTest.moc"
