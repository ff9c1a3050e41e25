#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <optional>

// One monitored site. Identity is `id`; equality compares every field.
struct Website {
    QUuid id;
    QString displayName;
    QString domain;
    std::optional<QString> dashboardURLString;

    std::optional<QUrl> dashboardURL() const;

    // Normalise what the user typed in the editor; no value when the text is not usable.
    static std::optional<QString> normalizedDomain(const QString &text);
    static std::optional<QString> normalizedDashboardURL(const QString &text);

    QJsonObject toJson() const;
    static Website fromJson(const QJsonObject &object);  // throws JsonError

    bool operator==(const Website &) const = default;
};

// Trims Unicode white space and line breaks at both ends.
QString trimmedText(const QString &text);
