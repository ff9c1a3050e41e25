#pragma once

#include "CredentialStoring.h"
#include "Instant.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

// The settings page's account block: its fixed sentences and the time of the last sync.
namespace AccountText {

inline const QString emptyToken = QStringLiteral("Enter the sync token to connect.");
inline const QString tokenNotSaved = QStringLiteral("The keyring did not keep the token, so nothing was changed.");
inline const QString tokenNotRemoved = QStringLiteral("The keyring did not remove the token.");

// "Last synced 3:04 PM" (the footer's date rules); empty before the first sync.
QString lastSync(std::optional<Instant> at, Instant now = Instant::now(), const QLocale &locale = QLocale::system(),
                 const QTimeZone &zone = QTimeZone::systemTimeZone());

// Why no token can be kept, in one line; empty while the keyring may keep one.
QString tokenUnavailable(SecretStoreReach reach);

}  // namespace AccountText
