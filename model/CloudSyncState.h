#pragma once

#include "Choices.h"
#include "Instant.h"
#include "Website.h"

#include <QList>
#include <QUuid>
#include <optional>

// The account state exchanged with the account-state endpoint.
struct CloudSyncState {
    QList<Website> websites;
    std::optional<QUuid> selectedWebsiteID;
    RefreshInterval refreshInterval = RefreshInterval::sixty;
    std::optional<Instant> updatedAt;

    bool operator==(const CloudSyncState &) const = default;
};
