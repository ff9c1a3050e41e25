#pragma once

#include "CredentialStoring.h"

#include <QString>
#include <chrono>

// Secrets kept in the desktop's Secret Service (gnome-keyring, KeePassXC, ...) through libsecret.
// Every item carries two attributes: `service` (the store's service name) and `account`.
//
// Each keyring call is bounded: a keyring that does not answer within `callTimeout` makes the
// call fail with a status, and then no call asks the keyring again, in the whole process, for
// `pauseAfterTimeout`; they fail at once instead, so that polling cannot freeze the app again
// and again. Both carry status 24, GLib's "timed out". Any other failure carries the GError code.
//
// An item in a locked collection is `unreadable`, never absent. Reading it asks the keyring to
// unlock once; a refused unlock pauses reads like a time-out (the user unlocks from the desktop),
// so the prompt does not come back at every poll. Without a session bus libsecret is not called
// at all: GLib would autolaunch a bus of its own.
class KeychainStore final : public CredentialStoring
{
public:
    static constexpr const char *syncTokenAccount = "cloud.sync.token";

    explicit KeychainStore(QString service = QStringLiteral("orvela"),
                           std::chrono::milliseconds callTimeout = std::chrono::seconds(5),
                           std::chrono::milliseconds pauseAfterTimeout = std::chrono::minutes(5));

    const QString &service() const { return m_service; }

    std::optional<QString> loadSyncToken() override;
    void saveSyncToken(const QString &token) override;
    std::optional<ProviderCredentials> loadCredentials(const QUuid &websiteID) override;
    void saveCredentials(const ProviderCredentials &credentials, const QUuid &websiteID) override;
    void deleteCredentials(const QUuid &websiteID) override;
    SecretStoreReach reach() const override;

private:
    std::optional<QByteArray> readItem(const QString &account) const;
    void writeItem(const QByteArray &bytes, const QString &account, const QString &label) const;
    void deleteItem(const QString &account) const;

    QString m_service;
    std::chrono::milliseconds m_callTimeout;
    std::chrono::milliseconds m_pauseAfterTimeout;
};
