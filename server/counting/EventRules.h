#pragma once

#include "Storage.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

// What the collector takes from a request before counting it.
namespace EventRules {

constexpr qsizetype bodyLimit = 4096;

constexpr qsizetype textLimit = 500;

struct ParsedEvent {
    QString siteUuid;  // upper case
    EventKind kind = EventKind::pageview;
    QString host;      // of the page's address, as hostOf gives it; empty when there is none
    QString page;      // path of the page's address, cleaned
    QString referrer;  // host of the referring page; empty when none or the same site
    QString label;     // cleaned
};

// No value for anything that is not a well-formed event body.
std::optional<ParsedEvent> parse(const QByteArray &body);

// Text fit to keep and show: without control characters and without the marks that reorder
// text around them (bidirectional overrides and isolates), at most `limit` UTF-16 units and
// never half a surrogate pair.
QString cleanText(const QString &text, qsizetype limit = textLimit);
// A path without its parameters (";jsessionid=…" and the like, which often carry sessions).
QString withoutParameters(const QString &path);

// A host name for comparing: ASCII (a Unicode name in its punycode form, as browsers send it),
// lower case, without a trailing dot. Empty when it is not a host name.
QString hostOf(const QString &host);
// The host a site's events must come from, from the domain its account gave: its port is
// ignored and a leading "www." dropped. Empty when the domain names no host.
QString siteHost(const QString &domain);
// Whether a page on `pageHost` belongs to the site on `siteHost`: the same host or a
// subdomain of it.
bool belongsTo(const QString &pageHost, const QString &siteHost);

// Crawlers, monitors, previews and scripts, judged by the user agent.
bool isBot(const QString &userAgent);

// The socket's address, or with a trusted proxy the right-most X-Forwarded-For entry.
QString clientAddress(const std::string &socketAddress, const std::string &forwardedFor, bool trustProxy);

// Two letters, upper case, or empty: unknown and pseudo-country codes are left out.
QString countryCode(const QString &text);

}  // namespace EventRules
