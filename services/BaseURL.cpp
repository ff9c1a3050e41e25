#include "BaseURL.h"

#include "Website.h"

#include <QHostAddress>
#include <QSettings>
#include <cstdio>

std::optional<QUrl> usableBaseURL(const QString &text)
{
    const QUrl url(trimmedText(text), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    if (!url.path().isEmpty() && url.path() != u"/")
        return std::nullopt;
    const QString host = url.host();
    const bool local = host == u"localhost" || QHostAddress(host).isLoopback();
    if (url.scheme() != u"https" && !(url.scheme() == u"http" && local))
        return std::nullopt;
    QUrl origin = url;
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
        resolution.warning = QStringLiteral("orvela: ignoring %1=\"%2\": expected an https origin such as "
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

const QUrl &defaultBaseURL()
{
    static const QUrl url = [] {
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
            std::fprintf(stderr, "%s\n", qPrintable(*resolution.warning));
        if (resolution.toRemember) {
            settings.setValue(QLatin1String(kBaseURLKey), *resolution.toRemember);
            settings.sync();
        }
        return resolution.url;
    }();
    return url;
}
