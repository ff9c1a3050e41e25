// The collector's rules as pure functions: what of an event is kept, which
// pages belong to a site, and how refusals are reported.
#include "EventRules.h"
#include "HostRefusals.h"

#include <QtTest>

namespace {

QByteArray eventWith(const QString &page, const QString &label = {}, const char *kind = "click")
{
    return QJsonDocument(
               QJsonObject{{"s", "c0ffee00-1234-4abc-9def-0123456789ab"}, {"k", kind}, {"u", page}, {"l", label}})
        .toJson(QJsonDocument::Compact);
}

}  // namespace

class ServerRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void eventsAreKeptClean_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("keptPage");
        QTest::addColumn<QString>("keptLabel");
        const auto row = [](const char *tag, const QString &page, const QString &label, const QString &keptPage,
                            const QString &keptLabel) { QTest::newRow(tag) << page << label << keptPage << keptLabel; };
        const QString face = QStringLiteral("\U0001F600"), a497(497, u'a'), a498(498, u'a'), a499(499, u'a');
        const QString site = QStringLiteral("https://a.example");
        row("plain", site + "/docs/", "Sign up", "/docs/", "Sign up");
        row("control characters", site + "/x%00y%07z%7F", QStringLiteral("Sign\u0001 up\u0085"), "/xyz", "Sign up");
        row("line breaks in a label", site + "/", "Sign\n\tup", "/", "Sign up");
        row("reordering marks", site + "/gpj.%E2%80%AEexe%E2%81%A6x%E2%81%A9",
            QStringLiteral("\u202aBuy\u202e\u2067now\u2069"), "/gpj.exex", "Buynow");
        row("path parameters", site + "/;jsessionid=SECRET", "", "/", "");
        row("parameters of each segment", site + "/shop;v=1/cart;sid=42/", "", "/shop/cart/", "");
        row("query and fragment", site + "/p?mail=x@y.example#top", "", "/p", "");
        row("characters outside the BMP", site + "/%F0%9F%98%80", face, "/" + face, face);
        // 1 + 499 units, then a pair that would end one unit past the cap.
        row("a cut before a pair, not inside it", site + "/" + a498 + "%F0%9F%98%80", a499 + face, "/" + a498, a499);
        row("a pair that fits", site + "/" + a497 + "%F0%9F%98%80", "", "/" + a497 + face, "");
        row("long texts are cut", site + "/" + QString(600, u'b'), QString(600, u'c'), "/" + QString(499, u'b'),
            QString(500, u'c'));
    }

    void eventsAreKeptClean()
    {
        QFETCH(QString, page);
        QFETCH(QString, label);
        QFETCH(QString, keptPage);
        QFETCH(QString, keptLabel);
        const auto event = EventRules::parse(eventWith(page, label));
        QVERIFY(event);
        QCOMPARE(event->page, keptPage);
        QCOMPARE(event->label, keptLabel);
    }

    void pagesBelongToTheirSite_data()
    {
        QTest::addColumn<QString>("domain");  // as the account's state gives it
        QTest::addColumn<QString>("host");    // compared in ASCII
        QTest::addColumn<QString>("page");    // as the tracking script sends it
        QTest::addColumn<bool>("belongs");
        const auto row = [](const char *tag, const QString &domain, const QString &host, const QString &page,
                            bool belongs) { QTest::newRow(tag) << domain << host << page << belongs; };
        const QString buecher = QStringLiteral("b\u00fccher.de"), org = QStringLiteral("example.org");
        row("same host", org, org, "https://example.org/", true);
        row("subdomain", org, org, "https://www.example.org/", true);
        row("deeper subdomain", org, org, "https://a.b.example.org/", true);
        row("stored www is the bare domain", "www.example.org", org, "https://example.org/", true);
        row("a sibling of stored www", "www.example.org", org, "https://blog.example.org/", true);
        row("case", "Example.ORG", org, "https://EXAMPLE.org/", true);
        row("stored port", "example.org:8443", org, "https://example.org:9000/", true);
        row("trailing dot", org, org, "https://example.org./", true);
        row("unicode domain, punycode page", buecher, "xn--bcher-kva.de", "https://xn--bcher-kva.de/", true);
        row("unicode on both", buecher.toUpper(), "xn--bcher-kva.de", "https://shop." + buecher + "/", true);
        row("address", "192.0.2.7:8080", "192.0.2.7", "http://192.0.2.7/", true);
        row("another host", org, org, "https://example.net/", false);
        row("a name ending alike", org, org, "https://notexample.org/", false);
        row("the domain as a subdomain elsewhere", org, org, "https://example.org.evil.example/", false);
        row("the parent domain", "shop.example.org", "shop.example.org", "https://example.org/", false);
        row("a sibling", "shop.example.org", "shop.example.org", "https://blog.example.org/", false);
        row("no domain", "", "", "https://example.org/", false);
        row("no page address", org, org, "", false);
    }

    void pagesBelongToTheirSite()
    {
        QFETCH(QString, domain);
        QFETCH(QString, host);
        QFETCH(QString, page);
        QFETCH(bool, belongs);
        const auto event = EventRules::parse(eventWith(page, QStringLiteral("x")));
        QVERIFY(event);
        QCOMPARE(EventRules::siteHost(domain), host);
        QVERIFY(std::all_of(event->host.cbegin(), event->host.cend(), [](QChar c) { return c.unicode() < 0x80; }));
        QCOMPARE(EventRules::belongsTo(event->host, host), belongs);
    }

    void refusalsAreSaidAtOnceThenOnceAMinute()
    {
        QStringList lines;
        HostRefusals refusals([&](const QString &line) { lines << line; });
        const QString site = QStringLiteral("C0FFEE00-1234-4ABC-9DEF-0123456789AB");
        refusals.refuse(site, "example.org", "a.example", 1000);
        refusals.refuse(site, "example.org", "b.example", 1030);
        refusals.refuse(site, "example.org", "c.example", 1059);
        refusals.refuse("0BADF00D-0000-4000-8000-000000000001", "", "", 1059);
        QCOMPARE(lines.size(), 2);
        refusals.refuse(site, "example.org", "d.example", 1060);
        refusals.refuse(site, "example.org", "e.example", 1061);
        QCOMPARE(lines,
                 (QStringList{"orvela-server: refused 1 event for site " + site +
                                  ": the page is not on example.org or a subdomain "
                                  "of it (the last from a.example)",
                              "orvela-server: refused 1 event for site "
                              "0BADF00D-0000-4000-8000-000000000001: the page is "
                              "not on (its account gave no usable domain) or a "
                              "subdomain of it (the last from a page "
                              "without an address)",
                              "orvela-server: refused 3 events for site " + site +
                                  ": the page is not on example.org or a subdomain "
                                  "of it (the last from d.example)"}));
    }
};

QTEST_GUILESS_MAIN(ServerRulesTest)
#include "ServerRulesTest.moc"
