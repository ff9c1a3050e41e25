#include "ChartText.h"
#include "CountryNames.h"
#include "DateText.h"
#include "IcuLocale.h"
#include "NumberText.h"

#include <QTest>
#include <unicode/locid.h>

class DateChartTextTest : public QObject
{
    Q_OBJECT

private slots:
    void counts();
    void updatedTimeUsesTheLocalDay_data();
    void updatedTimeUsesTheLocalDay();
    void footerStatus();
    void hourReadouts();
    void chartScale();
    void defaultsFollowTheSystemLocale();
};

static const QLocale english(QLocale::English, QLocale::UnitedStates);
static const QLocale german(QLocale::German, QLocale::Germany);
static const QTimeZone berlin("Europe/Berlin");

static Instant at(const char *iso)
{
    return *Instant::fromIso8601(QString::fromLatin1(iso));
}

// ICU's English time formats put a narrow no-break space before AM/PM.
static QString nb(QString text)
{
    return text.replace(QStringLiteral("_"), QStringLiteral("\u202F"));
}

void DateChartTextTest::counts()
{
    QCOMPARE(countText(qint64(1234567), english), "1,234,567");
    QCOMPARE(countText(qint64(1234567), german), "1.234.567");
    QCOMPARE(countText(qint64(0), german), "0");
    QCOMPARE(countText(std::optional<qint64>(), english), "\u2014");
}

void DateChartTextTest::updatedTimeUsesTheLocalDay_data()
{
    QTest::addColumn<Instant>("refreshed");
    QTest::addColumn<Instant>("now");
    QTest::addColumn<QString>("inEnglish");
    QTest::addColumn<QString>("inGerman");

    const Instant evening = at("2025-01-05T19:00:00Z");
    QTest::newRow("today") << at("2025-01-05T14:04:00Z") << evening << nb("3:04_PM") << "15:04";
    QTest::newRow("yesterday") << at("2025-01-04T22:30:00Z") << evening << nb("Jan 4, 2025, 11:30_PM")
                               << "04.01.2025, 23:30";
    // Past midnight in Berlin while still the previous day in UTC.
    QTest::newRow("today locally, yesterday in UTC") << at("2025-01-04T23:30:00Z") << evening << nb("12:30_AM")
                                                      << "00:30";
    QTest::newRow("summer time") << at("2025-07-01T06:05:00Z") << at("2025-07-01T21:00:00Z") << nb("8:05_AM")
                                 << "08:05";
}

void DateChartTextTest::updatedTimeUsesTheLocalDay()
{
    QFETCH(Instant, refreshed);
    QFETCH(Instant, now);
    QFETCH(QString, inEnglish);
    QFETCH(QString, inGerman);
    QCOMPARE(updatedTimeText(refreshed, now, english, berlin), inEnglish);
    QCOMPARE(updatedTimeText(refreshed, now, german, berlin), inGerman);
}

void DateChartTextTest::footerStatus()
{
    const Instant refreshed = at("2025-01-05T14:04:00Z");
    const Instant now = at("2025-01-05T14:05:00Z");
    QCOMPARE(footerStatusText(refreshed, false, now, english, berlin), nb("Updated 3:04_PM"));
    QCOMPARE(footerStatusText(refreshed, true, now, english, berlin), nb("Updated 3:04_PM \u00B7 Out of date"));
    QCOMPARE(footerStatusText(std::nullopt, false, now, english, berlin), "Not updated yet");
    QCOMPARE(footerStatusText(std::nullopt, true, now, english, berlin), "");
}

void DateChartTextTest::hourReadouts()
{
    const HourlyVisitorCount hour{at("2025-01-05T14:00:00Z"), 1204};
    QCOMPARE(hourReadout(hour, english, berlin), nb("3_PM \u00B7 1,204"));
    QCOMPARE(hourReadout(hour, german, berlin), "15 Uhr \u00B7 1.204");
    QCOMPARE(hourReadout(hour, QLocale(QLocale::English, QLocale::UnitedKingdom), QTimeZone::utc()),
             "14 \u00B7 1,204");
    // The formatter cache must not hand one locale's form to another.
    QCOMPARE(hourText(hour.start, english, QTimeZone::utc()), nb("2_PM"));
}

void DateChartTextTest::chartScale()
{
    const Instant start = at("2025-01-05T00:00:00Z");
    QCOMPARE(chartScaleMaximum({}), 1);
    QCOMPARE(chartScaleMaximum({{start, 0}, {start, 0}}), 1);
    QCOMPARE(chartScaleMaximum({{start, 3}, {start, 4}, {start, 0}}), 4);

    QCOMPARE(chartBarHeight(0, 1), 1.0);
    QCOMPARE(chartBarHeight(5, 5), 80.0);
    QCOMPARE(chartBarHeight(0, 5), 1.0);
    QCOMPARE(chartBarHeight(3, 4), 60.0);
    QCOMPARE(chartBarHeight(1, 1000), 1.0);
    QCOMPARE(chartBarHeight(7, 0), 80.0);
    QCOMPARE(chartBarHeight(-3, 4), 1.0);
}

void DateChartTextTest::defaultsFollowTheSystemLocale()
{
    if (qEnvironmentVariable("LC_ALL") != u"de_DE.UTF-8")
        QSKIP("needs LC_ALL=de_DE.UTF-8 and TZ=Europe/Berlin, as ctest sets them");
    QCOMPARE(QLocale::system().name(), "de_DE");
    QCOMPARE(countText(qint64(1234)), "1.234");
    QCOMPARE(countryName("de"), "Deutschland");
    QCOMPARE(hourText(at("2025-01-05T14:00:00Z")), "15 Uhr");

    useSystemLocaleForIcu();
    QCOMPARE(QByteArray(icu::Locale::getDefault().getLanguage()), "de");
}

QTEST_GUILESS_MAIN(DateChartTextTest)
#include "DateChartTextTest.moc"
