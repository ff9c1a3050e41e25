#include "CountryNames.h"
#include "VisitText.h"

#include <QTest>

class RecentActivityTextTest : public QObject
{
    Q_OBJECT

private slots:
    void countries_data();
    void countries();
    void countryNameFollowsLanguage();
    void shownListsKeepDeliveredOrder();
    void durations();
    void referrerSources();
    void summariesAndClicks();
};

static const QLocale english(QLocale::English, QLocale::UnitedStates);

void RecentActivityTextTest::countries_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("flag");
    const QString de = QString::fromUcs4(U"\U0001F1E9\U0001F1EA");
    QTest::newRow("upper case") << "DE" << "Germany" << de;
    QTest::newRow("lower case, padded") << " de\n" << "Germany" << de;
    QTest::newRow("three letters") << "DEU" << "Unknown" << "";
    QTest::newRow("blank") << "   " << "Unknown" << "";
    QTest::newRow("one letter outside the BMP") << QString::fromUcs4(U"\U0001D400") << "Unknown" << "";
    QTest::newRow("no name known") << "qq" << "QQ" << QString::fromUcs4(U"\U0001F1F6\U0001F1F6");
    QTest::newRow("digit") << "1a" << "1A" << "";
    QTest::newRow("beyond ASCII") << "\u00e9\u00e9" << "\u00c9\u00c9" << "";
}

void RecentActivityTextTest::countries()
{
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(QString, flag);
    QCOMPARE(countryName(code, english), name);
    QCOMPARE(countryFlag(code), flag);
    QCOMPARE(countryLabel(code, english), flag.isEmpty() ? name : flag + "  " + name);
}

void RecentActivityTextTest::countryNameFollowsLanguage()
{
    QCOMPARE(countryName(" us", QLocale(QLocale::German, QLocale::Germany)), "Vereinigte Staaten");
}

void RecentActivityTextTest::shownListsKeepDeliveredOrder()
{
    const QList<CountryVisitors> countries{{"US", 9}, {"DE", 7}, {"FR", 0}, {"GB", 5}, {"IT", 12},
                                           {"XX", -1}, {"ES", 3}, {"NL", 2}, {"PL", 1}};
    QStringList codes;
    for (const CountryVisitors &country : shownCountries(countries))
        codes << country.code;
    QCOMPARE(codes, QStringList({"US", "DE", "GB", "IT", "ES", "NL"}));

    QList<RecentVisitor> visitors;
    for (int i = 0; i < 10; ++i)
        visitors.append(RecentVisitor{QString::number(i)});
    const QList<RecentVisitor> shown = shownVisitors(visitors);
    QCOMPARE(shown.size(), 8);
    QCOMPARE(shown.last().id, "7");
    QCOMPARE(shownVisitors(visitors.first(3)).size(), 3);
}

void RecentActivityTextTest::durations()
{
    const QList<std::pair<qint64, QString>> cases{
        {-5, "0s"},   {0, "0s"},       {59, "59s"},      {60, "1m"},  {125, "2m"},  {3599, "59m"},
        {3600, "1h"}, {3660, "1h 1m"}, {3960, "1h 6m"}, {7200, "2h"}, {7259, "2h"}, {90061, "25h 1m"}};
    for (const auto &[seconds, text] : cases)
        QCOMPARE(visitDuration(seconds), text);
}

void RecentActivityTextTest::referrerSources()
{
    const QList<std::pair<QString, QString>> cases{
        {"https://www.Google.com/search?q=x", "google.com"},
        {"  http://WWW.Example.org\n", "example.org"},
        {"https://news.example.com/item", "news.example.com"},
        {"https://wwwexample.com/", "wwwexample.com"},
        {"https://www.www.example.com", "www.example.com"},
        {"https://www.", "www."},
        {"android-app://com.example.mail/", "com.example.mail"},
        {"  weekly digest  ", "weekly digest"},
        {"mailto:a@example.com", "mailto:a@example.com"},
        {" \t ", "Direct"},
        {"", "Direct"}};
    for (const auto &[referrer, source] : cases)
        QCOMPARE(referrerSource(referrer), source);
}

void RecentActivityTextTest::summariesAndClicks()
{
    QCOMPARE(visitSummary("", {}), "Direct");
    QCOMPARE(visitSummary("https://www.google.com/", {"/pricing", "/docs", "/signup"}),
             "google.com \u2192 /pricing +2");
    QCOMPARE(visitSummary("newsletter", {" /blog/post \n"}), "newsletter \u2192 /blog/post");
    QCOMPARE(visitSummary("", {"  ", "/second"}), "Direct");

    QCOMPARE(clickedText({"Buy", "Docs", "Pricing", "Login"}), "Clicked Buy, Docs, Pricing");
    QCOMPARE(clickedText({"Buy"}), "Clicked Buy");
    QCOMPARE(clickedText({}), "");
}

QTEST_GUILESS_MAIN(RecentActivityTextTest)
#include "RecentActivityTextTest.moc"
