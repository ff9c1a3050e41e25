#pragma once

// WCAG 2 contrast between colours, and the most contrasting pixel of a rendered area.

#include <QColor>
#include <QImage>
#include <QRect>
#include <cmath>

// A translucent colour laid over an opaque one.
inline QColor over(const QColor &top, const QColor &below)
{
    const double alpha = top.alphaF();
    const auto mix = [alpha](double a, double b) { return a * alpha + b * (1 - alpha); };
    return QColor::fromRgbF(float(mix(top.redF(), below.redF())), float(mix(top.greenF(), below.greenF())),
                            float(mix(top.blueF(), below.blueF())));
}

inline double relativeLuminance(const QColor &colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

inline double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast any pixel of the area has with the background colour: for text or a
// symbol, the contrast of its fully covered pixels.
inline double strongestContrast(const QImage &image, const QRect &area, const QColor &background)
{
    double strongest = 1;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            strongest = std::max(strongest, contrastRatio(image.pixelColor(x, y), background));
    return strongest;
}
