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

private:
    std::optional<QByteArray> readItem(const QString &account) const;
    void writeItem(const QByteArray &bytes, const QString &account, const QString &label) const;
    void deleteItem(const QString &account) const;

    QString m_service;
    std::chrono::milliseconds m_callTimeout;
    std::chrono::milliseconds m_pauseAfterTimeout;
};
