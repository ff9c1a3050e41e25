// Where the panel opens, how tall it is, and what the tray icon draws.
#include "PanelPlacement.h"
#include "TrayIcon.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>
#include <cmath>
#include <limits>

using namespace PanelPlacement;

namespace {

const QSize panel(320, 400);
const Screen laptop{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)};

}  // namespace

class PanelPlacementTest : public QObject
{
    Q_OBJECT

private slots:
    void opensCentredUnderAnIconInATopPanel()
    {
        // A 28 px top panel that the window manager keeps out of the available area.
        const Screen screen{QRect(0, 0, 1920, 1080), QRect(0, 28, 1920, 1052)};
        const QPoint origin = position(QRect(900, 2, 24, 24), panel, {screen});
        QCOMPARE(origin, QPoint(900 + 12 - 160, 28 + gap));
    }

    void opensAboveAnIconInABottomPanel()
    {
        const Screen screen{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)};
        const QRect icon(900, 1048, 24, 24);
        const QPoint origin = position(icon, panel, {screen});
        // Above the strip the window manager keeps free, as a top panel's is kept below it.
        QCOMPARE(origin.y() + panel.height(), 1040 - margin);
        QCOMPARE(origin.x(), 900 + 12 - 160);
        // Where nothing is reserved, just above the icon.
        const QPoint free = position(icon, panel, {{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)}});
        QCOMPARE(free.y() + panel.height(), icon.top() - gap);
    }

    void staysInsideTheScreenAtItsEdges()
    {
        // An icon in the top-right corner: the panel's right edge keeps the margin.
        QPoint origin = position(QRect(1256, 4, 24, 24), panel, {laptop});
        QCOMPARE(origin.x() + panel.width(), 1280 - margin);
        QCOMPARE(origin.y(), 28 + gap);
        // Top-left corner.
        origin = position(QRect(0, 4, 24, 24), panel, {laptop});
        QCOMPARE(origin.x(), margin);
        // A panel taller than the room below the icon is pushed up, never off the screen.
        origin = position(QRect(600, 300, 24, 24), QSize(320, 700), {laptop});
        QVERIFY(origin.y() + 700 <= 800);
        QVERIFY(origin.y() >= 0);
        // A screen smaller than the panel: it starts at the screen's edge.
        origin = position(QRect(100, 4, 24, 24), QSize(320, 400), {{QRect(0, 0, 300, 300), QRect(0, 0, 300, 300)}});
        QCOMPARE(origin, QPoint(0, 0));
    }

    void followsTheScreenTheIconIsOn()
    {
        // A second screen to the right, with its own panel at the bottom.
        const Screen right{QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1044)};
        QPoint origin = position(QRect(3000, 1050, 24, 24), panel, {laptop, right});
        QCOMPARE(origin, QPoint(3000 + 12 - 160, 1044 - margin - panel.height()));
        origin = position(QRect(3190, 1050, 24, 24), panel, {laptop, right});
        QCOMPARE(origin.x() + panel.width(), 1280 + 1920 - margin);
        // The left screen's icon stays on the left screen, even at the shared edge.
        origin = position(QRect(1250, 4, 24, 24), panel, {laptop, right});
        QCOMPARE(origin.x() + panel.width(), 1280 - margin);
        // A point outside every screen (a stale cursor) goes to the nearest one.
        origin = position(QRect(5000, 10, 1, 1), panel, {laptop, right});
        QVERIFY(QRect(right.available).contains(QRect(origin, panel)));
    }

    void withoutAnAnchorIsCentredOnTheFirstScreen()
    {
        const Screen primary{QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1080)};
        QCOMPARE(position(std::nullopt, panel, {primary, laptop}), QPoint(1280 + 800, 340));
    }

    void roundsHeightsToHalfPoints()
    {
        QCOMPARE(halfPointHeight(200.2), 200.0);
        QCOMPARE(halfPointHeight(200.25), 200.5);  // halves away from zero
        QCOMPARE(halfPointHeight(200.6), 200.5);
        QCOMPARE(halfPointHeight(200.75), 201.0);
    }

    void resizesOnlyForMoreThanHalfAPoint()
    {
        // 200.2 then 200.6: 200.0 and 200.5 differ by exactly 0.5, so the size stays.
        const auto first = heightToApply(200.2, 0);
        QCOMPARE(first, std::optional(200.0));
        QCOMPARE(heightToApply(200.6, *first), std::nullopt);
        QCOMPARE(heightToApply(201.0, *first), std::optional(201.0));
        QCOMPARE(heightToApply(199.4, 200.0), std::nullopt);
        QCOMPARE(heightToApply(199.2, 200.0), std::optional(199.0));
        // Heights that say nothing.
        QCOMPARE(heightToApply(1.0, 200.0), std::nullopt);
        QCOMPARE(heightToApply(-50, 200.0), std::nullopt);
        QCOMPARE(heightToApply(std::numeric_limits<double>::quiet_NaN(), 200.0), std::nullopt);
        QCOMPARE(heightToApply(std::numeric_limits<double>::infinity(), 200.0), std::nullopt);
        QCOMPARE(pixelHeight(200.5), 201);
        QCOMPARE(pixelHeight(200.0), 200);
    }

    void shortensFiguresThatDoNotFit_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0";
        QTest::newRow("three digits") << qint64(999) << "999";
        QTest::newRow("thousand") << qint64(1000) << "1k";
        QTest::newRow("never rounded up") << qint64(1999) << "1.9k";
        QTest::newRow("tens of thousands") << qint64(56789) << "56k";
        QTest::newRow("hundreds of thousands") << qint64(999999) << "999k";
        QTest::newRow("millions") << qint64(2500000) << "2.5M";
        QTest::newRow("billions") << qint64(12000000000) << "12B";
        QTest::newRow("beyond") << qint64(5000000000000) << "1T+";
        QTest::newRow("negative") << qint64(-3) << "0";
    }

    void shortensFiguresThatDoNotFit()
    {
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(TrayIcon::figureText(value), text);
        QVERIFY(text.size() <= 4);
    }

    void drawsTheFigureLegiblyAtTraySizes()
    {
        for (const int side : {16, 22, 44}) {
            const QImage image = TrayIcon::make(888).pixmap(QSize(side, side)).toImage();
            QCOMPARE(image.size(), QSize(side, side));
            // White digits on the coloured square: both are there, and the digits are not a speck.
            int white = 0, coloured = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() == 255 && pixel.lightness() > 230)
                        ++white;
                    else if (pixel.alpha() == 255 && pixel.blue() > 200 && pixel.red() < 80)
                        ++coloured;
                }
            QVERIFY2(white >= side * side / 20, qPrintable(QStringLiteral("%1 px: %2 white").arg(side).arg(white)));
            QVERIFY(coloured > side * side / 3);
        }
    }

    void drawsTheChartWithoutAFigure()
    {
        const QImage chart = TrayIcon::make(std::nullopt).pixmap(QSize(22, 22)).toImage();
        const QImage figure = TrayIcon::make(7).pixmap(QSize(22, 22)).toImage();
        QVERIFY(chart != figure);
        int white = 0;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x)
                white += chart.pixelColor(x, y).lightness() > 230 && chart.pixelColor(x, y).alpha() == 255;
        QVERIFY2(white > 20, "the chart symbol is missing");
    }
};

QTEST_MAIN(PanelPlacementTest)
#include "PanelPlacementTest.moc"
