#pragma once

#include <QObject>
#include <QQmlEngine>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// The text rules of the pages, callable from QML (the `TextRules` singleton). Instants are
// seconds since 2001-01-01T00:00:00Z and records are the plain values of QmlValues.h.
class TextRules : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString missingValue READ missingValue CONSTANT)
    Q_PROPERTY(QString snippetReminder READ snippetReminder CONSTANT)
    Q_PROPERTY(QString credentialsUnreadableMessage READ credentialsUnreadableMessage CONSTANT)
    Q_PROPERTY(QString saveFailedMessage READ saveFailedMessage CONSTANT)
    Q_PROPERTY(QString placeholderDomain READ placeholderDomain CONSTANT)
    Q_PROPERTY(QString placeholderDashboard READ placeholderDashboard CONSTANT)

public:
    using QObject::QObject;

    QString missingValue() const;
    QString snippetReminder() const;
    QString credentialsUnreadableMessage() const;
    QString saveFailedMessage() const;
    QString placeholderDomain() const;
    QString placeholderDashboard() const;

    // A count with the locale's grouping; "—" for undefined or null.
    Q_INVOKABLE QString count(const QVariant &value) const;
    // "Updated …", "Updated … · Out of date", "Not updated yet" or empty; refreshedAt may be null.
    Q_INVOKABLE QString footerStatus(const QVariant &refreshedAt, bool failureRecorded) const;

    Q_INVOKABLE double chartScaleMaximum(const QVariantList &hours) const;
    Q_INVOKABLE double chartBarHeight(double visitors, double scaleMaximum) const;
    Q_INVOKABLE QString hourReadout(double start, double visitors) const;

    Q_INVOKABLE QString websiteRowTitle(const QString &displayName, const QString &domain) const;
    Q_INVOKABLE bool websiteRowShowsSubtitle(const QString &displayName, const QString &domain) const;
    Q_INVOKABLE QString refreshCaption(int chosenSeconds, double providerMinimumSeconds) const;

    // The snippet for a site id (any UUID text), with the service's own base URL.
    Q_INVOKABLE QString trackingSnippet(const QString &siteID) const;

    Q_INVOKABLE QString editorTitle(bool editing) const;
    Q_INVOKABLE QString confirmTitle(bool isTesting, bool editing, bool usesConnectWording) const;
    // {message} when the input stops the save, else {message: "", website: {id, displayName,
    // domain, dashboardURLString}}, as a plain JavaScript object; an empty or unreadable id
    // makes a new one.
    Q_INVOKABLE QVariant websiteFromInput(const QString &websiteID, const QString &displayName, const QString &domain,
                                          const QString &dashboard, const QVariantList &credentialFields,
                                          const QVariantMap &secretValues) const;
};
