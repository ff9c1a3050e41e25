#pragma once

#include "AnalyticsSnapshot.h"
#include "Choices.h"
#include "Website.h"

#include <QByteArray>
#include <QList>
#include <QUuid>
#include <optional>

struct StoredSnapshot {
    QUuid websiteID;
    AnalyticsSnapshot snapshot;
    bool operator==(const StoredSnapshot &) const = default;
};

// The document kept under "orvela.state.v1". Dates are seconds since 2001-01-01T00:00:00Z.
struct PersistedState {
    QList<Website> websites;
    std::optional<QUuid> selectedWebsiteID;
    RefreshInterval refreshInterval = RefreshInterval::sixty;
    QList<StoredSnapshot> snapshots;
    std::optional<Instant> cloudUpdatedAt;

    QByteArray encode() const;
    // No value when the bytes are not a readable document.
    static std::optional<PersistedState> decode(const QByteArray &bytes);

    bool operator==(const PersistedState &) const = default;
};
