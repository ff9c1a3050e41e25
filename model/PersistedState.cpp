#include "PersistedState.h"

#include "Json.h"

QByteArray PersistedState::encode() const
{
    QJsonArray websiteArray;
    for (const auto &website : websites)
        websiteArray.append(website.toJson());
    QJsonArray snapshotArray;
    for (const auto &stored : snapshots)
        snapshotArray.append(QJsonObject{{QStringLiteral("websiteID"), Json::uuidText(stored.websiteID)},
                                         {QStringLiteral("snapshot"), stored.snapshot.toJson()}});
    QJsonObject object{
        {QStringLiteral("websites"), websiteArray},
        {QStringLiteral("refreshInterval"), RefreshIntervals::rawValue(refreshInterval)},
        {QStringLiteral("snapshots"), snapshotArray},
    };
    if (selectedWebsiteID)
        object.insert(QStringLiteral("selectedWebsiteID"), Json::uuidText(*selectedWebsiteID));
    if (cloudUpdatedAt)
        object.insert(QStringLiteral("cloudUpdatedAt"), cloudUpdatedAt->sinceReferenceDate);
    return Json::compact(object);
}

std::optional<PersistedState> PersistedState::decode(const QByteArray &bytes)
{
    using namespace Json;
    try {
        const QJsonObject object = parseObject(bytes);
        PersistedState state;
        for (const auto &element : toArray(required(object, QStringLiteral("websites")), QStringLiteral("websites")))
            state.websites.append(Website::fromJson(toObject(element, QStringLiteral("websites"))));
        if (auto selected = optional(object, QStringLiteral("selectedWebsiteID")))
            state.selectedWebsiteID = toUuid(*selected, QStringLiteral("selectedWebsiteID"));
        const auto raw =
            toInteger(required(object, QStringLiteral("refreshInterval")), QStringLiteral("refreshInterval"));
        const auto interval = RefreshIntervals::fromRawValue(raw);
        if (!interval)
            return std::nullopt;
        state.refreshInterval = *interval;
        for (const auto &element :
             toArray(required(object, QStringLiteral("snapshots")), QStringLiteral("snapshots"))) {
            const QJsonObject stored = toObject(element, QStringLiteral("snapshots"));
            state.snapshots.append({toUuid(required(stored, QStringLiteral("websiteID")), QStringLiteral("websiteID")),
                                    AnalyticsSnapshot::fromJson(toObject(required(stored, QStringLiteral("snapshot")),
                                                                         QStringLiteral("snapshot")))});
        }
        if (auto updated = optional(object, QStringLiteral("cloudUpdatedAt")))
            state.cloudUpdatedAt = Instant{toNumber(*updated, QStringLiteral("cloudUpdatedAt"))};
        return state;
    } catch (const JsonError &) {
        return std::nullopt;
    }
}
