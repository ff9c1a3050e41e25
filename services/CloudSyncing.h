#pragma once

#include "CloudSyncState.h"

#include <QCoroTask>
#include <stop_token>

// Thrown by the sync client, beside whatever its token provider throws.
enum class CloudSyncError { missingToken, unauthorized, offline, malformedResponse, server, cancelled };

// The account-state endpoint as the store uses it.
class CloudSyncing
{
public:
    virtual ~CloudSyncing() = default;

    virtual QCoro::Task<CloudSyncState> loadState(std::stop_token stop) = 0;
    // Yields the state as the service stored it.
    virtual QCoro::Task<CloudSyncState> saveState(CloudSyncState state, std::stop_token stop) = 0;
};
