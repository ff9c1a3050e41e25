#include "EditorRules.h"

namespace EditorRules {

QString pageTitle(bool editing)
{
    return editing ? QStringLiteral("Edit website") : QStringLiteral("Add website");
}

QString confirmTitle(bool isTesting, bool editing, bool usesConnectWording)
{
    if (isTesting)
        return QStringLiteral("Testing\u2026");
    if (editing)
        return QStringLiteral("Save");
    return usesConnectWording ? QStringLiteral("Connect website") : QStringLiteral("Add website");
}

QString snippetReminder()
{
    return QStringLiteral(
        "A website address alone cannot supply analytics. Paste the tracking snippet into the page head.");
}

QString credentialsUnreadableMessage()
{
    return QStringLiteral("Saved credentials could not be read.");
}

QString saveFailedMessage()
{
    return QStringLiteral("Credentials could not be saved securely.");
}

Outcome websiteFromInput(const QUuid &id, const QString &displayName, const QString &domain, const QString &dashboard,
                         const QList<CredentialField> &fields, const QMap<QString, QString> &secretValues)
{
    const std::optional<QString> normalizedDomain = Website::normalizedDomain(domain);
    if (!normalizedDomain)
        return {std::nullopt, QStringLiteral("Enter a domain, such as %1.").arg(placeholderDomain)};

    std::optional<QString> dashboardURL;
    if (!trimmedText(dashboard).isEmpty()) {
        dashboardURL = Website::normalizedDashboardURL(dashboard);
        if (!dashboardURL)
            return {std::nullopt, QStringLiteral("Enter a dashboard URL starting with https://.")};
    }

    for (const CredentialField &field : fields) {
        if (trimmedText(secretValues.value(field.key)).isEmpty())
            return {std::nullopt, QStringLiteral("Enter %1.").arg(field.label)};
    }

    return {Website{id, trimmedText(displayName), *normalizedDomain, dashboardURL}, {}};
}

}  // namespace EditorRules
