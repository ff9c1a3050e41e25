#pragma once

#include <QImage>
#include <QQmlEngine>
#include <QQuickPaintedItem>

// Paints an image stretched over the item, smoothly, inside rounded corners.
class ImageItem : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    // A QImage; a variant for QML, which has no image type in Qt 6.4.
    Q_PROPERTY(QVariant image READ imageValue WRITE setImageValue NOTIFY imageChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)

public:
    explicit ImageItem(QQuickItem *parent = nullptr);

    QImage image() const { return m_image; }
    void setImage(const QImage &image);
    QVariant imageValue() const { return m_image; }
    void setImageValue(const QVariant &image) { setImage(image.value<QImage>()); }
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

    void paint(QPainter *painter) override;

signals:
    void imageChanged();
    void radiusChanged();

private:
    QImage m_image;
    qreal m_radius = 0;
};
