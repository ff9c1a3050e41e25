#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// What decides a website's icon without touching the network: the address to start from, the
// icons a home page declares, the order to try them in, and whether a body is worth showing.
namespace Favicon {

inline constexpr qint64 pageByteLimit = 200'000;
inline constexpr qint64 smallestIconBytes = 33;
inline constexpr qint64 largestIconBytes = 999'999;

// https://host[:port] of what the user typed as a domain; no value when no host is left.
std::optional<QUrl> origin(const QString &domain);

// The icons the page's <link> elements declare: plain icons before touch icons, each in
// document order, resolved against the origin. The page is decoded leniently, so a character
// cut at the size limit or a page in another encoding still yields the links it holds.
QList<QUrl> declaredIcons(const QByteArray &page, const QUrl &origin);

// An http or https address.
bool isWebAddress(const QUrl &url);

// What to download, in order and without repeats: the declared icons, then the usual paths.
QList<QUrl> candidates(const QList<QUrl> &declared, const QUrl &origin);

// The image a downloaded body holds, when it is one worth showing.
std::optional<QImage> usableImage(const QByteArray &body);

}  // namespace Favicon
