#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

// Secret values a provider may need for one website, keyed by CredentialField::key.
struct ProviderCredentials {
    QMap<QString, QString> values;

    QJsonObject toJson() const;
    static ProviderCredentials fromJson(const QJsonObject &object);  // throws JsonError

    bool operator==(const ProviderCredentials &) const = default;
};

// One credential input a provider asks for. Never persisted.
struct CredentialField {
    QString key;
    QString label;
    QString prompt;
    bool isSecret = false;

    bool operator==(const CredentialField &) const = default;
};
