// The website editor, loaded from its QML against a real store: its messages, its save and
// what the page does while and after the store works.
#include "PageHarness.h"

#include "BaseURL.h"
#include "ExampleWebsite.h"
#include "TrackingSnippet.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QString idText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

const CredentialField apiKey{QStringLiteral("apiKey"), QStringLiteral("API key"), QStringLiteral("Paste the key"), true};

}  // namespace

class EditorPageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { PageHarness::prepareProcess(); }

    void addingValidatesBeforeSaving()
    {
        PageHarness harness;
        harness.startStore();
        QQuickItem *page = harness.load(QStringLiteral("WebsiteEditorView.qml"));
        QSignalSpy close(page, SIGNAL(close()));

        QCOMPARE(harness.text("editorTitle"), "Add website");
        QCOMPARE(harness.text("confirmButton"), "Connect website");
        QCOMPARE(harness.item("nameField")->property("placeholderText"), "Optional");
        QCOMPARE(harness.item("domainField")->property("placeholderText"), "example.com");
        QCOMPARE(harness.item("dashboardField")->property("placeholderText"), "https://example.com");
        QCOMPARE(harness.text("snippetReminderText"),
                 "A website address alone cannot supply analytics. Paste the tracking snippet into the page head.");
        QVERIFY(!harness.shown("trackingSnippet"));
        QVERIFY(!harness.shown("validationMessage"));
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

    void blankCredentialIsNamed()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        harness.startStore();
        harness.load(QStringLiteral("WebsiteEditorView.qml"));

        QCOMPARE(harness.item("credentialField:apiKey")->property("placeholderText"), "Paste the key");
        QCOMPARE(harness.item("credentialField:apiKey")->property("echoMode").toInt(), 2 /* TextInput.Password */);
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("shop.example.org"));
        harness.typeInto(QStringLiteral("credentialField:apiKey"), QStringLiteral("   "));
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.text("validationMessage"), "Enter API key.");
        harness.screenshots(QStringLiteral("editor-credential-message"));
    }

    void savingWaitsForTheFirstRefresh()
    {
        PageHarness harness;
        harness.startStore();
        QQuickItem *page = harness.load(QStringLiteral("WebsiteEditorView.qml"));
        QSignalSpy close(page, SIGNAL(close()));

        harness.typeInto(QStringLiteral("nameField"), QStringLiteral("   "));
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("HTTPS://Shop.Example.ORG/blog?x=1"));
        harness.typeInto(QStringLiteral("dashboardField"), QStringLiteral("   "));
        harness.key(Qt::Key_Return);

        // The store has kept the site and refreshes it; the page waits and cannot save twice.
        QCOMPARE(harness.text("confirmButton"), "Testing…");
        QVERIFY(!harness.item("confirmButton")->isEnabled());
        QVERIFY(!harness.shown("validationMessage"));
        harness.screenshots(QStringLiteral("editor-testing"));
        QCOMPARE(harness.provider->fetches.size(), 1);
        harness.key(Qt::Key_Return);
        QCOMPARE(harness.store->websites().size(), 1);
        QCOMPARE(close.size(), 0);

        const Website saved = harness.store->websites().first();
        QCOMPARE(saved.domain, "shop.example.org");
        QCOMPARE(saved.displayName, "");
        QCOMPARE(saved.dashboardURLString, std::nullopt);
        QCOMPARE(harness.store->selectedWebsiteID(), std::optional(saved.id));

        // A failed first refresh still ends the save: the dashboard shows that failure.
        harness.provider->fail(0, AnalyticsFailure::unavailable);
        QTRY_COMPARE(close.size(), 1);
    }

    void failedSaveKeepsWhatWasTyped()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        harness.startStore();
        QQuickItem *page = harness.load(QStringLiteral("WebsiteEditorView.qml"));
        QSignalSpy close(page, SIGNAL(close()));
        harness.keychain->failing = true;

        harness.typeInto(QStringLiteral("nameField"), QStringLiteral("My Shop"));
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("shop.example.org"));
        harness.typeInto(QStringLiteral("credentialField:apiKey"), QStringLiteral("secret-key"));
        harness.click(QStringLiteral("confirmButton"));
        QTRY_COMPARE(harness.text("validationMessage"), "Credentials could not be saved securely.");

        QCOMPARE(close.size(), 0);
        QCOMPARE(harness.text("confirmButton"), "Connect website");
        QVERIFY(harness.item("confirmButton")->isEnabled());
        QCOMPARE(harness.text("nameField"), "My Shop");
        QCOMPARE(harness.text("domainField"), "shop.example.org");
        QCOMPARE(harness.text("credentialField:apiKey"), "secret-key");
        harness.screenshots(QStringLiteral("editor-save-failed"));

        // The next attempt starts without the old message and can succeed.
        harness.keychain->failing = false;
        harness.click(QStringLiteral("confirmButton"));
        QVERIFY(!harness.shown("validationMessage"));
        QCOMPARE(harness.keychain->credentials.value(harness.store->websites().first().id).values.value("apiKey"),
                 "secret-key");
        harness.provider->succeed(0, testSnapshot());
        QTRY_COMPARE(close.size(), 1);
    }

    void editingLoadsTheWebsite()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        const Website site = testWebsite("shop.example.org", "My Shop", "https://stats.example.org/shop");
        harness.keychain->credentials.insert(site.id, ProviderCredentials{{{QStringLiteral("apiKey"), "stored"}}});
        PersistedState state;
        state.websites = {site};
        state.selectedWebsiteID = site.id;
        harness.startStore(state);
        QQuickItem *page = harness.load(QStringLiteral("WebsiteEditorView.qml"), {{"websiteID", idText(site.id)}});
        QSignalSpy close(page, SIGNAL(close()));

        QCOMPARE(harness.text("editorTitle"), "Edit website");
        QCOMPARE(harness.text("confirmButton"), "Save");
        QCOMPARE(harness.text("nameField"), "My Shop");
        QCOMPARE(harness.text("domainField"), "shop.example.org");
        QCOMPARE(harness.text("dashboardField"), "https://stats.example.org/shop");
        QCOMPARE(harness.text("credentialField:apiKey"), "stored");
        // Its tracking has not been seen: the reminder and the site's own snippet.
        QVERIFY(harness.shown("snippetReminder"));
        QCOMPARE(harness.item("snippetText")->property("text").toString(), trackingSnippet(site.id, defaultBaseURL()));
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
        PersistedState state;
        state.websites = {site};
        state.snapshots = {{site.id, testSnapshot(true)}};
        harness.startStore(state);
        harness.keychain->failing = true;
        harness.load(QStringLiteral("WebsiteEditorView.qml"), {{"websiteID", idText(site.id)}});

        QCOMPARE(harness.text("validationMessage"), "Saved credentials could not be read.");
        QCOMPARE(harness.text("domainField"), "shop.example.org");
        QCOMPARE(harness.text("credentialField:apiKey"), "");
        // Tracking is installed: no reminder.
        QVERIFY(!harness.shown("snippetReminder"));
        harness.screenshots(QStringLiteral("editor-credentials-unreadable"));

        harness.keychain->failing = false;
        harness.typeInto(QStringLiteral("credentialField:apiKey"), QStringLiteral("new-key"));
        harness.key(Qt::Key_Return);
        QVERIFY(!harness.shown("validationMessage"));
        QCOMPARE(harness.text("confirmButton"), "Testing…");
    }

    void exampleWebsiteNeedsNoSnippet()
    {
        PageHarness harness;
        harness.startStore({}, true);
        const Website example = harness.store->websites().first();
        QVERIFY(ExampleWebsite::isExampleDomain(example.domain));
        harness.load(QStringLiteral("WebsiteEditorView.qml"), {{"websiteID", idText(example.id)}});
        QVERIFY(!harness.shown("snippetReminder"));
    }

    void tabOrderAndEscape()
    {
        PageHarness harness;
        harness.provider->fields = {apiKey};
        harness.startStore();
        harness.load(QStringLiteral("WebsiteEditorView.qml"));

        harness.item("backButton")->forceActiveFocus(Qt::TabFocusReason);
        QStringList order;
        for (int step = 0; step < 6; ++step) {
            order.append(harness.window->activeFocusItem()->objectName());
            harness.key(Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"backButton", "nameField", "domainField", "dashboardField",
                                     "credentialField:apiKey", "confirmButton"}));

        harness.item("domainField")->forceActiveFocus(Qt::TabFocusReason);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QGuiApplication::sendEvent(harness.window.get(), &escape);
        QVERIFY(!escape.isAccepted());
    }

    void backLeavesASaveRunning()
    {
        PageHarness harness;
        harness.startStore();
        QQuickItem *page = harness.load(QStringLiteral("WebsiteEditorView.qml"));
        QSignalSpy close(page, SIGNAL(close()));
        harness.typeInto(QStringLiteral("domainField"), QStringLiteral("shop.example.org"));
        harness.key(Qt::Key_Return);
        harness.click(QStringLiteral("backButton"));
        QCOMPARE(close.size(), 1);
        QCOMPARE(harness.provider->pending(), 1);
        const AnalyticsSnapshot snapshot = testSnapshot();
        harness.provider->succeed(0, snapshot);
        QCOMPARE(harness.store->websites().first().domain, "shop.example.org");
        QCOMPARE(harness.store->selectedSnapshot(), std::optional(snapshot));
    }
};

QTEST_MAIN(EditorPageTest)
#include "EditorPageTest.moc"
