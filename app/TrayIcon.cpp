#include "TrayIcon.h"

#include <QFontMetricsF>
#include <QIconEngine>
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
        const QRectF slot(rect.x() + (rect.width() - width) / 2, rect.y() + (rect.height() - height) / 2, width, height);
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
    // The largest size at which the figure's ink fits the badge with a margin, the glyphs of a
    // bold face narrowed from condensed down to 55 % of their width and set tight: height is what
    // keeps four characters in 16 px readable. Qt narrows a face that has no condensed form.
    void paintText(QPainter *painter, const QRectF &badge) const
    {
        QFont font = painter->font();
        font.setBold(true);
        font.setHintingPreference(QFont::PreferFullHinting);
        const qreal margin = std::max(1.0, std::round(badge.height() * 0.08));
        const QRectF room = badge.adjusted(margin, margin, -margin, -margin);
        QRectF ink;
        const auto fits = [&] {
            ink = QFontMetricsF(font).tightBoundingRect(*m_text);
            return ink.width() <= room.width() && ink.height() <= room.height();
        };
        bool found = false;
        for (int pixels = int(badge.height() * 0.7); pixels > 1 && !found; --pixels) {
            font.setPixelSize(pixels);
            font.setLetterSpacing(QFont::AbsoluteSpacing, -pixels * 0.03);
            for (int stretch = QFont::Condensed; stretch >= 55 && !found; stretch -= 5) {
                font.setStretch(stretch);
                found = fits();
            }
        }
        painter->setFont(font);
        painter->setPen(Qt::white);
        // The ink is centred, not the line: figures have no descenders. Whole pixels vertically
        // keep the digits' tops and bottoms sharp.
        const QPointF origin = room.center() - ink.center();
        painter->drawText(QPointF(origin.x(), std::round(origin.y())), *m_text);
    }

    static void paintChart(QPainter *painter, const QRectF &badge)
    {
        // The symbol is drawn black; keep its shape and paint it white.
        const QRectF inner = badge.adjusted(badge.width() * 0.18, badge.height() * 0.18, -badge.width() * 0.18,
                                            -badge.height() * 0.18);
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
