#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <map>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <vector>

// The data folder's contents behind one interface, so that another engine can take SQLite's
// place. Times are Unix seconds; a "slot" is a quarter of an hour (time / 900); a "day" is a
// UTC day number (time / 86400). Token hashes are raw SHA-256 digests.

// What every engine throws when the database cannot be used.
struct StorageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct AccountRecord {
    QByteArray tokenHash;
    qint64 createdAt = 0;
};

struct StoredState {
    std::optional<QByteArray> document;  // none until the account's first save
    std::optional<qint64> updatedAt;
};

struct SiteRecord {
    qint64 id = 0;
    QString uuid;  // canonical upper-case text
    std::optional<QByteArray> owner;
};

enum class EventKind { pageview = 0, click = 1, ping = 2 };

struct EventRow {
    qint64 visit = 0;
    qint64 seq = 0;
    qint64 at = 0;
    EventKind kind = EventKind::pageview;
    QString value;  // the page's path for a page view, the label for a click
};

struct VisitRow {
    qint64 id = 0;
    qint64 site = 0;
    QString publicId;
    qint64 firstSeen = 0;
    qint64 lastSeen = 0;
    QString referrer;
    QString country;
    qint64 nextSeq = 0;
};

// One visitor under one day's salt: the hash is only readable while that salt exists.
struct VisitorRow {
    qint64 site = 0;
    qint64 day = 0;
    QByteArray hash;
    qint64 lastSeen = 0;
    qint64 visit = 0;
    QString country;
};

struct SlotDelta {
    qint64 pageViews = 0;
    qint64 lastVisitors = 0;  // visitors whose latest event falls in the slot
};

struct DayDelta {
    qint64 visitors = 0;
    qint64 pageViews = 0;
};

// Everything one round of the collector writes, in one transaction.
struct EventBatch {
    std::vector<EventRow> events;
    std::map<qint64, VisitRow> visits;  // by id; inserted or updated
    std::vector<VisitorRow> visitors;   // inserted or updated
    std::map<std::pair<qint64, qint64>, SlotDelta> quarters;                  // (site, slot)
    std::map<std::tuple<qint64, qint64, QString>, qint64> slotCountries;     // (site, slot, country)
    std::map<std::tuple<qint64, int, qint64>, qint64> hours;                 // (site, alignment, start)
    std::map<std::pair<qint64, qint64>, DayDelta> days;                      // (site, day)
    std::vector<qint64> trackedSites;

    bool empty() const { return events.empty() && visitors.empty() && visits.empty(); }
};

struct OpenVisitors {
    std::vector<VisitorRow> visitors;
    std::vector<VisitRow> visits;  // those the visitors point at and still open
    qint64 lastVisitId = 0;
};

// What one stats reply needs, asked of the engine in one read.
struct FigureQuery {
    qint64 site = 0;
    qint64 liveSince = 0;
    qint64 todayFromSlot = 0;
    int alignment = 0;
    qint64 hoursFrom = 0;  // start of the oldest hourly bucket
    qint64 hoursTo = 0;    // start of the current one
    qint64 weekFromDay = 0;
    qint64 monthFromDay = 0;
    qint64 todayDay = 0;  // days before this one come from the daily roll-ups
    int recentLimit = 20;
};

struct RecentVisit {
    QString publicId;
    QString country;
    QString referrer;
    QList<QString> pages;
    QList<QString> clicks;
    qint64 firstSeen = 0;
    qint64 lastSeen = 0;
};

struct Figures {
    bool tracked = false;
    qint64 live = 0;
    qint64 visitorsToday = 0;
    qint64 pageViewsToday = 0;
    std::map<qint64, qint64> hours;  // bucket start -> visitors
    qint64 weekBeforeToday = 0;
    qint64 monthBeforeToday = 0;
    qint64 allBeforeToday = 0;
    std::vector<std::pair<QString, qint64>> countries;
    std::vector<RecentVisit> recent;
};

class Storage
{
public:
    virtual ~Storage() = default;

    // Accounts: a token's hash is the account.
    virtual void addAccount(const QByteArray &tokenHash, qint64 createdAt) = 0;
    virtual QList<AccountRecord> accounts() = 0;
    virtual void removeAccount(const QByteArray &tokenHash) = 0;
    virtual bool hasAccount(const QByteArray &tokenHash) = 0;
    // No value when there is no such account.
    virtual std::optional<StoredState> state(const QByteArray &tokenHash) = 0;
    // Stores the document and the account's claim on its sites at once, and returns the new
    // `updatedAt`: `now`, or one second after the previous one when that is not earlier.
    // No value when the account is gone.
    virtual std::optional<qint64> replaceState(const QByteArray &tokenHash, const QByteArray &document,
                                               const QList<QString> &siteUuids, qint64 now) = 0;

    // Sites: a site counts events while some account lists it; the first to list it owns it.
    virtual QList<SiteRecord> sites() = 0;
    virtual std::optional<qint64> ownedSite(const QByteArray &tokenHash, const QString &uuid) = 0;

    // The collector's own records.
    virtual std::optional<QByteArray> salt(qint64 day) = 0;
    virtual void putSalt(qint64 day, const QByteArray &salt) = 0;
    virtual void dropSaltsBefore(qint64 day) = 0;
    virtual OpenVisitors openVisitors(qint64 fromDay, qint64 openSince) = 0;
    virtual void commit(const EventBatch &batch) = 0;
    // Raw visits last seen before `rawBefore`, quarter-hour and hourly counters before
    // `countersBefore`, visitors of days before `visitorsBeforeDay`. Daily roll-ups stay.
    virtual void purge(qint64 rawBefore, qint64 countersBefore, qint64 visitorsBeforeDay) = 0;

    virtual Figures figures(const FigureQuery &query) = 0;
};
