#pragma once

#include "BaseURL.h"
#include "CloudSyncing.h"
#include "NetworkTransfer.h"
#include "ServiceRequests.h"

#include <QUrl>
#include <exception>
#include <functional>

class QNetworkAccessManager;

// The service's account-state endpoint, "/v1/state" at the base URL's origin: GET reads the account's state, PUT
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

private:
    QCoro::Task<CloudSyncState> perform(QByteArray method, std::optional<QByteArray> body, std::stop_token stop);

    TokenProvider m_tokenProvider;
    ServiceRequests m_requests;
};

// What a failed transfer means to the sync client's caller; anything unknown is `server`.
CloudSyncError cloudSyncErrorFrom(std::exception_ptr error);
