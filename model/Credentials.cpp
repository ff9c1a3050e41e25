#include "Credentials.h"

#include "Json.h"

QJsonObject ProviderCredentials::toJson() const
{
    QJsonObject map;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        map.insert(it.key(), it.value());
    return QJsonObject{{QStringLiteral("values"), map}};
}

ProviderCredentials ProviderCredentials::fromJson(const QJsonObject &object)
{
    const auto key = QStringLiteral("values");
    const QJsonObject map = Json::toObject(Json::required(object, key), key);
    ProviderCredentials credentials;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        credentials.values.insert(it.key(), Json::toString(it.value(), key));
    return credentials;
}
