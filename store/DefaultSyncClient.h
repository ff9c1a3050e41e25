#pragma once

#include "CloudSyncing.h"
#include "CredentialStoring.h"

#include <memory>

// The service's own sync client, reading the process's service address and the token from the
// given credential store on each request; no token stored is CloudSyncError::missingToken.
std::shared_ptr<CloudSyncing> makeDefaultSyncClient(std::shared_ptr<CredentialStoring> credentialStore);
