#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <vector>

// What the service keeps, behind one interface for both engines: SQLite in the data folder, or
// a PostgreSQL database that several servers share. Times are Unix seconds; a "slot" is a quarter of an hour (slotOf in
// Clock.h); a "day" is a UTC day number (time / 86400). Token hashes are raw SHA-256 digests.
//
// Who sees a site's figures: an account owns a site from the first save that lists it for as
// long as the account exists. Taking the site off its list stops counting and keeps claim and
// history; listing it again resumes both. Another account that lists the same id gets nothing.
// A site that never counted anything has nothing to keep: it is let go when it leaves the list.
// Ending the account (revoking its token) makes its sites' history unreachable at once, and
// housekeeping deletes it; an account that lists the same id later starts from nothing.
// Nothing of the visitor hashes' salts is kept here: see DailySalts.

// What every engine throws when the database cannot be used.
struct StorageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct AccountRecord {
    qint64 id = 0;  // the account itself: a new token keeps it
    QByteArray tokenHash;
    qint64 createdAt = 0;
};

struct StoredState {
    std::optional<QByteArray> document;  // none until the account's first save
    std::optional<qint64> updatedAt;
};

// A website as an account's state lists it.
struct ListedSite {
    QString uuid;    // canonical upper-case text
    QString domain;  // as the state gives it
};

// A site whose owner lists it: one the collector counts.
struct SiteRecord {
    qint64 id = 0;
    QString uuid;
    QString domain;
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
    std::map<qint64, VisitRow> visits;                                    // by id; inserted or updated
    std::vector<VisitorRow> visitors;                                     // inserted or updated
    std::map<std::pair<qint64, qint64>, SlotDelta> quarters;              // (site, slot)
    std::map<std::tuple<qint64, qint64, QString>, qint64> slotCountries;  // (site, slot, country)
    std::map<std::tuple<qint64, int, qint64>, qint64> hours;              // (site, alignment, start)
    std::map<std::pair<qint64, qint64>, DayDelta> days;                   // (site, day)
    std::vector<qint64> trackedSites;

    bool empty() const { return events.empty() && visitors.empty() && visits.empty(); }
};

// What housekeeping may delete: raw visits and their events last seen before `rawBefore`,
// quarter-hour and hourly counters before `countersBefore`, visitors of days before
// `visitorsBeforeDay`, and all history of sites whose account is gone. Daily roll-ups of
// living sites stay.
struct Retention {
    qint64 rawBefore = 0;
    qint64 countersBefore = 0;
    qint64 visitorsBeforeDay = 0;
};

struct TidyRound {
    qint64 rows = 0;    // rows deleted
    bool done = false;  // nothing more is due
};

// One visitor as the counter names it: under the salt of its day.
struct VisitorKey {
    qint64 site = 0;
    qint64 day = 0;
    QByteArray hash;

    bool operator<(const VisitorKey &other) const
    {
        return std::tie(site, day, hash) < std::tie(other.site, other.day, other.hash);
    }
    bool operator==(const VisitorKey &) const = default;
};

// The visitors a batch may name and what it reads of them. `counted` are the visitors of the
// events themselves, which the batch creates when they are new; `previous` those it only looks
// up (the day before, to go on with a visit open at midnight).
struct BatchKeys {
    std::vector<VisitorKey> counted;
    std::vector<VisitorKey> previous;
    qint64 openSince = 0;  // visits last seen before this cannot go on in this batch
};

// What counting a batch reads and changes: the stored visitors it names and the open visits
// they point at. The engine fills it; the counter alone decides what the events do to it.
struct WorkingSet {
    std::map<VisitorKey, VisitorRow> visitors;
    std::unordered_map<qint64, VisitRow> visits;
    std::function<qint64()> newVisitId;
};

using CountBatch = std::function<EventBatch(WorkingSet &)>;

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

    // A random name of this database, made with it; never secret.
    virtual QString instanceId() = 0;

    // Accounts: the bearer of a token whose hash is stored is that account.
    virtual void addAccount(const QByteArray &tokenHash, qint64 createdAt) = 0;
    virtual QList<AccountRecord> accounts() = 0;
    // The account keeps everything; only the new token opens it from now on. False when no
    // account has `oldHash`.
    virtual bool replaceToken(const QByteArray &oldHash, const QByteArray &newHash) = 0;
    // Ends the account: its state goes, and its sites' history is unreachable from now on.
    virtual void removeAccount(const QByteArray &tokenHash) = 0;
    virtual bool hasAccount(const QByteArray &tokenHash) = 0;
    // No value when there is no such account.
    virtual std::optional<StoredState> state(const QByteArray &tokenHash) = 0;
    // Stores the document and which sites the account lists at once, and returns the new
    // `updatedAt`: `now`, or one second after the previous one when that is not earlier. A
    // listed site nobody owns becomes the account's; one it stops listing stops counting,
    // and goes altogether if it never counted anything. No value when the account is gone.
    virtual std::optional<qint64> replaceState(const QByteArray &tokenHash, const QByteArray &document,
                                               const QList<ListedSite> &sites, qint64 now) = 0;

    // The sites that count events: those their owner lists.
    virtual QList<SiteRecord> listedSites() = 0;
    // The site's id when this account owns and lists it.
    virtual std::optional<qint64> ownedSite(const QByteArray &tokenHash, const QString &uuid) = 0;

    // Counts one batch: hands `count` the working set of `keys` and commits the batch it
    // returns, as one transaction. `count` may run more than once, each time on a fresh working
    // set, when the engine has to try the transaction again; only the last result is kept.
    // However many servers count at once, no visitor and no visit is changed by two of them at
    // the same time.
    virtual void count(const BatchKeys &keys, const CountBatch &count) = 0;
    // Writes a batch as it is. Rows of sites that no longer exist are left out, here and in
    // count(): their account ended meanwhile.
    virtual void commit(const EventBatch &batch) = 0;
    // Deletes at most `budget` rows of what `retention` lets go, in one short transaction, so
    // that the collector's commits never wait long for it.
    virtual TidyRound tidy(const Retention &retention, qint64 budget) = 0;

    virtual Figures figures(const FigureQuery &query) = 0;
};
