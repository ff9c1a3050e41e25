#include "BaseURL.h"

#include "Logging.h"
#include "Website.h"

#include <QHostAddress>
#include <QSettings>
#include <mutex>

namespace {

std::mutex addressMutex;
std::optional<QUrl> currentAddress;

QUrl resolvedAtStart()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("orvela"),
                       QStringLiteral("orvela"));
    std::optional<QString> environment;
    if (qEnvironmentVariableIsSet(kBaseURLEnvironmentVariable))
        environment = qEnvironmentVariable(kBaseURLEnvironmentVariable);
    std::optional<QString> remembered;
    if (const QVariant value = settings.value(QLatin1String(kBaseURLKey)); value.isValid())
        remembered = value.toString();

    const auto resolution = resolveBaseURL(environment, remembered);
    if (resolution.warning)
        qCWarning(lcAddress).noquote() << *resolution.warning;
    if (resolution.toRemember) {
        settings.setValue(QLatin1String(kBaseURLKey), *resolution.toRemember);
        settings.sync();
    }
    return resolution.url;
}

}  // namespace

bool isLoopbackURL(const QUrl &url)
{
    const QString host = url.host();
    return host == u"localhost" || QHostAddress(host).isLoopback();
}

std::optional<QString> baseURLProblem(const QString &text)
{
    const QString trimmed = trimmedText(text);
    if (trimmed.isEmpty())
        return QStringLiteral("Enter the service's address, such as https://stats.example.org.");
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return QStringLiteral("Enter a whole address, such as https://stats.example.org.");
    if (url.scheme() != u"https" && url.scheme() != u"http")
        return QStringLiteral("The address must start with https://.");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("The address must not hold a user name or password.");
    if (url.hasQuery() || url.hasFragment() || (!url.path().isEmpty() && url.path() != u"/"))
        return QStringLiteral("Enter the address alone, without a path.");
    if (url.scheme() == u"http" && !isLoopbackURL(url))
        return QStringLiteral("Use https: plain http is only for a service on this computer.");
    return std::nullopt;
}

std::optional<QUrl> usableBaseURL(const QString &text)
{
    if (baseURLProblem(text))
        return std::nullopt;
    QUrl origin(trimmedText(text), QUrl::StrictMode);
    origin.setPath(QString());
    return origin;
}

BaseURLResolution resolveBaseURL(const std::optional<QString> &environmentValue,
                                 const std::optional<QString> &rememberedValue)
{
    BaseURLResolution resolution;
    if (environmentValue && !trimmedText(*environmentValue).isEmpty()) {
        if (const auto url = usableBaseURL(*environmentValue)) {
            resolution.url = *url;
            const QString text = url->toString(QUrl::FullyEncoded);
            if (text != rememberedValue)
                resolution.toRemember = text;
            return resolution;
        }
        resolution.warning = QStringLiteral("ignoring %1=\"%2\": expected an https origin such as "
                                            "https://stats.example.net, or http on localhost")
                                 .arg(QLatin1String(kBaseURLEnvironmentVariable), *environmentValue);
    }
    if (rememberedValue) {
        if (const auto url = usableBaseURL(*rememberedValue)) {
            resolution.url = *url;
            return resolution;
        }
    }
    const auto builtIn = usableBaseURL(QLatin1String(kBuiltInBaseURL));
    if (!builtIn)
        qFatal("The built-in base URL is not a usable origin");
    resolution.url = *builtIn;
    return resolution;
}

QUrl defaultBaseURL()
{
    std::lock_guard lock(addressMutex);
    if (!currentAddress)
        currentAddress = resolvedAtStart();
    return *currentAddress;
}

void setDefaultBaseURL(const QUrl &url)
{
    std::lock_guard lock(addressMutex);
    currentAddress = url;
}
