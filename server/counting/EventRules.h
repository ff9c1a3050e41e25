#pragma once

#include "Storage.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

// What the collector takes from a request before counting it.
namespace EventRules {

constexpr qsizetype bodyLimit = 4096;

struct ParsedEvent {
    QString siteUuid;  // upper case
    EventKind kind = EventKind::pageview;
    QString page;      // path of the page's address
    QString referrer;  // host of the referring page; empty when none or the same site
    QString label;
};

// No value for anything that is not a well-formed event body.
std::optional<ParsedEvent> parse(const QByteArray &body);

// Crawlers, monitors, previews and scripts, judged by the user agent.
bool isBot(const QString &userAgent);

// The socket's address, or with a trusted proxy the right-most X-Forwarded-For entry.
QString clientAddress(const std::string &socketAddress, const std::string &forwardedFor, bool trustProxy);

// Two letters, upper case, or empty: unknown and pseudo-country codes are left out.
QString countryCode(const QString &text);

}  // namespace EventRules
