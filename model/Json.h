#pragma once

#include "Instant.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>
#include <optional>

// Strict readers shared by every JSON form: a missing required key, a wrong type or a
// fractional number where an integer belongs throws JsonError for the whole record.
struct JsonError {
    QString reason;
};

namespace Json {

QJsonValue required(const QJsonObject &object, const QString &key);
// Missing and null both read as no value.
std::optional<QJsonValue> optional(const QJsonObject &object, const QString &key);

qint64 toInteger(const QJsonValue &value, const QString &key);
double toNumber(const QJsonValue &value, const QString &key);
QString toString(const QJsonValue &value, const QString &key);
bool toBool(const QJsonValue &value, const QString &key);
QJsonArray toArray(const QJsonValue &value, const QString &key);
QJsonObject toObject(const QJsonValue &value, const QString &key);
QUuid toUuid(const QJsonValue &value, const QString &key);
QList<QString> toStringList(const QJsonValue &value, const QString &key);
Instant toIsoInstant(const QJsonValue &value, const QString &key);

// Upper-case canonical text, the form every document writes.
QString uuidText(const QUuid &id);
// Lower-case canonical text, the form the stats query sends.
QString lowerUuidText(const QUuid &id);

// Shorthands for a key of an object.
qint64 integerAt(const QJsonObject &object, const QString &key);
QString stringAt(const QJsonObject &object, const QString &key);
std::optional<qint64> optionalIntegerAt(const QJsonObject &object, const QString &key);

QJsonArray stringArray(const QList<QString> &strings);

// Every element of an array read as an object by `read`.
template<typename Record, typename Read>
QList<Record> records(const QJsonValue &value, const QString &key, Read read)
{
    QList<Record> result;
    for (const auto &element : toArray(value, key))
        result.append(read(toObject(element, key)));
    return result;
}

template<typename Record, typename Write>
QJsonArray array(const QList<Record> &list, Write write)
{
    QJsonArray result;
    for (const auto &record : list)
        result.append(write(record));
    return result;
}

QJsonObject parseObject(const QByteArray &bytes);  // throws JsonError
QByteArray compact(const QJsonObject &object);

}  // namespace Json
