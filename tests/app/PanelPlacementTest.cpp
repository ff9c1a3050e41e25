// Where the panel opens, how tall it is, and what the tray icon draws.
#include "PanelPlacement.h"
#include "TrayIcon.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>
#include <limits>

using namespace PanelPlacement;
using Screens = QList<Screen>;
Q_DECLARE_METATYPE(Screens)

class PanelPlacementTest : public QObject
{
    Q_OBJECT

private slots:
    void placesThePanel_data()
    {
        QTest::addColumn<QRect>("icon");  // null: no anchor
        QTest::addColumn<QSize>("size");
        QTest::addColumn<Screens>("screens");
        QTest::addColumn<QPoint>("origin");
        const QSize panel(320, 400);
        const Screen laptop{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)};
        const Screen full{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)};
        // A second screen to the right of the laptop, with its own panel at the bottom.
        const Screen right{QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1044)};
        // Centred under an icon in a 28 px top panel that the window manager keeps free.
        QTest::newRow("top panel") << QRect(900, 2, 24, 24) << panel
                                   << Screens{{full.geometry, QRect(0, 28, 1920, 1052)}} << QPoint(752, 28 + gap);
        // Above the strip a bottom panel keeps free, or just above the icon where nothing is.
        QTest::newRow("bottom panel") << QRect(900, 1048, 24, 24) << panel
                                      << Screens{{full.geometry, QRect(0, 0, 1920, 1040)}}
                                      << QPoint(752, 1040 - margin - 400);
        QTest::newRow("bottom, nothing reserved") << QRect(900, 1048, 24, 24) << panel << Screens{full}
                                                  << QPoint(752, 1048 - gap - 400);
        QTest::newRow("top-right corner") << QRect(1256, 4, 24, 24) << panel << Screens{laptop}
                                          << QPoint(1280 - margin - 320, 28 + gap);
        QTest::newRow("top-left corner") << QRect(0, 4, 24, 24) << panel << Screens{laptop} << QPoint(margin, 28 + gap);
        QTest::newRow("taller than the room below") << QRect(600, 300, 24, 24) << QSize(320, 700) << Screens{laptop}
                                                    << QPoint(452, 800 - margin - 700);
        QTest::newRow("screen smaller than the panel") << QRect(100, 4, 24, 24) << panel
                                                       << Screens{{QRect(0, 0, 300, 300), QRect(0, 0, 300, 300)}}
                                                       << QPoint(0, 0);
        QTest::newRow("second screen, bottom") << QRect(3000, 1050, 24, 24) << panel << Screens{laptop, right}
                                               << QPoint(2852, 1044 - margin - 400);
        QTest::newRow("second screen, right edge") << QRect(3190, 1050, 24, 24) << panel << Screens{laptop, right}
                                                   << QPoint(3200 - margin - 320, 1044 - margin - 400);
        QTest::newRow("first screen at the shared edge") << QRect(1250, 4, 24, 24) << panel << Screens{laptop, right}
                                                         << QPoint(1280 - margin - 320, 28 + gap);
        QTest::newRow("outside every screen") << QRect(5000, 10, 1, 1) << panel << Screens{laptop, right}
                                              << QPoint(3200 - margin - 320, 15);
        QTest::newRow("no anchor") << QRect() << panel << Screens{{right.geometry, right.geometry}, laptop}
                                   << QPoint(1280 + 800, 340);
    }

    void placesThePanel()
    {
        QFETCH(QRect, icon);
        QFETCH(QSize, size);
        QFETCH(Screens, screens);
        QFETCH(QPoint, origin);
        QCOMPARE(position(icon.isNull() ? std::nullopt : std::optional(icon), size, screens), origin);
    }

    void appliesHeightsByTheHalfPointRule()
    {
        // {reported, applied, to apply (0: nothing)}: rounded to the half point, halves away
        // from zero, applied only when more than half a point away; heights that say nothing.
        const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
        const double cases[][3] = {{200.2, 0, 200},   {200.25, 0, 200.5}, {200.6, 0, 200.5}, {200.75, 0, 201},
                                   {200.6, 200, 0},   {201, 200, 201},    {199.4, 200, 0},   {199.2, 200, 199},
                                   {1, 200, 0},       {-50, 200, 0},      {nan, 200, 0},     {inf, 200, 0}};
        for (const auto &[reported, applied, result] : cases)
            QCOMPARE(heightToApply(reported, applied).value_or(0), result);
    }

    void drawsTheFigureOrTheChartLegibly()
    {
        const std::pair<qint64, QString> texts[] = {{0, "0"},         {999, "999"},      {1000, "1k"},
                                                    {1999, "1.9k"},   {999999, "999k"},  {2500000, "2.5M"},
                                                    {12000000000, "12B"}, {5000000000000, "1T+"}, {-3, "0"}};
        for (const auto &[value, text] : texts)
            QCOMPARE(TrayIcon::figureText(value), text);
        // White digits (or the chart symbol) on the coloured square, at the sizes trays use.
        for (const auto figure : {std::optional<qint64>(888), std::optional<qint64>()}) {
            for (const int side : {16, 22, 44}) {
                const QImage image = TrayIcon::make(figure).pixmap(QSize(side, side)).toImage();
                QCOMPARE(image.size(), QSize(side, side));
                int white = 0, coloured = 0;
                for (int y = 0; y < side; ++y)
                    for (int x = 0; x < side; ++x) {
                        const QColor pixel = image.pixelColor(x, y);
                        white += pixel.alpha() == 255 && pixel.lightness() > 230;
                        coloured += pixel.alpha() == 255 && pixel.blue() > 200 && pixel.red() < 80;
                    }
                QVERIFY2(white >= side * side / 20, qPrintable(QStringLiteral("%1 px: %2 white").arg(side).arg(white)));
                QVERIFY(coloured > side * side / 3);
            }
        }
        QVERIFY(TrayIcon::make(std::nullopt).pixmap(22, 22).toImage() != TrayIcon::make(7).pixmap(22, 22).toImage());
    }
};

QTEST_MAIN(PanelPlacementTest)
#include "PanelPlacementTest.moc"
