// The figure drawn into the tray icon, rendered at the sizes trays ask for. Each render is left
// in <build>/screenshots.
#include "TrayIcon.h"

#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QTest>

namespace {

// The bounding box of the pixels that pass the test.
template<typename Test>
QRect boxOf(const QImage &image, Test test)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (test(image.pixelColor(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

class TrayIconTest : public QObject
{
    Q_OBJECT

private slots:
    // The figure fits inside its badge with a margin, and its glyphs stay legible: digits at
    // least 5 px tall and at least 30 % of the badge's height, none touching the next (the dot
    // of "1.2k" lost between its neighbours reads as "12k").
    void figureFitsTheSlot_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<qint64>("figure");
        for (const QSize size :
             {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(22, 30), QSize(30, 22)})
            for (const qint64 figure : {qint64(1234), qint64(999), qint64(2'500'000)})
                QTest::addRow("%dx%d %s", size.width(), size.height(), qPrintable(TrayIcon::figureText(figure)))
                    << size << figure;
    }
    void figureFitsTheSlot()
    {
        QFETCH(QSize, size);
        QFETCH(qint64, figure);
        const QImage image = TrayIcon::make(figure).pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), size);
        const QDir screenshots(QStringLiteral(ORVELA_SCREENSHOT_DIR));
        screenshots.mkpath(QStringLiteral("."));
        image.save(screenshots.filePath(QStringLiteral("tray-%1x%2-%3.png")
                                            .arg(size.width())
                                            .arg(size.height())
                                            .arg(TrayIcon::figureText(figure))));

        const QRect badge = boxOf(image, [](const QColor &pixel) { return pixel.alpha() > 128; });
        // White text on the badge; its anti-aliased edges count from half way.
        const auto isText = [](const QColor &pixel) {
            return pixel.alpha() > 128 && pixel.red() > 160 && pixel.green() > 160;
        };
        const QRect text = boxOf(image, isText);
        QVERIFY(!text.isEmpty());
        const QMargins margin(1, 1, 1, 1);
        QString boxes;
        QDebug(&boxes) << "text" << text << "in badge" << badge;
        QVERIFY2(badge.marginsRemoved(margin).contains(text), qPrintable(boxes));
        const int legible = std::max(5, int(std::ceil(badge.height() * 0.3)));
        QVERIFY2(text.height() >= legible, qPrintable(QStringLiteral("%1 px tall").arg(text.height())));
        int glyphs = 0;
        bool inGlyph = false;
        for (int x = text.left(); x <= text.right(); ++x) {
            bool inked = false;
            for (int y = text.top(); y <= text.bottom(); ++y)
                inked = inked || isText(image.pixelColor(x, y));
            glyphs += inked && !inGlyph;
            inGlyph = inked;
        }
        QCOMPARE(glyphs, TrayIcon::figureText(figure).size());
    }
};

QTEST_MAIN(TrayIconTest)
#include "TrayIconTest.moc"
