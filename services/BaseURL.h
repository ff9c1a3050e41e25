#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// The service's origin, shared by the stats client, the sync client and the tracking snippet.
// ORVELA_BASE_URL points the app at another service (a self-hosted one, or one on this
// machine); a valid value is remembered for later launches under kBaseURLKey.

inline constexpr char kBaseURLEnvironmentVariable[] = "ORVELA_BASE_URL";
inline constexpr char kBaseURLKey[] = "orvela.baseURL";
inline constexpr char kBuiltInBaseURL[] = "https://orvela.invalid";

struct BaseURLResolution {
    QUrl url;
    // The text to store under kBaseURLKey; absent when nothing needs writing.
    std::optional<QString> toRemember;
    // One line for stderr about a value that was ignored.
    std::optional<QString> warning;
};

// An origin without path, query or fragment: https with a host, or http to this machine only
// (the bearer token must never cross a network in clear text). No value otherwise.
std::optional<QUrl> usableBaseURL(const QString &text);

// The rules without the process: the environment's value wins when usable, then the
// remembered one, then the built-in origin.
BaseURLResolution resolveBaseURL(const std::optional<QString> &environmentValue,
                                 const std::optional<QString> &rememberedValue);

// Resolved once per process from the environment and the user-defaults store.
const QUrl &defaultBaseURL();
