#include "ImageItem.h"

#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>

ImageItem::ImageItem(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void ImageItem::setImage(const QImage &image)
{
    if (image == m_image && image.isNull() == m_image.isNull())
        return;
    m_image = image;
    emit imageChanged();
    update();
}

void ImageItem::setRadius(qreal radius)
{
    if (qFuzzyCompare(radius, m_radius))
        return;
    m_radius = radius;
    emit radiusChanged();
    update();
}

void ImageItem::paint(QPainter *painter)
{
    if (m_image.isNull())
        return;
    const QRectF bounds(0, 0, width(), height());
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    // Scaling once to the pixels shown looks far better than the painter's bilinear pass on a
    // large touch icon.
    const QImage scaled =
        m_image.scaled((bounds.size() * ratio).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainterPath clip;
    clip.addRoundedRect(bounds, m_radius, m_radius);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setClipPath(clip);
    painter->drawImage(bounds, scaled);
}
