#pragma once

#include "BaseURL.h"
#include "CloudSyncing.h"
#include "NetworkTransfer.h"

#include <QUrl>
#include <exception>
#include <functional>

class QNetworkAccessManager;

// The service's account-state endpoint, "/v1/state": GET reads the account's state, PUT
// stores one and answers with the state as stored. Holds nothing between calls: the address
// and the token are read anew for every request.
class CloudflareSyncClient : public CloudSyncing
{
public:
    // Called for every request; whatever it throws reaches the caller unchanged. The store's
    // throws CloudSyncError::missingToken when no token is saved.
    using TokenProvider = std::function<QString()>;

    CloudflareSyncClient(BaseURLProvider baseURL, TokenProvider tokenProvider,
                         QNetworkAccessManager &session = sharedNetworkAccessManager(), TransferLimits limits = {});

    QCoro::Task<CloudSyncState> loadState(std::stop_token stop) override;
    QCoro::Task<CloudSyncState> saveState(CloudSyncState state, std::stop_token stop) override;

    // Headers, method and body of one request to `path` (which replaces the base URL's path).
    TransferRequest makeRequest(const QString &path, const QByteArray &method,
                                const std::optional<QByteArray> &body) const;

private:
    QCoro::Task<CloudSyncState> perform(TransferRequest request, std::stop_token stop);

    BaseURLProvider m_baseURL;
    TokenProvider m_tokenProvider;
    QNetworkAccessManager *m_session;
    TransferLimits m_limits;
};

// What a failed transfer means to the sync client's caller; anything unknown is `server`.
CloudSyncError cloudSyncErrorFrom(std::exception_ptr error);
