// Where the panel opens, how tall it is, and what the tray icon draws.
#include "PanelPlacement.h"
#include "TrayIcon.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>
#include <limits>

using namespace PanelPlacement;

class PanelPlacementTest : public QObject
{
    Q_OBJECT

private slots:
    void placesThePanel()
    {
        const QSize panel(320, 400);
        const Screen laptop{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)};
        const Screen full{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)};
        const Screen tiny{QRect(0, 0, 300, 300), QRect(0, 0, 300, 300)};
        // The same screen with a 28 px top panel, or a 40 px bottom one, that the window manager keeps free.
        const Screen top{full.geometry, QRect(0, 28, 1920, 1052)}, bottom{full.geometry, QRect(0, 0, 1920, 1040)};
        // A second screen to the right of the laptop, with its own panel at the bottom.
        const Screen right{QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1044)};
        // An icon of the usual 24 px at (x, y).
        const auto icon = [](int x, int y) { return std::optional(QRect(x, y, 24, 24)); };
        const struct {
            const char *name;
            std::optional<QRect> icon;
            QSize size;
            QList<Screen> screens;
            QPoint origin;
        } cases[] = {
            // Centred under the icon; above the strip a bottom panel keeps free, or just above the
            // icon where nothing is.
            {"top panel", icon(900, 2), panel, {top}, {752, 28 + gap}},
            {"bottom panel", icon(900, 1048), panel, {bottom}, {752, 1040 - margin - 400}},
            {"bottom, nothing reserved", icon(900, 1048), panel, {full}, {752, 1048 - gap - 400}},
            {"top-right corner", icon(1256, 4), panel, {laptop}, {1280 - margin - 320, 28 + gap}},
            {"top-left corner", icon(0, 4), panel, {laptop}, {margin, 28 + gap}},
            {"taller than the room below", icon(600, 300), QSize(320, 700), {laptop}, {452, 800 - margin - 700}},
            {"screen smaller than the panel", icon(100, 4), panel, {tiny}, {0, 0}},
            {"second screen, bottom", icon(3000, 1050), panel, {laptop, right}, {2852, 1044 - margin - 400}},
            {"second's right edge", icon(3190, 1050), panel, {laptop, right}, {2880 - margin, 1044 - margin - 400}},
            {"first screen at the shared edge", icon(1250, 4), panel, {laptop, right}, {1280 - margin - 320, 28 + gap}},
            {"outside every screen", QRect(5000, 10, 1, 1), panel, {laptop, right}, {3200 - margin - 320, 15}},
            {"no anchor", std::nullopt, panel, {{right.geometry, right.geometry}, laptop}, {1280 + 800, 340}},
        };
        for (const auto &c : cases)
            QVERIFY2(position(c.icon, c.size, c.screens) == c.origin, c.name);
    }

    void appliesHeightsByTheHalfPointRule()
    {
        // {reported, applied, to apply (0: nothing)}: rounded to the half point, halves away
        // from zero, applied only when more than half a point away; heights that say nothing.
        const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
        const double cases[][3] = {{200.2, 0, 200}, {200.25, 0, 200.5}, {200.6, 0, 200.5}, {200.75, 0, 201},
                                   {200.6, 200, 0}, {201, 200, 201},    {199.4, 200, 0},   {199.2, 200, 199},
                                   {1, 200, 0},     {-50, 200, 0},      {nan, 200, 0},     {inf, 200, 0}};
        for (const auto &[reported, applied, result] : cases)
            QCOMPARE(heightToApply(reported, applied).value_or(0), result);
    }

    void drawsTheFigureOrTheChartLegibly()
    {
        const std::pair<qint64, QString> texts[] = {
            {0, "0"},          {999, "999"},         {1000, "1k"},           {1999, "1.9k"}, {999999, "999k"},
            {2500000, "2.5M"}, {12000000000, "12B"}, {5000000000000, "1T+"}, {-3, "0"}};
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
