#pragma once

#include "BaseURL.h"
#include "NetworkTransfer.h"

#include <QUrlQuery>
#include <optional>

class QNetworkAccessManager;

// Why no request to the service could be built; each client says it in its own words.
enum class ServiceRequestProblem {
    missingToken,     // the token is empty or blank
    unusableAddress,  // the base URL is not an absolute URL with a host
};

// Every request to the service, built alike for each client: the endpoint's path under the base
// URL as it is at that moment, the account's token as a bearer token, JSON accepted, redirects
// followed within the service's origin only; sent within the limits (time-out, body size).
class ServiceRequests
{
public:
    ServiceRequests(BaseURLProvider baseURL, QNetworkAccessManager &session, TransferLimits limits);

    // The endpoint's URL with the query: a relative `path` ("v1/stats") goes under the base URL's
    // path, an absolute one ("/v1/state") replaces it; the base URL's query and fragment go.
    // No value when the base URL is not absolute with a host.
    static std::optional<QUrl> endpointURL(const QUrl &baseURL, const QString &path, const QUrlQuery &query = {});

    // A request with the token (trimmed) to the endpoint; a body goes as JSON. Throws
    // ServiceRequestProblem, the token's first.
    TransferRequest build(const QString &token, const QString &path, const QUrlQuery &query = {},
                          const QByteArray &method = QByteArrayLiteral("GET"),
                          const std::optional<QByteArray> &jsonBody = std::nullopt) const;

    // Sends a built request within the limits; throws as transfer() does.
    QCoro::Task<HttpReply> send(TransferRequest request, std::stop_token stop) const;

private:
    BaseURLProvider m_baseURL;
    QNetworkAccessManager *m_session;
    TransferLimits m_limits;
};
