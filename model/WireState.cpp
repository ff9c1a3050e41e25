#include "WireState.h"

#include "Json.h"

#include <QJsonArray>

QJsonObject WireState::toJson() const
{
    QJsonArray sites;
    for (const auto &website : websites)
        sites.append(website.toJson());
    QJsonObject object{
        {QStringLiteral("websites"), sites},
        {QStringLiteral("refreshInterval"), refreshInterval},
    };
    if (selectedWebsiteID)
        object.insert(QStringLiteral("selectedWebsiteID"), Json::uuidText(*selectedWebsiteID));
    if (updatedAt)
        object.insert(QStringLiteral("updatedAt"), updatedAt->toIso8601());
    return object;
}

QByteArray WireState::encode() const
{
    return Json::compact(toJson());
}

WireState WireState::fromJson(const QJsonObject &object)
{
    using namespace Json;
    WireState state;
    for (const auto &element : toArray(required(object, QStringLiteral("websites")), QStringLiteral("websites")))
        state.websites.append(Website::fromJson(toObject(element, QStringLiteral("websites"))));
    if (const auto value = optional(object, QStringLiteral("selectedWebsiteID")))
        state.selectedWebsiteID = toUuid(*value, QStringLiteral("selectedWebsiteID"));
    state.refreshInterval =
        toInteger(required(object, QStringLiteral("refreshInterval")), QStringLiteral("refreshInterval"));
    if (const auto value = optional(object, QStringLiteral("updatedAt")))
        state.updatedAt = toIsoInstant(*value, QStringLiteral("updatedAt"));
    return state;
}

WireState WireState::decode(const QByteArray &bytes)
{
    return fromJson(Json::parseObject(bytes));
}

WireState WireState::forUpload(const CloudSyncState &state)
{
    return {state.websites, state.selectedWebsiteID, RefreshIntervals::rawValue(state.refreshInterval), std::nullopt};
}

std::optional<CloudSyncState> WireState::toCloudSyncState() const
{
    const auto interval = RefreshIntervals::fromRawValue(refreshInterval);
    if (!interval)
        return std::nullopt;
    return CloudSyncState{websites, selectedWebsiteID, *interval, updatedAt};
}
