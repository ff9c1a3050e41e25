#include "DefaultSyncClient.h"

#include "BaseURL.h"
#include "CloudflareSyncClient.h"

std::shared_ptr<CloudSyncing> makeDefaultSyncClient(std::shared_ptr<CredentialStoring> credentialStore)
{
    auto tokenProvider = [credentialStore]() -> QString {
        // A failing read passes its own error on.
        const auto token = credentialStore->loadSyncToken();
        if (!token)
            throw CloudSyncError::missingToken;
        return *token;
    };
    return std::make_shared<CloudflareSyncClient>(&defaultBaseURL, tokenProvider);
}
