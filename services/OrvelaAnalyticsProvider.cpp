#include "OrvelaAnalyticsProvider.h"

#include "AnalyticsFailure.h"
#include "ExampleWebsite.h"
#include "Json.h"
#include "WireStats.h"

OrvelaAnalyticsProvider::OrvelaAnalyticsProvider(TokenProvider tokenProvider, BaseURLProvider baseURL,
                                                 QNetworkAccessManager &session, TransferLimits limits)
    : m_tokenProvider(std::move(tokenProvider)),
      m_requests(std::move(baseURL), session, limits)
{}

QUrlQuery OrvelaAnalyticsProvider::statsQuery(const QUuid &websiteID, int offsetMinutes)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("website"), Json::lowerUuidText(websiteID));
    query.addQueryItem(QStringLiteral("offset"), QString::number(offsetMinutes));
    return query;
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
    return token.value_or(QString());
}

QCoro::Task<AnalyticsSnapshot> OrvelaAnalyticsProvider::fetchSnapshot(Website website, ProviderCredentials,
                                                                      std::stop_token stop)
{
    if (ExampleWebsite::isExampleDomain(website.domain))
        co_return ExampleWebsite::exampleSnapshot(Instant::now());

    TransferRequest request;
    try {
        request = m_requests.build(token(), QStringLiteral("v1/stats"),
                                   statsQuery(website.id, offsetMinutes(QDateTime::currentDateTime())));
    } catch (ServiceRequestProblem problem) {
        throw problem == ServiceRequestProblem::missingToken ? AnalyticsFailure::notConfigured
                                                             : AnalyticsFailure::unavailable;
    }

    HttpReply reply;
    try {
        reply = co_await m_requests.send(std::move(request), stop);
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
