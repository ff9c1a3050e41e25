#pragma once

#include "AnalyticsProvider.h"
#include "BaseURL.h"
#include "NetworkTransfer.h"
#include "ServiceRequests.h"

#include <QDateTime>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;

// The service's stats endpoint: one GET per fetch, answered with a WireStats document.
// Holds nothing between calls; the address and the token are read anew for each one.
class OrvelaAnalyticsProvider : public AnalyticsProvider
{
public:
    // May throw: an AnalyticsFailure passes through, anything else means the secret store
    // could not be read. No value: the account has no token.
    using TokenProvider = std::function<std::optional<QString>()>;

    OrvelaAnalyticsProvider(TokenProvider tokenProvider, BaseURLProvider baseURL,
                            QNetworkAccessManager &session = sharedNetworkAccessManager(), TransferLimits limits = {});

    QList<CredentialField> credentialFields() const override { return {}; }
    double minimumRefreshInterval() const override { return 30.0; }
    QCoro::Task<AnalyticsSnapshot> fetchSnapshot(Website website, ProviderCredentials credentials,
                                                 std::stop_token stop) override;

    // The query of "v1/stats": `website` (lower-case UUID) and `offset`.
    static QUrlQuery statsQuery(const QUuid &websiteID, int offsetMinutes);
    // Minutes east of UTC at that moment, fractions dropped toward zero.
    static int offsetMinutes(const QDateTime &localTime);

private:
    QString token() const;  // "" for none; throws AnalyticsFailure

    TokenProvider m_tokenProvider;
    ServiceRequests m_requests;
};
