#include "Json.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <limits>

namespace Json {

QJsonValue required(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        throw JsonError{QStringLiteral("missing key \"%1\"").arg(key)};
    return it.value();
}

std::optional<QJsonValue> optional(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd() || it.value().isNull())
        return std::nullopt;
    return it.value();
}

qint64 toInteger(const QJsonValue &value, const QString &key)
{
    if (!value.isDouble())
        throw JsonError{QStringLiteral("\"%1\" is not a number").arg(key)};
    // toInteger() yields the default for fractions and values out of range: two defaults tell.
    const qint64 a = value.toInteger(std::numeric_limits<qint64>::min());
    const qint64 b = value.toInteger(std::numeric_limits<qint64>::max());
    if (a != b)
        throw JsonError{QStringLiteral("\"%1\" is not an integer").arg(key)};
    return a;
}

double toNumber(const QJsonValue &value, const QString &key)
{
    if (!value.isDouble())
        throw JsonError{QStringLiteral("\"%1\" is not a number").arg(key)};
    return value.toDouble();
}

QString toString(const QJsonValue &value, const QString &key)
{
    if (!value.isString())
        throw JsonError{QStringLiteral("\"%1\" is not a string").arg(key)};
    return value.toString();
}

bool toBool(const QJsonValue &value, const QString &key)
{
    if (!value.isBool())
        throw JsonError{QStringLiteral("\"%1\" is not a boolean").arg(key)};
    return value.toBool();
}

QJsonArray toArray(const QJsonValue &value, const QString &key)
{
    if (!value.isArray())
        throw JsonError{QStringLiteral("\"%1\" is not an array").arg(key)};
    return value.toArray();
}

QJsonObject toObject(const QJsonValue &value, const QString &key)
{
    if (!value.isObject())
        throw JsonError{QStringLiteral("\"%1\" is not an object").arg(key)};
    return value.toObject();
}

QUuid toUuid(const QJsonValue &value, const QString &key)
{
    const QString text = toString(value, key);
    // Only the bare 36-character form: QUuid would also take braces.
    const QUuid id = text.size() == 36 ? QUuid::fromString(text) : QUuid();
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        throw JsonError{QStringLiteral("\"%1\" is not a UUID").arg(key)};
    return id;
}

QList<QString> toStringList(const QJsonValue &value, const QString &key)
{
    QList<QString> result;
    for (const auto &element : toArray(value, key))
        result.append(toString(element, key));
    return result;
}

Instant toIsoInstant(const QJsonValue &value, const QString &key)
{
    const auto instant = Instant::fromIso8601(toString(value, key));
    if (!instant)
        throw JsonError{QStringLiteral("\"%1\" is not an ISO 8601 date").arg(key)};
    return *instant;
}

qint64 integerAt(const QJsonObject &object, const QString &key)
{
    return toInteger(required(object, key), key);
}

QString stringAt(const QJsonObject &object, const QString &key)
{
    return toString(required(object, key), key);
}

std::optional<qint64> optionalIntegerAt(const QJsonObject &object, const QString &key)
{
    if (const auto value = optional(object, key))
        return toInteger(*value, key);
    return std::nullopt;
}

QJsonArray stringArray(const QList<QString> &strings)
{
    QJsonArray result;
    for (const auto &text : strings)
        result.append(text);
    return result;
}

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString lowerUuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces);
}

QJsonObject parseObject(const QByteArray &bytes)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw JsonError{error.errorString()};
    if (!document.isObject())
        throw JsonError{QStringLiteral("not a JSON object")};
    return document.object();
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace Json
