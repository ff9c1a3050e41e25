#include "OrvelaAnalyticsProvider.h"

#include "AnalyticsFailure.h"
#include "ExampleWebsite.h"
#include "Json.h"
#include "WireStats.h"

#include <QUrlQuery>

OrvelaAnalyticsProvider::OrvelaAnalyticsProvider(TokenProvider tokenProvider, BaseURLProvider baseURL,
                                                 QNetworkAccessManager &session, TransferLimits limits)
    : m_tokenProvider(std::move(tokenProvider))
    , m_baseURL(std::move(baseURL))
    , m_session(&session)
    , m_limits(limits)
{
}

std::optional<QUrl> OrvelaAnalyticsProvider::statsURL(const QUrl &baseURL, const QUuid &websiteID, int offsetMinutes)
{
    if (!baseURL.isValid() || baseURL.isRelative() || baseURL.host().isEmpty())
        return std::nullopt;
    QUrl url = baseURL;
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/'))
        path += u'/';
    url.setPath(path + QStringLiteral("v1/stats"), QUrl::TolerantMode);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("website"), Json::lowerUuidText(websiteID));
    query.addQueryItem(QStringLiteral("offset"), QString::number(offsetMinutes));
    url.setQuery(query);
    url.setFragment(QString());
    if (!url.isValid())
        return std::nullopt;
    return url;
}

int OrvelaAnalyticsProvider::offsetMinutes(const QDateTime &localTime)
{
    // Integer division truncates toward zero, as the service expects.
    return localTime.offsetFromUtc() / 60;
}

QString OrvelaAnalyticsProvider::token() const
{
    std::optional<QString> token;
    try {
        token = m_tokenProvider ? m_tokenProvider() : std::nullopt;
    } catch (AnalyticsFailure failure) {
        throw failure;
    } catch (...) {
        throw AnalyticsFailure::credentialsUnreadable;
    }
    const QString trimmed = token ? trimmedText(*token) : QString();
    if (trimmed.isEmpty())
        throw AnalyticsFailure::notConfigured;
    return trimmed;
}

QCoro::Task<AnalyticsSnapshot> OrvelaAnalyticsProvider::fetchSnapshot(Website website, ProviderCredentials,
                                                                      std::stop_token stop)
{
    if (ExampleWebsite::isExampleDomain(website.domain))
        co_return ExampleWebsite::exampleSnapshot(Instant::now());

    const QString bearer = token();
    const auto url = statsURL(m_baseURL ? m_baseURL() : QUrl(), website.id, offsetMinutes(QDateTime::currentDateTime()));
    if (!url)
        throw AnalyticsFailure::unavailable;

    TransferRequest request;
    request.request.setUrl(*url);
    request.request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
    request.request.setRawHeader("Accept", "application/json");
    // The bearer token goes to the service's own origin and nowhere else.
    request.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);

    HttpReply reply;
    try {
        reply = co_await transfer(*m_session, request, m_limits, stop);
    } catch (const OversizedReply &) {
        throw AnalyticsFailure::malformedResponse;
    } catch (...) {
        throw AnalyticsFailures::classify(std::current_exception());
    }

    if (!reply.status)
        throw AnalyticsFailure::malformedResponse;
    if (*reply.status == 401)
        throw AnalyticsFailure::invalidCredentials;
    if (*reply.status != 200)
        throw AnalyticsFailure::unavailable;

    WireStats stats;
    try {
        stats = WireStats::decode(reply.body);
    } catch (const JsonError &) {
        throw AnalyticsFailure::malformedResponse;
    }
    co_return stats.toSnapshot(Instant::now());
}
