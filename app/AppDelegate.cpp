#include "AppDelegate.h"

#include "AppStore.h"
#include "BaseURL.h"
#include "KeychainStore.h"
#include "OrvelaAnalyticsProvider.h"
#include "ViewRegistration.h"

#include <QSettings>

AppDelegate::AppDelegate(QObject *parent) : QObject(parent)
{
    const QString service = QString::fromLatin1(bundleID);
    // A fresh keychain store per read: the token the store saved last is the one sent.
    auto provider = std::make_shared<OrvelaAnalyticsProvider>(
        [service] { return KeychainStore(service).loadSyncToken(); }, defaultBaseURL());
    auto defaults = std::make_shared<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("orvela"), QStringLiteral("orvela"));
    m_store = std::make_unique<AppStore>(std::move(provider), std::make_shared<KeychainStore>(service), nullptr,
                                         std::move(defaults), true);
}

AppDelegate::~AppDelegate()
{
    // The panel's pages read the store: they go first.
    m_menuBar.reset();
    m_store.reset();
}

void AppDelegate::applicationDidFinishLaunching()
{
    saveEnvironmentSyncToken(*m_store);
    m_menuBar = std::make_unique<MenuBarController>(
        *m_store, [this](QQmlEngine &engine) { registerViewTypes(engine, *m_store); });
    m_menuBar->install();
}

void AppDelegate::applicationWillTerminate()
{
    m_store->stop();
}

void saveEnvironmentSyncToken(AppStore &store)
{
    if (!qEnvironmentVariableIsSet(AppDelegate::syncTokenVariable))
        return;
    const QString token = trimmedText(qEnvironmentVariable(AppDelegate::syncTokenVariable));
    qunsetenv(AppDelegate::syncTokenVariable);
    if (token.isEmpty())
        return;
    try {
        store.saveSyncToken(token);
    } catch (...) {
        // A keychain that refuses the token leaves the stored one in place; launching goes on.
    }
}
