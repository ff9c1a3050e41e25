#include "TrayIcon.h"

#include <QFontMetricsF>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSvgRenderer>

namespace TrayIcon {

namespace {

const QColor badgeColour(0x25, 0x63, 0xeb);

class FigureIconEngine final : public QIconEngine
{
public:
    explicit FigureIconEngine(std::optional<QString> text) : m_text(std::move(text)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        // As tall as the slot allows; a slot wider than tall (a panel's can be 30 x 22) also
        // gives the figure more width.
        const qreal height = std::min(rect.width(), rect.height());
        const qreal width = m_text ? std::min<qreal>(rect.width(), height * 1.5) : height;
        const QRectF slot(rect.x() + (rect.width() - width) / 2, rect.y() + (rect.height() - height) / 2, width,
                          height);
        // A small icon needs every pixel for the figure; a larger one keeps a pixel's air.
        const qreal inset = height < 20 ? 0 : std::max(1.0, std::round(height * 0.04));
        const QRectF badge = slot.adjusted(inset, inset, -inset, -inset);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setRenderHint(QPainter::TextAntialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(mode == QIcon::Disabled ? QColor(Qt::gray) : badgeColour);
        painter->drawRoundedRect(badge, height * 0.2, height * 0.2);
        if (m_text)
            paintText(painter, badge);
        else
            paintChart(painter, badge);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {44, 44}, {48, 48}, {64, 64}, {128, 128}};
    }

    QString key() const override { return QStringLiteral("orvela-figure"); }
    QIconEngine *clone() const override { return new FigureIconEngine(m_text); }

private:
    // The largest size at which the figure fits the badge with a margin, in a condensed bold
    // face: height is what keeps four characters in 16 px readable. Each character is placed
    // by the pixels it inks, a clear pixel column from the next, since the point of "1.2k"
    // squeezed between its neighbours reads as "12k". Qt narrows a face that has no condensed
    // form.
    void paintText(QPainter *painter, const QRectF &badge) const
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QFont font = painter->font();
        font.setBold(true);
        font.setHintingPreference(QFont::PreferFullHinting);
        // A pixel's air at the sides is enough; more above and below keeps the badge a badge.
        const qreal margin = std::max(1.0, std::round(badge.height() * 0.08));
        const QRectF room = badge.adjusted(1, margin, -1, -margin);
        const qreal gap = 1;
        QList<Ink> inks;
        QRectF line;
        qreal solidHeight = 0;
        const auto fits = [&] {
            inks.clear();
            line = QRectF();
            qreal x = 0, solidTop = 0, solidBottom = 0;
            for (const QChar character : *m_text) {
                const Ink ink = character == u'.' ? pointInk(font) : inkOf(font, character, ratio);
                inks.append(ink);
                line |= ink.touched.translated(x - ink.touched.left(), 0);
                solidTop = std::min(solidTop, ink.solid.top());
                solidBottom = std::max(solidBottom, ink.solid.bottom());
                x += ink.touched.width() + gap;
            }
            solidHeight = solidBottom - solidTop;
            return line.width() <= room.width() && line.height() <= room.height();
        };
        const auto largestFitting = [&](int stretch) {
            font.setStretch(stretch);
            for (int pixels = int(badge.height() * 0.7); pixels > 1; --pixels) {
                font.setPixelSize(pixels);
                if (fits())
                    return true;
            }
            return false;
        };
        // The condensed face keeps its stems on whole pixels; narrowed further, they blur. So
        // it is narrowed only where it would come out too short to read.
        const qreal legible = std::max(5.0, std::ceil(badge.height() * 0.3));
        bool found = false;
        for (int stretch = QFont::Condensed; stretch >= 55 && !found; stretch -= 5)
            found = largestFitting(stretch) && solidHeight >= legible;
        if (!found)
            largestFitting(QFont::Condensed);

