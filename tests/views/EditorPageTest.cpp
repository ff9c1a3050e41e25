// The website editor, loaded from its QML against a real store: its messages, its save and
// what the page does while and after the store works.
#include "PageHarness.h"

#include "BaseURL.h"
#include "ExampleWebsite.h"
#include "TrackingSnippet.h"

namespace {

const CredentialField apiKey{QStringLiteral("apiKey"), QStringLiteral("API key"), QStringLiteral("Paste the key"), true};
const QString editor = QStringLiteral("WebsiteEditorView.qml");

}  // namespace

class EditorPageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { preparePageProcess(); }

    void addingValidatesBeforeSaving()
    {
        PageHarness harness;
        QSignalSpy close(harness.open(editor), SIGNAL(close()));
        EXPECT_PAGE(harness, {{"editorTitle", "Add website"}, {"confirmButton", "Connect website"},
                              {"trackingSnippet", hidden}, {"validationMessage", hidden},
                              {"snippetReminderText", "A website address alone cannot supply analytics. "
                                                      "Paste the tracking snippet into the page head."}});
        QCOMPARE(harness.item("nameField")->property("placeholderText"), "Optional");
        QCOMPARE(harness.item("domainField")->property("placeholderText"), "example.com");
        QCOMPARE(harness.item("dashboardField")->property("placeholderText"), "https://example.com");
        harness.screenshots(QStringLiteral("editor-add"));

        harness.click(QStringLiteral("confirmButton"));
        QCOMPARE(harness.text("validationMessage"), "Enter a domain, such as example.com.");
        harness.screenshots(QStringLiteral("editor-domain-message"));
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("shop.example.org"));
        harness.typeInto(QStringLiteral("dashboardField"), QStringLiteral("ftp://stats.example.org"));
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.text("validationMessage"), "Enter a dashboard URL starting with https://.");
        QCOMPARE(close.size(), 0);
        QVERIFY(harness.provider->fetches.isEmpty());
        QVERIFY(harness.store->websites().isEmpty());
    }

    void savingWaitsForTheFirstRefresh()
    {
        PageHarness harness;
        QSignalSpy close(harness.open(editor), SIGNAL(close()));
        harness.typeInto(QStringLiteral("nameField"), QStringLiteral("   "));
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("HTTPS://Shop.Example.ORG/blog?x=1"));
        harness.typeInto(QStringLiteral("dashboardField"), QStringLiteral("   "));
        harness.key(Qt::Key_Return);

        // The store has kept the site and refreshes it; the page waits and cannot save twice.
        EXPECT_PAGE(harness, {{"confirmButton", "Testing…"}, {"validationMessage", hidden}});
        QVERIFY(!harness.item("confirmButton")->isEnabled());
        harness.screenshots(QStringLiteral("editor-testing"));
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.provider->fetches.size(), 1);
        QCOMPARE(close.size(), 0);
        QCOMPARE(harness.store->websites().size(), 1);
        const Website saved = harness.store->websites().first();
        QCOMPARE(saved.domain, "shop.example.org");
        QCOMPARE(saved.displayName, "");
        QCOMPARE(saved.dashboardURLString, std::nullopt);
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(saved.id));

        // A failed first refresh still ends the save: the dashboard shows that failure.
        harness.provider->fail(0, AnalyticsFailure::unavailable);
        QTRY_COMPARE(close.size(), 1);
    }

    void credentialsWhenAdding()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        QSignalSpy close(harness.open(editor), SIGNAL(close()));
        QCOMPARE(harness.item("credentialField:apiKey")->property("placeholderText"), "Paste the key");
        QCOMPARE(harness.item("credentialField:apiKey")->property("echoMode").toInt(), 2 /* TextInput.Password */);

        // A blank required credential is named.
        harness.typeInto(QStringLiteral("nameField"), QStringLiteral("My Shop"));
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("shop.example.org"));
        harness.typeInto(QStringLiteral("credentialField:apiKey"), QStringLiteral("   "));
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.text("validationMessage"), "Enter API key.");
        harness.screenshots(QStringLiteral("editor-credential-message"));

        // A failed save keeps what was typed.
        harness.keychain->failing = true;
        harness.key(Qt::Key_A, Qt::ControlModifier);
        harness.typeInto(QStringLiteral("credentialField:apiKey"), QStringLiteral("secret-key"));
        harness.click(QStringLiteral("confirmButton"));
        QTRY_COMPARE(harness.text("validationMessage"), "Credentials could not be saved securely.");
        EXPECT_PAGE(harness, {{"confirmButton", "Connect website"}, {"nameField", "My Shop"},
                              {"domainField", "shop.example.org"}, {"credentialField:apiKey", "secret-key"}});
        QVERIFY(harness.item("confirmButton")->isEnabled());
        QCOMPARE(close.size(), 0);
        harness.screenshots(QStringLiteral("editor-save-failed"));

        // The next attempt starts without the old message; Back leaves it running.
        harness.keychain->failing = false;
        harness.click(QStringLiteral("confirmButton"));
        QVERIFY(!harness.shown("validationMessage"));
        QCOMPARE(harness.keychain->credentials.value(harness.store->websites().first().id).values.value("apiKey"),
                 "secret-key");
        harness.click(QStringLiteral("backButton"));
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
        harness.keychain->credentials.insert(site.id, ProviderCredentials{{{QStringLiteral("apiKey"), "stored"}}});
        QSignalSpy close(harness.open(editor, withWebsites({site}), {{"websiteID", idText(site.id)}}), SIGNAL(close()));
        // Its tracking has not been seen: the reminder and the site's own snippet.
        EXPECT_PAGE(harness, {{"editorTitle", "Edit website"}, {"confirmButton", "Save"}, {"nameField", "My Shop"},
                              {"domainField", "shop.example.org"}, {"dashboardField", "https://stats.example.org/shop"},
                              {"credentialField:apiKey", "stored"}, {"snippetReminder", visible},
                              {"snippetText", trackingSnippet(site.id, defaultBaseURL())}});
        harness.screenshots(QStringLiteral("editor-edit"));

        harness.typeInto(QStringLiteral("nameField"), QStringLiteral(" Renamed"));
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.store->websites().first().displayName, "My Shop Renamed");
        QCOMPARE(harness.store->websites().first().id, site.id);
        harness.provider->succeed(0, testSnapshot());
        QTRY_COMPARE(close.size(), 1);
    }

    void unreadableCredentialsAreSaidAtOnce()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        const Website site = testWebsite("shop.example.org", "My Shop");
        harness.startStore(withWebsites({site}, {{site.id, testSnapshot()}}));
        harness.keychain->failing = true;
        harness.load(editor, {{"websiteID", idText(site.id)}});
        // Tracking is installed: no reminder.
        EXPECT_PAGE(harness, {{"validationMessage", "Saved credentials could not be read."},
                              {"domainField", "shop.example.org"}, {"credentialField:apiKey", ""},
                              {"snippetReminder", hidden}});
        harness.screenshots(QStringLiteral("editor-credentials-unreadable"));

        harness.keychain->failing = false;
        harness.typeInto(QStringLiteral("credentialField:apiKey"), QStringLiteral("new-key"));
        harness.key(Qt::Key_Return);
        EXPECT_PAGE(harness, {{"validationMessage", hidden}, {"confirmButton", "Testing…"}});
    }

    // The example website needs no snippet; Tab walks the fields and Escape is left to the panel.
    void exampleWebsiteAndKeyboard()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        harness.startStore({}, true);
        const Website example = harness.store->websites().first();
        QVERIFY(ExampleWebsite::isExampleDomain(example.domain));
        harness.load(editor, {{"websiteID", idText(example.id)}});
        QVERIFY(!harness.shown("snippetReminder"));

        QCOMPARE(harness.tabOrder(QStringLiteral("backButton"), 6),
                 (QStringList{"backButton", "nameField", "domainField", "dashboardField", "credentialField:apiKey",
                              "confirmButton"}));
        harness.item("domainField")->forceActiveFocus(Qt::TabFocusReason);
        QVERIFY(!harness.takesEscape());
    }
};

QTEST_MAIN(EditorPageTest)
#include "EditorPageTest.moc"
