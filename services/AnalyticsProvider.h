#pragma once

#include "AnalyticsSnapshot.h"
#include "Credentials.h"
#include "Website.h"

#include <QCoroTask>
#include <QList>
#include <stop_token>

// The source of analytics snapshots the store holds. A fetch fails by throwing an
// AnalyticsFailure; a requested stop ends it as AnalyticsFailure::cancelled.
class AnalyticsProvider
{
public:
    virtual ~AnalyticsProvider() = default;

    virtual bool usesConnectWording() const { return true; }
    virtual QList<CredentialField> credentialFields() const = 0;
    virtual double minimumRefreshInterval() const = 0;
    virtual QCoro::Task<AnalyticsSnapshot> fetchSnapshot(Website website, ProviderCredentials credentials,
                                                         std::stop_token stop) = 0;
};
