#include "AccountText.h"

#include "DateText.h"

QString AccountText::lastSync(std::optional<Instant> at, Instant now, const QLocale &locale, const QTimeZone &zone)
{
    return at ? QStringLiteral("Last synced ") + updatedTimeText(*at, now, locale, zone) : QString();
}

QString AccountText::tokenUnavailable(SecretStoreReach reach)
{
    switch (reach) {
    case SecretStoreReach::reachable: return {};
    case SecretStoreReach::noSessionBus:
        return QStringLiteral("No desktop session bus, so no keyring can keep a token.");
    case SecretStoreReach::noSecretService:
        return QStringLiteral("No keyring (Secret Service) is running to keep a token.");
    }
    return {};
}
