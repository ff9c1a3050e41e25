#pragma once

#include "Credentials.h"

#include <QString>
#include <QUuid>
#include <cstdint>
#include <optional>

// Thrown by the credential store. `status` carries the secret store's own error code.
struct KeychainStoreError {
    enum class Kind { status, unreadable };
    Kind kind = Kind::status;
    std::int32_t code = 0;

    static KeychainStoreError status(std::int32_t code) { return {Kind::status, code}; }
    static KeychainStoreError unreadable() { return {Kind::unreadable, 0}; }
    bool operator==(const KeychainStoreError &) const = default;
};

// Whether secrets can be kept at all, as the last call found out.
enum class SecretStoreReach { reachable, noSessionBus, noSecretService };

// Secrets: the account's sync token and per-website credentials. All calls are synchronous
// and may throw KeychainStoreError; an absent item is not an error.
class CredentialStoring
{
public:
    virtual ~CredentialStoring() = default;

    virtual std::optional<QString> loadSyncToken() = 0;
    virtual void saveSyncToken(const QString &token) = 0;  // blank removes the token
    virtual std::optional<ProviderCredentials> loadCredentials(const QUuid &websiteID) = 0;
    virtual void saveCredentials(const ProviderCredentials &credentials, const QUuid &websiteID) = 0;
    virtual void deleteCredentials(const QUuid &websiteID) = 0;

    virtual SecretStoreReach reach() const { return SecretStoreReach::reachable; }
};
