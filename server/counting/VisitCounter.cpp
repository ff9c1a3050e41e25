#include "VisitCounter.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <algorithm>
#include <set>

using namespace Counting;

namespace {

QString randomVisitId()
{
    quint32 words[3];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray bytes(reinterpret_cast<const char *>(words), sizeof words);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

void sortUnique(std::vector<VisitorKey> &keys)
{
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

}  // namespace

VisitCounter::VisitCounter(DailySalts &salts) : m_salts(salts) {}

qint64 VisitCounter::firstKeptDay(qint64 now)
{
    const qint64 today = utcDay(now);
    return now < today * secondsPerDay + saltGrace ? today - 1 : today;
}

bool VisitCounter::maintain(qint64 now)
{
    // A source that keeps only the current day's secret moves it on at midnight, not at the
    // first visitor of the day.
    if (const qint64 today = utcDay(now); today > m_today) {
        m_today = today;
        m_salts.salt(today);
    }
    const qint64 keepFrom = firstKeptDay(now);
    if (keepFrom <= m_keptFrom)
        return false;
    m_salts.forgetBefore(keepFrom);
    m_keptFrom = keepFrom;
    return true;
}

QByteArray VisitCounter::visitorHash(const QByteArray &salt, const IncomingEvent &event)
{
    QMessageAuthenticationCode code(QCryptographicHash::Sha256, salt);
    code.addData(event.siteUuid.toUtf8());
    code.addData("\n", 1);
    code.addData(event.client);
    return code.result().left(16);
}

void VisitCounter::count(const std::vector<IncomingEvent> &events, Storage &storage)
{
    std::vector<Named> named;
    named.reserve(events.size());
    BatchKeys keys;
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const auto &event : events) {
        const qint64 day = utcDay(event.at);
        // Only after a backlog of more than half an hour: that day's salt is gone for good.
        if (day < m_keptFrom)
            continue;
        const auto salt = m_salts.salt(day);
        if (!salt)
            continue;
        Named one{&event, {event.site, day, visitorHash(*salt, event)}, std::nullopt};
        if (event.at < day * secondsPerDay + saltGrace) {
            if (const auto previousSalt = m_salts.keptSalt(day - 1)) {
                one.previous = VisitorKey{event.site, day - 1, visitorHash(*previousSalt, event)};
                keys.previous.push_back(*one.previous);
            }
        }
        keys.counted.push_back(one.visitor);
        earliest = std::min(earliest, event.at);
        named.push_back(std::move(one));
    }
    if (named.empty())
        return;
    sortUnique(keys.counted);
    sortUnique(keys.previous);
    keys.openSince = earliest - visitGap;
    storage.count(keys, [&](WorkingSet &set) { return apply(named, set); });
}

EventBatch VisitCounter::apply(const std::vector<Named> &events, WorkingSet &set) const
{
    EventBatch batch;
    std::set<VisitorKey> touchedVisitors;
    std::set<qint64> touchedVisits;
    const auto openVisit = [&](qint64 id, qint64 at) -> VisitRow * {
        const auto found = set.visits.find(id);
        if (found == set.visits.end() || at - found->second.lastSeen >= visitGap)
            return nullptr;
        return &found->second;
    };

    for (const Named &named : events) {
        const IncomingEvent &event = *named.event;
        const qint64 at = event.at;
        const qint64 day = named.visitor.day;
        auto found = set.visitors.find(named.visitor);
        if (found == set.visitors.end()) {
            VisitorRow visitor{event.site, day, named.visitor.hash, -1, 0, event.country};
            ++batch.days[{event.site, day}].visitors;
            // Just after midnight, someone in the middle of a visit keeps that visit, though
            // under the new salt they are a new visitor of the new day.
            if (named.previous) {
                const auto before = set.visitors.find(*named.previous);
                if (before != set.visitors.end() && openVisit(before->second.visit, at)) {
                    visitor.visit = before->second.visit;
                    visitor.country = before->second.country;
                }
            }
            found = set.visitors.emplace(named.visitor, std::move(visitor)).first;
        }
        VisitorRow &visitor = found->second;

        VisitRow *visit = visitor.visit ? openVisit(visitor.visit, at) : nullptr;
        if (!visit) {
            const qint64 id = set.newVisitId();
            visit = &set.visits[id];
            *visit = {id, event.site, randomVisitId(), at, at, event.referrer, visitor.country, 0};
            visitor.visit = id;
        }

        // Each visitor sits in the quarter-hour of their latest event, so "visitors since T" is
        // a sum over quarter-hours; each hourly bucket counts a visitor once, on their first
        // event in it.
        const qint64 seen = std::max(at, visitor.lastSeen);
        const qint64 slot = slotOf(seen);
        if (visitor.lastSeen < 0 || slotOf(visitor.lastSeen) != slot) {
            if (visitor.lastSeen >= 0) {
                --batch.quarters[{event.site, slotOf(visitor.lastSeen)}].lastVisitors;
                --batch.slotCountries[{event.site, slotOf(visitor.lastSeen), visitor.country}];
            }
            ++batch.quarters[{event.site, slot}].lastVisitors;
            ++batch.slotCountries[{event.site, slot, visitor.country}];
        }
        for (int alignment = 0; alignment < alignments; ++alignment) {
            const qint64 start = hourStart(seen, alignment);
            if (visitor.lastSeen < start)
                ++batch.hours[{event.site, alignment, start}];
        }
        visitor.lastSeen = seen;

        if (event.kind == EventKind::pageview) {
            ++batch.quarters[{event.site, slotOf(at)}].pageViews;
            ++batch.days[{event.site, day}].pageViews;
        }
        visit->lastSeen = std::max(visit->lastSeen, at);
        const QString &value = event.kind == EventKind::pageview ? event.page : event.label;
        batch.events.push_back(
            {visit->id, visit->nextSeq++, at, event.kind, event.kind == EventKind::ping ? QString() : value});

        touchedVisitors.insert(named.visitor);
        touchedVisits.insert(visit->id);
        batch.trackedSites.push_back(event.site);
    }
    for (const VisitorKey &key : touchedVisitors)
        batch.visitors.push_back(set.visitors.at(key));
    for (const qint64 id : touchedVisits)
        batch.visits[id] = set.visits.at(id);
    std::sort(batch.trackedSites.begin(), batch.trackedSites.end());
    batch.trackedSites.erase(std::unique(batch.trackedSites.begin(), batch.trackedSites.end()),
                             batch.trackedSites.end());
    return batch;
}
