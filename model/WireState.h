#pragma once

#include "CloudSyncState.h"
#include "Instant.h"
#include "Website.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QUuid>
#include <optional>

// The account state as the account-state endpoint sends and receives it. `refreshInterval`
// stays the raw number here: whether it is a known interval is decided when mapping to
// CloudSyncState, so a reply with an unknown one is still a readable document.
struct WireState {
    QList<Website> websites;
    std::optional<QUuid> selectedWebsiteID;
    qint64 refreshInterval = 60;
    // Set by the service when it stores a state; a state sent by the app leaves it out.
    std::optional<Instant> updatedAt;

    // Absent values are left out, never written as null.
    QJsonObject toJson() const;
    QByteArray encode() const;
    static WireState fromJson(const QJsonObject &object);  // throws JsonError
    static WireState decode(const QByteArray &bytes);      // throws JsonError

    // Everything but `updatedAt`, which only the service sets.
    static WireState forUpload(const CloudSyncState &state);
    // No value when `refreshInterval` is not one of the known intervals.
    std::optional<CloudSyncState> toCloudSyncState() const;

    bool operator==(const WireState &) const = default;
};
