#include "EventRules.h"

#include "Json.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>
#include <functional>

namespace EventRules {

namespace {

constexpr qsizetype textLimit = 500;

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
        event.page = pageURL.path(QUrl::FullyDecoded).left(textLimit);
        if (event.page.isEmpty())
            event.page = QStringLiteral("/");
    }
    const QUrl referrerURL = webAddress(*referrer);
    if (!referrerURL.isEmpty() && referrerURL.host().compare(pageURL.host(), Qt::CaseInsensitive) != 0)
        event.referrer = referrerURL.host().toLower();
    if (event.kind == EventKind::click)
        event.label = label->simplified().left(textLimit);
    return event;
}

bool isBot(const QString &userAgent)
{
    // Every browser still opens with this; scripts and most tools do not.
    if (!userAgent.startsWith(QLatin1String("Mozilla/")))
        return true;
    static const char *const markers[] = {
        "bot",      "crawl",   "spider",    "slurp",     "headless", "lighthouse", "pingdom",
        "monitor",  "preview", "facebookexternalhit", "python", "curl", "wget", "phantomjs",
        "scrapy",   "http-client", "feedfetcher", "validator",
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