        painter->setFont(font);
        painter->setPen(Qt::white);
        // Centred by the ink, on whole pixels as measured: figures have no descenders.
        qreal x = std::round(room.center().x() - line.width() / 2);
        const qreal baseline = std::round(room.center().y() - line.center().y());
        for (qsizetype i = 0; i < m_text->size(); ++i) {
            if (m_text->at(i) == u'.')
                painter->fillRect(inks[i].touched.translated(x, baseline), Qt::white);
            else
                painter->drawText(QPointF(x - inks[i].touched.left(), baseline), m_text->at(i));
            x += inks[i].touched.width() + gap;
        }
    }

    // What a character inks when drawn at a whole-pixel origin, relative to that origin: the
    // pixels it touches enough to be seen (kept apart from the next character's), and those it
    // covers solidly (what the eye reads as its height).
    struct Ink {
        QRectF touched;
        QRectF solid;
    };

    static Ink inkOf(const QFont &font, QChar character, qreal ratio)
    {
        const QFontMetricsF metrics(font);
        const QPoint origin(2, int(std::ceil(metrics.ascent())) + 2);
        const QSize size(int(std::ceil(metrics.horizontalAdvance(character) * 2)) + 4,
                         int(std::ceil(metrics.height())) + 4);
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(origin, QString(character));
        }
        QRect touched, solid;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const int alpha = qAlpha(image.pixel(x, y));
                if (alpha > 100)
                    touched |= QRect(x, y, 1, 1);
                if (alpha > 150)
                    solid |= QRect(x, y, 1, 1);
            }
        }
        const auto logical = [&](const QRect &pixels) {
            return QRectF(QPointF(pixels.topLeft()) / ratio, QSizeF(pixels.size()) / ratio).translated(-origin);
        };
        return {logical(touched), logical(solid)};
    }

    // The decimal point as a square of whole pixels on the baseline: the font's own comes out
    // as a faint blur at these sizes.
    static Ink pointInk(const QFont &font)
    {
        const qreal side = std::max(1.0, std::round(font.pixelSize() * 0.18));
        const QRectF square(0, -side, side, side);
        return {square, square};
    }

    static void paintChart(QPainter *painter, const QRectF &badge)
    {
        // The symbol is drawn black; keep its shape and paint it white.
        const QRectF inner =
            badge.adjusted(badge.width() * 0.18, badge.height() * 0.18, -badge.width() * 0.18, -badge.height() * 0.18);
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QImage symbol((inner.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        symbol.fill(Qt::transparent);
        {
            QPainter symbolPainter(&symbol);
            QSvgRenderer(QStringLiteral(":/qt/qml/Orvela/icons/chart.bar.svg")).render(&symbolPainter);
            symbolPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            symbolPainter.fillRect(symbol.rect(), Qt::white);
        }
        symbol.setDevicePixelRatio(ratio);
        painter->drawImage(inner.topLeft(), symbol);
    }

    std::optional<QString> m_text;
};

// Shortened to at most three significant digits, truncated so the icon never overstates.
QString shortened(qint64 value, qint64 unit, QChar suffix)
{
    const qint64 whole = value / unit;
    if (whole < 10) {
        const qint64 tenth = (value % unit) * 10 / unit;
        return tenth == 0 ? QString::number(whole) + suffix
                          : QString::number(whole) + u'.' + QString::number(tenth) + suffix;
    }
    return QString::number(whole) + suffix;
}

}  // namespace

QString figureText(qint64 value)
{
    if (value < 1000)
        return QString::number(std::max<qint64>(value, 0));
    if (value < 1'000'000)
        return shortened(value, 1000, u'k');
    if (value < 1'000'000'000)
        return shortened(value, 1'000'000, u'M');
    if (value < 1'000'000'000'000)
        return shortened(value, 1'000'000'000, u'B');
    return QStringLiteral("1T+");
}

QIcon make(std::optional<qint64> figure)
{
    return QIcon(new FigureIconEngine(figure ? std::optional(figureText(*figure)) : std::nullopt));
}

}  // namespace TrayIcon
