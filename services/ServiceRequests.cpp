#include "ServiceRequests.h"

#include "Website.h"

ServiceRequests::ServiceRequests(BaseURLProvider baseURL, QNetworkAccessManager &session, TransferLimits limits)
    : m_baseURL(std::move(baseURL)),
      m_session(&session),
      m_limits(limits)
{}

std::optional<QUrl> ServiceRequests::endpointURL(const QUrl &baseURL, const QString &path, const QUrlQuery &query)
{
    if (!baseURL.isValid() || baseURL.isRelative() || baseURL.host().isEmpty())
        return std::nullopt;
    QUrl base = baseURL;
    // A base path without its trailing slash would lose its last segment.
    if (const QString basePath = base.path(QUrl::FullyEncoded); !basePath.endsWith(u'/'))
        base.setPath(basePath + u'/', QUrl::TolerantMode);
    QUrl url = base.resolved(QUrl(path));
    if (!query.isEmpty())
        url.setQuery(query);
    url.setFragment(QString());
    if (!url.isValid())
        return std::nullopt;
    return url;
}

TransferRequest ServiceRequests::build(const QString &token, const QString &path, const QUrlQuery &query,
                                       const QByteArray &method, const std::optional<QByteArray> &jsonBody) const
{
    const QString bearer = trimmedText(token);
    if (bearer.isEmpty())
        throw ServiceRequestProblem::missingToken;
    // Read now, so that a new address applies from the next request on.
    const std::optional<QUrl> url = endpointURL(m_baseURL ? m_baseURL() : QUrl(), path, query);
    if (!url)
        throw ServiceRequestProblem::unusableAddress;

    TransferRequest request;
    request.request.setUrl(*url);
    request.method = method;
    request.request.setRawHeader("Authorization", "Bearer " + bearer.toUtf8());
    request.request.setRawHeader("Accept", "application/json");
    // The bearer token goes to the service's own origin and nowhere else.
    request.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (jsonBody) {
        request.request.setRawHeader("Content-Type", "application/json");
        request.body = *jsonBody;
    }
    return request;
}

QCoro::Task<HttpReply> ServiceRequests::send(TransferRequest request, std::stop_token stop) const
{
    co_return co_await transfer(*m_session, std::move(request), m_limits, stop);
}
