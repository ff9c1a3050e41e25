#include "FaviconRules.h"

#include <QRegularExpression>
#include <QSet>

namespace Favicon {

std::optional<QUrl> origin(const QString &domain)
{
    QString text = domain.trimmed().toLower();
    text.remove(QStringLiteral("https://"));
    text.remove(QStringLiteral("http://"));
    text = text.section(u'/', 0, 0);

    QString host = text;
    std::optional<int> port;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon >= 0) {
        const QString after = text.mid(colon + 1);
        static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
        if (after.isEmpty()) {
            host = text.left(colon);
        } else if (digits.match(after).hasMatch()) {
            bool fits = false;
            const int number = after.toInt(&fits);
            if (!fits || number > 65535)
                return std::nullopt;
            host = text.left(colon);
            port = number;
        }
    }
    if (host.isEmpty() || host.contains(u' '))
        return std::nullopt;

    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    if (port)
        url.setPort(*port);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

namespace {

// The value of attribute `name` in quotes of either kind; unquoted values are not recognised.
QRegularExpression attributeExpression(const QString &name)
{
    return QRegularExpression(QStringLiteral("\\b") + name + QStringLiteral("\\s*=\\s*([\"'])(.*?)\\1"),
                              QRegularExpression::CaseInsensitiveOption);
}

std::optional<QString> attribute(const QString &tag, const QRegularExpression &expression)
{
    const QRegularExpressionMatch match = expression.match(tag);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(2);
}

QUrl withPath(QUrl origin, const QString &path)
{
    origin.setPath(path);
    return origin;
}

}  // namespace

bool isWebAddress(const QUrl &url)
{
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http");
}

QList<QUrl> declaredIcons(const QByteArray &page, const QUrl &origin)
{
    // Lenient on purpose: invalid or cut sequences become U+FFFD and the tags around them survive.
    const QString text = QString::fromUtf8(page.left(pageByteLimit));
    static const QRegularExpression linkTag(QStringLiteral("<link\\b[^>]*>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression relAttribute = attributeExpression(QStringLiteral("rel"));
    static const QRegularExpression hrefAttribute = attributeExpression(QStringLiteral("href"));

    QList<QUrl> plain;
    QList<QUrl> touch;
    for (const QRegularExpressionMatch &match : linkTag.globalMatch(text)) {
        const QString tag = match.captured(0);
        const std::optional<QString> rel = attribute(tag, relAttribute);
        if (!rel)
            continue;
        const QString kind = rel->toLower();
        if (!kind.contains(u"icon") || kind.contains(u"mask"))
            continue;
        const std::optional<QString> href = attribute(tag, hrefAttribute);
        if (!href)
            continue;
        const QUrl reference(*href);
        if (!reference.isValid())
            continue;
        const QUrl address = origin.resolved(reference);
        if (!isWebAddress(address))
            continue;
        (kind.contains(u"apple") ? touch : plain).append(address);
    }
    return plain + touch;
}

QList<QUrl> candidates(const QList<QUrl> &declared, const QUrl &origin)
{
    QList<QUrl> all = declared;
    all << withPath(origin, QStringLiteral("/favicon.ico")) << withPath(origin, QStringLiteral("/apple-touch-icon.png"))
        << withPath(origin, QStringLiteral("/favicon.png"));

    QList<QUrl> distinct;
    QSet<QString> seen;
    for (const QUrl &url : all) {
        const QString text = url.toString(QUrl::FullyEncoded);
        if (seen.contains(text))
            continue;
        seen.insert(text);
        distinct.append(url);
    }
    return distinct;
}

std::optional<QImage> usableImage(const QByteArray &body)
{
    if (body.size() < smallestIconBytes || body.size() > largestIconBytes)
        return std::nullopt;
    const QImage image = QImage::fromData(body);
    if (image.isNull() || image.width() <= 1 || image.height() <= 1)
        return std::nullopt;
    return image;
}

}  // namespace Favicon
