#include "Website.h"

#include "Json.h"

QString trimmedText(const QString &text)
{
    // QString::trimmed() covers the Unicode white-space property, line breaks included.
    return text.trimmed();
}

namespace {

bool isWebScheme(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

}  // namespace

std::optional<QUrl> Website::dashboardURL() const
{
    if (!dashboardURLString)
        return std::nullopt;
    const QUrl url(*dashboardURLString, QUrl::StrictMode);
    if (!url.isValid() || !isWebScheme(url) || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QString> Website::normalizedDomain(const QString &text)
{
    QString trimmed = trimmedText(text);
    if (trimmed.isEmpty())
        return std::nullopt;
    if (!trimmed.contains(QStringLiteral("://")))
        trimmed.prepend(QStringLiteral("https://"));
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    if (host.isEmpty())
        return std::nullopt;
    if (host != u"localhost" && !host.contains(u'.'))
        return std::nullopt;
    if (host.contains(u' '))
        return std::nullopt;
    if (url.port() >= 0)
        return host + u':' + QString::number(url.port());
    return host;
}

std::optional<QString> Website::normalizedDashboardURL(const QString &text)
{
    const QString trimmed = trimmedText(text);
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || !isWebScheme(url) || url.host().isEmpty())
        return std::nullopt;
    return trimmed;
}

QJsonObject Website::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), Json::uuidText(id)},
        {QStringLiteral("displayName"), displayName},
        {QStringLiteral("domain"), domain},
    };
    if (dashboardURLString)
        object.insert(QStringLiteral("dashboardURLString"), *dashboardURLString);
    return object;
}

Website Website::fromJson(const QJsonObject &object)
{
    Website website;
    website.id = Json::toUuid(Json::required(object, QStringLiteral("id")), QStringLiteral("id"));
    website.displayName =
        Json::toString(Json::required(object, QStringLiteral("displayName")), QStringLiteral("displayName"));
    website.domain = Json::toString(Json::required(object, QStringLiteral("domain")), QStringLiteral("domain"));
    if (auto url = Json::optional(object, QStringLiteral("dashboardURLString")))
        website.dashboardURLString = Json::toString(*url, QStringLiteral("dashboardURLString"));
    return website;
}
