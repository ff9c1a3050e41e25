// The text rules of the popover pages, at their edges. Every case names its locale and time
// zone, except the last: ctest runs this test under a German system locale to check the defaults.
#include "ChartText.h"
#include "CountryNames.h"
#include "DateText.h"
#include "EditorRules.h"
#include "IcuLocale.h"
#include "NumberText.h"
#include "SettingsText.h"
#include "TextRules.h"
#include "TrackingSnippet.h"
#include "VisitText.h"

#include <QTest>
#include <unicode/locid.h>

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);
const QTimeZone berlin("Europe/Berlin");

Instant at(const char *iso)
{
    return *Instant::fromIso8601(QString::fromLatin1(iso));
}

// ICU's English time formats put a narrow no-break space before AM/PM.
QString nb(QString text)
{
    return text.replace(u'_', u'\u202F');
}

}  // namespace

class ViewTextTest : public QObject
{
    Q_OBJECT

private slots:
    void countries()
    {
        const QString de = QString::fromUcs4(U"\U0001F1E9\U0001F1EA");
        const QList<std::tuple<QString, QString, QString>> codes{
            {"DE", "Germany", de},
            {" de\n", "Germany", de},
            {"DEU", "Unknown", ""},
            {"   ", "Unknown", ""},
            {"1a", "1A", ""},
            {"\u00e9\u00e9", "\u00c9\u00c9", ""},
            {QString::fromUcs4(U"\U0001D400"), "Unknown", ""},          // one letter outside the BMP
            {"qq", "QQ", QString::fromUcs4(U"\U0001F1F6\U0001F1F6")}};  // no name known
        for (const auto &[code, name, flag] : codes) {
            QCOMPARE(countryName(code, english), name);
            QCOMPARE(countryFlag(code), flag);
            QCOMPARE(countryLabel(code, english), flag.isEmpty() ? name : flag + "  " + name);
        }
    }

    void visits()
    {
        const QList<std::pair<qint64, QString>> durations{
            {-5, "0s"},   {0, "0s"},       {59, "59s"},     {60, "1m"},   {125, "2m"},  {3599, "59m"},
            {3600, "1h"}, {3660, "1h 1m"}, {3960, "1h 6m"}, {7200, "2h"}, {7259, "2h"}, {90061, "25h 1m"}};
        for (const auto &[seconds, text] : durations)
            QCOMPARE(visitDuration(seconds), text);

        const QList<std::pair<QString, QString>> sources{{"  http://WWW.Example.org\n", "example.org"},
                                                         {"https://news.example.com/item", "news.example.com"},
                                                         {"https://wwwexample.com/", "wwwexample.com"},
                                                         {"https://www.www.example.com", "www.example.com"},
                                                         {"https://www.", "www."},
                                                         {"android-app://com.example.mail/", "com.example.mail"},
                                                         {"  weekly digest  ", "weekly digest"},
                                                         {"mailto:a@example.com", "mailto:a@example.com"},
                                                         {" \t ", "Direct"},
                                                         {"", "Direct"}};
        for (const auto &[referrer, source] : sources)
            QCOMPARE(referrerSource(referrer), source);

        QCOMPARE(visitSummary("newsletter", {" /blog/post \n"}), "newsletter \u2192 /blog/post");
        QCOMPARE(visitSummary("", {}), "Direct");
        QCOMPARE(visitSummary("", {"  ", "/second"}), "Direct");
    }

    void updatedTimeUsesTheLocalDay()
    {
        const Instant evening = at("2025-01-05T19:00:00Z");
        const QList<std::tuple<Instant, Instant, QString, QString>> cases{
            {at("2025-01-05T14:04:00Z"), evening, nb("3:04_PM"), "15:04"},
            {at("2025-01-04T22:30:00Z"), evening, nb("Jan 4, 2025, 11:30_PM"), "04.01.2025, 23:30"},
            // Past midnight in Berlin while still the previous day in UTC.
            {at("2025-01-04T23:30:00Z"), evening, nb("12:30_AM"), "00:30"},
            // Refreshed before midnight in Berlin, shown after it though still the same day in UTC.
            {at("2025-01-05T22:00:00Z"), at("2025-01-05T23:30:00Z"), nb("Jan 5, 2025, 11:00_PM"), "05.01.2025, 23:00"},
            // Summer time.
            {at("2025-07-01T06:05:00Z"), at("2025-07-01T21:00:00Z"), nb("8:05_AM"), "08:05"}};
        for (const auto &[refreshed, now, inEnglish, inGerman] : cases) {
            QCOMPARE(updatedTimeText(refreshed, now, english, berlin), inEnglish);
            QCOMPARE(updatedTimeText(refreshed, now, german, berlin), inGerman);
        }
    }

    void chart()
    {
        const HourlyVisitorCount hour{at("2025-01-05T14:00:00Z"), 1204};
        QCOMPARE(hourReadout(hour, english, berlin), nb("3_PM \u00B7 1,204"));
        QCOMPARE(hourReadout(hour, german, berlin), "15 Uhr \u00B7 1.204");
        QCOMPARE(hourReadout(hour, QLocale(QLocale::English, QLocale::UnitedKingdom), QTimeZone::utc()),
                 "14 \u00B7 1,204");

        // Never a scale of 0; a bar is at least 1 high and at most the full height.
        QCOMPARE(chartScaleMaximum({{hour.start, 0}, {hour.start, 0}}), 1);
        QCOMPARE(chartBarHeight(1, 1000), 1.0);
        QCOMPARE(chartBarHeight(7, 0), 80.0);
        // The pages hand counts over as doubles: one beyond qint64 (a broken reply's) is the largest.
        QCOMPARE(TextRules().chartBarHeight(9.3e18, 1e18), 80.0);
    }

    void settingsAndEditor()
    {
        QCOMPARE(refreshCaption(RefreshInterval::thirty, 30), "");
        QCOMPARE(refreshCaption(RefreshInterval::thirty, 45.7), "This provider allows a refresh every 45 seconds.");
        QCOMPARE(refreshCaption(RefreshInterval::thirty, qQNaN()), "");

        const QUuid id("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
        const QString expected = "<script defer src=\"https://stats.example.net/script.js\" "
                                 "data-site=\"6f9619ff-8b86-d011-b42d-00c04fc964ff\"></script>";
        QCOMPARE(trackingSnippet(id, QUrl("https://stats.example.net")), expected);
        QCOMPARE(trackingSnippet(id, QUrl("https://stats.example.net/")), expected);
        QVERIFY(trackingSnippet(id, QUrl("https://example.net/api")).contains("\"https://example.net/api/script.js\""));

        // Adding without the provider's connect wording.
        QCOMPARE(EditorRules::confirmTitle(false, false, false), "Add website");
    }

    void defaultsFollowTheSystemLocale()
    {
        if (qEnvironmentVariable("LC_ALL") != u"de_DE.UTF-8")
            QSKIP("needs LC_ALL=de_DE.UTF-8 and TZ=Europe/Berlin, as ctest sets them");
        QCOMPARE(QLocale::system().name(), "de_DE");
        QCOMPARE(countText(qint64(1234)), "1.234");
        QCOMPARE(countryName("de"), "Deutschland");
        QCOMPARE(hourText(at("2025-01-05T14:00:00Z")), "15 Uhr");
        // ICU's default starts elsewhere, so only the call can bring it to the system's.
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale::getEnglish(), status);
        useSystemLocaleForIcu();
        QCOMPARE(QByteArray(icu::Locale::getDefault().getLanguage()), "de");
    }
};

QTEST_GUILESS_MAIN(ViewTextTest)
#include "ViewTextTest.moc"
