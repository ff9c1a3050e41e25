#include "AppDelegate.h"

#include "AppStore.h"
#include "BaseURL.h"
#include "KeychainStore.h"
#include "Logging.h"
#include "OrvelaAnalyticsProvider.h"
#include "ViewEngine.h"

#include <QSettings>

namespace {

const QString baseURLKey = QStringLiteral("baseURL");
const QString syncTokenKey = QStringLiteral("syncToken");

std::optional<QString> variable(const char *name)
{
    return qEnvironmentVariableIsSet(name) ? std::optional(qEnvironmentVariable(name)) : std::nullopt;
}

}  // namespace

LaunchValues LaunchValues::takeFromEnvironment()
{
    LaunchValues values{variable(kBaseURLEnvironmentVariable), variable(AppDelegate::syncTokenVariable)};
    qunsetenv(AppDelegate::syncTokenVariable);
    return values;
}

QVariantMap LaunchValues::toMap() const
{
    QVariantMap values;
    if (baseURL)
        values.insert(baseURLKey, *baseURL);
    if (syncToken)
        values.insert(syncTokenKey, *syncToken);
    return values;
}

LaunchValues LaunchValues::fromMap(const QVariantMap &values)
{
    const auto text = [&](const QString &key) {
        const QVariant value = values.value(key);
        return value.typeId() == QMetaType::QString ? std::optional(value.toString()) : std::nullopt;
    };
    return {text(baseURLKey), text(syncTokenKey)};
}

void applyLaunchValues(AppStore &store, const LaunchValues &values)
{
    std::optional<QUrl> address;
    if (values.baseURL && !trimmedText(*values.baseURL).isEmpty()) {
        const auto resolution = resolveBaseURL(values.baseURL, std::nullopt);
        if (resolution.warning)
            qCWarning(lcAddress).noquote() << *resolution.warning;
        else
            address = resolution.url;
    }
    const QString token = trimmedText(values.syncToken.value_or(QString()));
    try {
        // Both at once: neither token ever reaches the other's address.
        if (address && !token.isEmpty())
            store.connectAccount(*address, token);
        else if (address)
            store.setBaseURL(*address);
        else if (!token.isEmpty())
            store.saveSyncToken(token);
    } catch (...) {
        // A keychain that refuses the token leaves the stored one, and the address, in place.
    }
}

AppDelegate::AppDelegate(LaunchValues launch, QObject *parent) : QObject(parent), m_launch(std::move(launch))
{
    const QString service = QString::fromLatin1(bundleID);
    // A fresh keychain store per read: the token the store saved last is the one sent.
    auto provider = std::make_shared<OrvelaAnalyticsProvider>(
        [service] { return KeychainStore(service).loadSyncToken(); }, &defaultBaseURL);
    auto defaults = std::make_shared<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("orvela"),
                                                QStringLiteral("orvela"));
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
    m_menuBar = std::make_unique<MenuBarController>(
        *m_store, [this](QQmlEngine &engine) { prepareViewEngine(engine, *m_store); });
    m_menuBar->install();

    // The address was the process's from the start; only the token is left to apply.
    const LaunchValues token{std::nullopt, std::exchange(m_launch.syncToken, std::nullopt)};
    if (!token.syncToken)
        return;
    if (m_store->servicesStarted()) {
        applyLaunchValues(*m_store, token);
        return;
    }
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(m_store.get(), &AppStore::servicesStartedChanged, this, [this, once, token] {
        disconnect(*once);
        applyLaunchValues(*m_store, token);
    });
}

void AppDelegate::applicationWillTerminate()
{
    m_store->stop();
}

void AppDelegate::handOver(const LaunchValues &values)
{
    applyLaunchValues(*m_store, values);
    if (m_menuBar)
        m_menuBar->showPanel();
}
