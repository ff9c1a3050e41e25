#include "EventRules.h"

#include "Json.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>
#include <functional>

namespace EventRules {

namespace {

// Missing or null: empty; anything but a string: no value.
std::optional<QString> optionalText(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return QString();
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

QUrl webAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return {};
    return url;
}

}  // namespace

std::optional<ParsedEvent> parse(const QByteArray &body)
{
    if (body.size() > bodyLimit)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const auto site = optionalText(object, QStringLiteral("s"));
    const auto kind = optionalText(object, QStringLiteral("k"));
    const auto page = optionalText(object, QStringLiteral("u"));
    const auto referrer = optionalText(object, QStringLiteral("r"));
    const auto label = optionalText(object, QStringLiteral("l"));
    if (!site || !kind || !page || !referrer || !label)
        return std::nullopt;

    ParsedEvent event;
    const QUuid id = site->size() == 36 ? QUuid::fromString(*site) : QUuid();
    if (id.isNull())
        return std::nullopt;
    event.siteUuid = Json::uuidText(id);

    if (*kind == u"pageview")
        event.kind = EventKind::pageview;
    else if (*kind == u"click")
        event.kind = EventKind::click;
    else if (*kind == u"ping")
        event.kind = EventKind::ping;
    else
        return std::nullopt;

    // Only the path is kept: queries and fragments often carry personal data.
    const QUrl pageURL = webAddress(*page);
    if (event.kind == EventKind::pageview && pageURL.isEmpty())
        return std::nullopt;
    if (!pageURL.isEmpty()) {
        event.host = hostOf(pageURL.host());
        event.page = cleanText(withoutParameters(pageURL.path(QUrl::FullyDecoded)));
        if (event.page.isEmpty())
            event.page = QStringLiteral("/");
    }
    const QUrl referrerURL = webAddress(*referrer);
    if (!referrerURL.isEmpty() && referrerURL.host().compare(pageURL.host(), Qt::CaseInsensitive) != 0)
        event.referrer = referrerURL.host().toLower();
    if (event.kind == EventKind::click)
        event.label = cleanText(label->simplified()).simplified();
    return event;
}

QString cleanText(const QString &text, qsizetype limit)
{
    QString clean;
    clean.reserve(std::min(text.size(), limit));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool control = c < 0x20 || (c >= 0x7f && c < 0xa0);
        const bool reordering = (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
        if (control || reordering)
            continue;
        if (QChar::isHighSurrogate(c)) {
            // Kept whole or not at all; a lone half is dropped.
            if (i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
                if (clean.size() + 2 > limit)
                    break;
                clean.append(text[i]).append(text[i + 1]);
                ++i;
            }
            continue;
        }
        if (QChar::isLowSurrogate(c))
            continue;
        if (clean.size() + 1 > limit)
            break;
        clean.append(QChar(c));
    }
    return clean;
}

QString withoutParameters(const QString &path)
{
    QStringList segments = path.split(u'/');
    for (QString &segment : segments) {
        const qsizetype parameters = segment.indexOf(u';');
        if (parameters >= 0)
            segment.truncate(parameters);
    }
    return segments.join(u'/');
}

QString hostOf(const QString &host)
{
    if (host.contains(u':'))  // an IPv6 address
        return host.toLower();
    QString ascii = QString::fromLatin1(QUrl::toAce(host)).toLower();
    if (ascii.endsWith(u'.'))
        ascii.chop(1);
    return ascii;
}

QString siteHost(const QString &domain)
{
    QString text = domain.trimmed();
    if (text.isEmpty())
        return {};
    if (!text.contains(QLatin1String("://")))
        text.prepend(QLatin1String("http://"));
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return {};
    QString host = hostOf(url.host());
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    return host;
}

bool belongsTo(const QString &pageHost, const QString &siteHost)
{
    if (siteHost.isEmpty() || pageHost.isEmpty())
        return false;
    return pageHost == siteHost ||
        (pageHost.endsWith(siteHost) && pageHost[pageHost.size() - siteHost.size() - 1] == u'.');
}

bool isBot(const QString &userAgent)
{
    // Every browser still opens with this; scripts and most tools do not.
    if (!userAgent.startsWith(QLatin1String("Mozilla/")))
        return true;
    static const char *const markers[] = {
        "bot",         "crawl",       "spider",    "slurp",     "headless",
        "lighthouse",  "pingdom",     "monitor",   "preview",   "facebookexternalhit",
        "python",      "curl",        "wget",      "phantomjs", "scrapy",
        "http-client", "feedfetcher", "validator",
    };
    const QString lower = userAgent.toLower();
    for (const char *marker : markers) {
        if (lower.contains(QLatin1String(marker)))
            return true;
    }
    return false;
}

QString clientAddress(const std::string &socketAddress, const std::string &forwardedFor, bool trustProxy)
{
    if (trustProxy && !forwardedFor.empty()) {
        const QString list = QString::fromLatin1(forwardedFor);
        const QString last = list.section(u',', -1).trimmed();
        if (!last.isEmpty())
            return last;
    }
    return QString::fromStdString(socketAddress);
}

QString countryCode(const QString &text)
{
    const QString code = text.trimmed().toUpper();
    if (code.size() != 2 || !code[0].isLetter() || !code[1].isLetter() || code[0].unicode() > 'Z' ||
        code[1].unicode() > 'Z')
        return {};
    // XX: unknown; T1: Tor; EU and AP: continents rather than countries.
    if (code == u"XX" || code == u"EU" || code == u"AP")
        return {};
    return code;
}

}  // namespace EventRules
