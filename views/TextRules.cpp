#include "TextRules.h"

#include "BaseURL.h"
#include "ChartText.h"
#include "DateText.h"
#include "EditorRules.h"
#include "NumberText.h"
#include "QmlValues.h"
#include "SettingsText.h"
#include "TrackingSnippet.h"

#include <cmath>
#include <limits>

QString TextRules::missingValue() const
{
    return QString(missingValueDash);
}

QString TextRules::snippetReminder() const
{
    return EditorRules::snippetReminder();
}

QString TextRules::credentialsUnreadableMessage() const
{
    return EditorRules::credentialsUnreadableMessage();
}

QString TextRules::saveFailedMessage() const
{
    return EditorRules::saveFailedMessage();
}

QString TextRules::placeholderDomain() const
{
    return EditorRules::placeholderDomain.toString();
}

QString TextRules::placeholderDashboard() const
{
    return EditorRules::placeholderDashboard.toString();
}

QString TextRules::count(const QVariant &value) const
{
    if (!value.isValid() || value.isNull())
        return countText(std::optional<qint64>());
    return countText(value.toLongLong());
}

QString TextRules::footerStatus(const QVariant &refreshedAt, bool failureRecorded) const
{
    std::optional<Instant> at;
    if (refreshedAt.isValid() && !refreshedAt.isNull())
        at = Instant{refreshedAt.toDouble()};
    return footerStatusText(at, failureRecorded);
}

double TextRules::chartScaleMaximum(const QVariantList &hours) const
{
    return double(::chartScaleMaximum(QmlValues::hoursFrom(hours)));
}

namespace {

// QML hands counts over as doubles. One beyond qint64's range (only a broken reply holds such
// a count) is taken as the nearest end: converting it as it is would be undefined.
qint64 countFrom(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 0x1p63)
        return std::numeric_limits<qint64>::max();
    return value < -0x1p63 ? std::numeric_limits<qint64>::min() : qint64(value);
}

}  // namespace

double TextRules::chartBarHeight(double visitors, double scaleMaximum) const
{
    return ::chartBarHeight(countFrom(visitors), countFrom(scaleMaximum));
}

QString TextRules::hourReadout(double start, double visitors) const
{
    return ::hourReadout(HourlyVisitorCount{Instant{start}, countFrom(visitors)});
}

QString TextRules::websiteRowTitle(const QString &displayName, const QString &domain) const
{
    return ::websiteRowTitle(Website{{}, displayName, domain, std::nullopt});
}

bool TextRules::websiteRowShowsSubtitle(const QString &displayName, const QString &domain) const
{
    return ::websiteRowShowsSubtitle(Website{{}, displayName, domain, std::nullopt});
}

QString TextRules::refreshCaption(int chosenSeconds, double providerMinimumSeconds) const
{
    const std::optional<RefreshInterval> chosen = RefreshIntervals::fromRawValue(chosenSeconds);
    return chosen ? ::refreshCaption(*chosen, providerMinimumSeconds) : QString();
}

QString TextRules::trackingSnippet(const QString &siteID) const
{
    const std::optional<QUuid> id = QmlValues::idFrom(siteID);
    return id ? ::trackingSnippet(*id, defaultBaseURL()) : QString();
}

QString TextRules::editorTitle(bool editing) const
{
    return EditorRules::pageTitle(editing);
}

QString TextRules::confirmTitle(bool isTesting, bool editing, bool usesConnectWording) const
{
    return EditorRules::confirmTitle(isTesting, editing, usesConnectWording);
}

QVariant TextRules::websiteFromInput(const QString &websiteID, const QString &displayName, const QString &domain,
                                     const QString &dashboard, const QVariantList &credentialFields,
                                     const QVariantMap &secretValues) const
{
    QList<CredentialField> fields;
    for (const QVariant &value : credentialFields) {
        const QVariantMap map = value.toMap();
        fields.append({map.value(QStringLiteral("key")).toString(), map.value(QStringLiteral("label")).toString(),
                       map.value(QStringLiteral("prompt")).toString(), map.value(QStringLiteral("isSecret")).toBool()});
    }
    QMap<QString, QString> secrets;
    for (auto it = secretValues.cbegin(); it != secretValues.cend(); ++it)
        secrets.insert(it.key(), it.value().toString());

    const QUuid id = QmlValues::idFrom(websiteID).value_or(QUuid::createUuid());
    const EditorRules::Outcome outcome =
        EditorRules::websiteFromInput(id, displayName, domain, dashboard, fields, secrets);
    if (!outcome.website)
        return QVariantMap{{QStringLiteral("message"), outcome.message}};
    return QVariantMap{
        {QStringLiteral("message"), QString()},
        {QStringLiteral("website"),
         QVariantMap{
             {QStringLiteral("id"), QmlValues::idText(outcome.website->id)},
             {QStringLiteral("displayName"), outcome.website->displayName},
             {QStringLiteral("domain"), outcome.website->domain},
             {QStringLiteral("dashboardURLString"), outcome.website->dashboardURLString.value_or(QString())},
         }}};
}
