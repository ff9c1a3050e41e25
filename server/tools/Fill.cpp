// Writes synthetic traffic for one new account and site straight into a data folder or a
// PostgreSQL database, through the same counting code as the collector, and prints
// "TOKEN SITE-ID" on stdout.
//   orvela-server-fill (--data DIR | --database URL) --events N [--days D]
#include "Json.h"
#include "PgStorage.h"
#include "RuntimeSalts.h"
#include "SqliteStorage.h"
#include "Tokens.h"
#include "VisitCounter.h"
#include "WireState.h"

#include <QRandomGenerator>
#include <QStringList>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <ctime>

int main(int argc, char **argv)
{
    QString folder;
    QString database;
    qint64 total = 0;
    qint64 days = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (option == u"--data")
            folder = value;
        else if (option == u"--database")
            database = value;
        else if (option == u"--events")
            total = value.toLongLong();
        else if (option == u"--days")
            days = value.toLongLong();
    }
    if (folder.isEmpty() == database.isEmpty() || total <= 0 || days <= 0) {
        std::fputs("usage: orvela-server-fill (--data DIR | --database URL) --events N [--days D]\n", stderr);
        return 2;
    }

    const std::unique_ptr<Storage> engine = database.isEmpty()
        ? std::unique_ptr<Storage>(std::make_unique<SqliteStorage>(folder))
        : std::make_unique<PgStorage>(database);
    Storage &storage = *engine;
    const qint64 now = qint64(std::time(nullptr));
    const QString token = Tokens::generate();
    const QByteArray account = Tokens::hash(token);
    storage.addAccount(account, now);
    const QUuid siteId = QUuid::createUuid();
    WireState state;
    state.websites.append({siteId, QStringLiteral("Bench"), QStringLiteral("bench.example"), std::nullopt});
    state.selectedWebsiteID = siteId;
    storage.replaceState(account, state.encode(), {{Json::uuidText(siteId), state.websites.first().domain}}, now);
    const qint64 site = *storage.ownedSite(account, Json::uuidText(siteId));

    static const char *const pages[] = {"/", "/pricing", "/blog", "/blog/launch", "/docs", "/docs/install", "/about"};
    static const char *const referrers[] = {"", "", "news.example", "search.example", "social.example"};
    auto *random = QRandomGenerator::global();
    RuntimeSalts salts({});  // the salts go with this process: nobody counts these visitors again
    VisitCounter counter(salts);
    const qint64 first = now - days * secondsPerDay;
    const qint64 perDay = total / days;
    qint64 written = 0;
    for (qint64 day = 0; day < days; ++day) {
        const qint64 dayStart = first + day * secondsPerDay;
        const qint64 target = day + 1 == days ? total - written : perDay;
        std::vector<IncomingEvent> events;
        events.reserve(size_t(target));
        while (qint64(events.size()) < target) {
            // One visit: a page view, then a few more page views, clicks and pings.
            const QByteArray client = "10." + QByteArray::number(random->bounded(256)) + '.' +
                QByteArray::number(random->bounded(256)) + '.' + QByteArray::number(random->bounded(256)) +
                "\nMozilla/5.0 bench";
            qint64 at = dayStart + random->bounded(int(secondsPerDay - 1200));
            const int length = 1 + random->bounded(9);
            const QString referrer = QString::fromLatin1(referrers[random->bounded(5)]);
            for (int i = 0; i < length && qint64(events.size()) < target; ++i) {
                IncomingEvent event;
                event.site = site;
                event.siteUuid = Json::uuidText(siteId);
                event.kind = i == 0 ? EventKind::pageview : EventKind(random->bounded(3));
                event.page = QString::fromLatin1(pages[random->bounded(7)]);
                event.label = event.kind == EventKind::click ? QStringLiteral("Sign up") : QString();
                event.referrer = referrer;
                event.client = client;
                event.country = QStringList{"DE", "FR", "US", "IN", "BR"}[random->bounded(5)];
                event.at = at;
                events.push_back(event);
                at += 10 + random->bounded(120);
            }
        }
        std::stable_sort(events.begin(), events.end(), [](const auto &a, const auto &b) { return a.at < b.at; });
        for (size_t from = 0; from < events.size(); from += 20000) {
            counter.maintain(events[from].at);
            const auto to = events.begin() + qsizetype(std::min(events.size(), from + 20000));
            counter.count(std::vector<IncomingEvent>(events.begin() + qsizetype(from), to), storage);
        }
        written += qint64(events.size());
        std::fprintf(stderr, "\r%lld of %lld events", static_cast<long long>(written), static_cast<long long>(total));
    }
    std::fputs("\n", stderr);
    counter.maintain(now);
    const Retention retention{now - 30 * secondsPerDay, now - 3 * secondsPerDay, utcDay(now) - 1};
    while (!storage.tidy(retention, 100000).done) {}
    std::printf("%s %s\n", qPrintable(token), qPrintable(Json::lowerUuidText(siteId)));
    return 0;
}
