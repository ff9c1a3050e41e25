#include "EditorRules.h"
#include "SettingsText.h"
#include "TrackingSnippet.h"

#include <QTest>

class PageTextTest : public QObject
{
    Q_OBJECT

private slots:
    void websiteRows();
    void refreshCaptions();
    void snippetText();
    void editorTitles();
    void editorValidation();
};

void PageTextTest::websiteRows()
{
    const Website blank{QUuid::createUuid(), " \n ", "example.com"};
    QCOMPARE(websiteRowTitle(blank), "example.com");
    QVERIFY(!websiteRowShowsSubtitle(blank));

    const Website sameAsDomain{QUuid::createUuid(), " Example.COM ", "example.com"};
    QCOMPARE(websiteRowTitle(sameAsDomain), "Example.COM");
    QVERIFY(!websiteRowShowsSubtitle(sameAsDomain));

    const Website named{QUuid::createUuid(), "  My Blog ", "blog.example.com"};
    QCOMPARE(websiteRowTitle(named), "My Blog");
    QVERIFY(websiteRowShowsSubtitle(named));
}

void PageTextTest::refreshCaptions()
{
    QCOMPARE(refreshCaption(RefreshInterval::thirty, 30), "");
    QCOMPARE(refreshCaption(RefreshInterval::oneTwenty, 90), "");
    QCOMPARE(refreshCaption(RefreshInterval::sixty, 120), "This provider allows a refresh every 120 seconds.");
    QCOMPARE(refreshCaption(RefreshInterval::thirty, 45.7), "This provider allows a refresh every 45 seconds.");
    QCOMPARE(refreshCaption(RefreshInterval::thirty, qQNaN()), "");
}

void PageTextTest::snippetText()
{
    const QUuid id("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    const QString expected = "<script defer src=\"https://stats.example.net/script.js\" "
                             "data-site=\"6f9619ff-8b86-d011-b42d-00c04fc964ff\"></script>";
    QCOMPARE(trackingSnippet(id, QUrl("https://stats.example.net")), expected);
    QCOMPARE(trackingSnippet(id, QUrl("https://stats.example.net/")), expected);
    QCOMPARE(trackingSnippet(id, QUrl("http://127.0.0.1:8787")),
             "<script defer src=\"http://127.0.0.1:8787/script.js\" "
             "data-site=\"6f9619ff-8b86-d011-b42d-00c04fc964ff\"></script>");
    QVERIFY(trackingSnippet(id, QUrl("https://example.net/api")).contains("\"https://example.net/api/script.js\""));
}

void PageTextTest::editorTitles()
{
    using namespace EditorRules;
    QCOMPARE(pageTitle(false), "Add website");
    QCOMPARE(pageTitle(true), "Edit website");
    QCOMPARE(confirmTitle(false, false, true), "Connect website");
    QCOMPARE(confirmTitle(false, false, false), "Add website");
    QCOMPARE(confirmTitle(false, true, true), "Save");
    QCOMPARE(confirmTitle(true, false, true), "Testing\u2026");
    QCOMPARE(confirmTitle(true, true, false), "Testing\u2026");
}

void PageTextTest::editorValidation()
{
    using namespace EditorRules;
    const QUuid id = QUuid::createUuid();
    const QList<CredentialField> fields{{"account", "Account", "", false}, {"apiKey", "API key", "", true}};

    Outcome outcome = websiteFromInput(id, "   ", "HTTPS://Blog.Example.ORG/path?q=1", " \n ", {}, {});
    QVERIFY(outcome.message.isEmpty());
    QVERIFY(outcome.website);
    QCOMPARE(outcome.website->id, id);
    QCOMPARE(outcome.website->displayName, "");
    QCOMPARE(outcome.website->domain, "blog.example.org");
    QCOMPARE(outcome.website->dashboardURLString, std::nullopt);

    outcome = websiteFromInput(id, " Blog ", "blog.example.org", " https://dash.example.org/s/1 ", {}, {});
    QCOMPARE(outcome.website->displayName, "Blog");
    QCOMPARE(outcome.website->dashboardURLString, "https://dash.example.org/s/1");

    // Checks run in order and the first failing one speaks.
    outcome = websiteFromInput(id, "", "  ", "ftp://x", fields, {});
    QCOMPARE(outcome.message, "Enter a domain, such as example.com.");
    QVERIFY(!outcome.website);
    outcome = websiteFromInput(id, "", "example.org", "ftp://files.example.org", fields, {});
    QCOMPARE(outcome.message, "Enter a dashboard URL starting with https://.");
    outcome = websiteFromInput(id, "", "example.org", "", fields, {{"account", "me"}, {"apiKey", " \t"}});
    QCOMPARE(outcome.message, "Enter API key.");
    QVERIFY(!outcome.website);
    outcome = websiteFromInput(id, "", "example.org", "", fields, {{"apiKey", "k"}});
    QCOMPARE(outcome.message, "Enter Account.");
    outcome = websiteFromInput(id, "", "example.org", "", fields, {{"account", "me"}, {"apiKey", "k"}});
    QVERIFY(outcome.website && outcome.message.isEmpty());
}

QTEST_GUILESS_MAIN(PageTextTest)
#include "PageTextTest.moc"
