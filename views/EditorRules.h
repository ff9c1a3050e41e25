#pragma once

#include "Credentials.h"
#include "Website.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>
#include <optional>

// The website editor's texts and the checks it makes before handing a site to the store.
namespace EditorRules {

// A reserved documentation domain, shown as the Domain placeholder and named in its message.
inline constexpr QStringView placeholderDomain = u"example.com";
inline constexpr QStringView placeholderDashboard = u"https://example.com";

QString pageTitle(bool editing);  // "Add website" / "Edit website"
QString confirmTitle(bool isTesting, bool editing, bool usesConnectWording);
QString snippetReminder();
QString credentialsUnreadableMessage();  // load of stored credentials failed
QString saveFailedMessage();             // the store's save failed

// The website to save, or the one message that stops the save.
struct Outcome {
    std::optional<Website> website;
    QString message;
};

// Checks domain, dashboard and required credentials in that order and builds the record with
// `id` (the edited site's, or a new one when adding) and the trimmed display name.
Outcome websiteFromInput(const QUuid &id, const QString &displayName, const QString &domain, const QString &dashboard,
                         const QList<CredentialField> &fields, const QMap<QString, QString> &secretValues);

}  // namespace EditorRules
