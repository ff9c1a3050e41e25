#include "SymbolImageProvider.h"

#include <QColor>
#include <QPainter>
#include <QSvgRenderer>

SymbolImageProvider::SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage SymbolImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const QString name = id.section(u'/', 0, 0);
    const QColor color(u'#' + id.section(u'/', 1, 1));
    QSvgRenderer renderer(QStringLiteral(":/qt/qml/Orvela/icons/%1.svg").arg(name));
    const QSize target = requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : renderer.defaultSize();
    if (size)
        *size = target;
    if (!renderer.isValid() || target.isEmpty())
        return {};

    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), target));
    // The drawings are black: keep their coverage, take the colour asked for.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color.isValid() ? color : QColor(Qt::black));
    return image;
}
