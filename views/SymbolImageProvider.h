#pragma once

#include <QQuickImageProvider>

// The app's own symbols, drawn in a given colour so they follow the light and dark palettes:
// "image://symbol/<name>/<colour>", the colour as Qt writes it without "#" ("80000000").
class SymbolImageProvider : public QQuickImageProvider
{
public:
    SymbolImageProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};
