#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// The service's origin, shared by the stats client, the sync client and the tracking snippet.
// ORVELA_BASE_URL or the settings page point the app at another service (a self-hosted one, or
// one on this machine); the address in use is remembered for later launches under kBaseURLKey.

inline constexpr char kBaseURLEnvironmentVariable[] = "ORVELA_BASE_URL";
inline constexpr char kBaseURLKey[] = "orvela.baseURL";
inline constexpr char kBuiltInBaseURL[] = "https://orvela.invalid";

// Read by the clients each time they build a request, so that a new address applies at once.
using BaseURLProvider = std::function<QUrl()>;

struct BaseURLResolution {
    QUrl url;
    // The text to store under kBaseURLKey; absent when nothing needs writing.
    std::optional<QString> toRemember;
    // One line for the log (orvela.address) about a value that was ignored.
    std::optional<QString> warning;
};

// Why the text cannot be the service's address, as one sentence for the user; none when it can.
// Accepted: an origin without path, query or fragment, https with a host, or http to this
// machine only (the bearer token must never cross a network in clear text).
std::optional<QString> baseURLProblem(const QString &text);

// The origin the text names when it is acceptable (see baseURLProblem), without a trailing slash.
std::optional<QUrl> usableBaseURL(const QString &text);

// Whether the URL's host is this machine: localhost or a loopback address.
bool isLoopbackURL(const QUrl &url);

// The rules without the process: the environment's value wins when usable, then the
// remembered one, then the built-in origin.
BaseURLResolution resolveBaseURL(const std::optional<QString> &environmentValue,
                                 const std::optional<QString> &rememberedValue);

// The address the process uses now: on first use resolved from the environment and the
// user-defaults store, afterwards whatever setDefaultBaseURL set last. Safe from any thread.
QUrl defaultBaseURL();
void setDefaultBaseURL(const QUrl &url);
