#include "VisitCounter.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

using namespace Counting;

namespace {

std::string keyOf(qint64 site, const QByteArray &hash)
{
    std::string key(reinterpret_cast<const char *>(&site), sizeof site);
    key.append(hash.constData(), size_t(hash.size()));
    return key;
}

QString randomVisitId()
{
    quint32 words[3];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray bytes(reinterpret_cast<const char *>(words), sizeof words);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

}  // namespace

VisitCounter::VisitCounter(Storage &storage, DailySalts &salts) : m_storage(storage), m_salts(salts) {}

void VisitCounter::restore(qint64 now)
{
    const qint64 today = utcDay(now);
    const OpenVisitors open = m_storage.openVisitors(today - 1, now - visitGap);
    m_lastVisitId = open.lastVisitId;
    for (const auto &visit : open.visits)
        m_visits[visit.id] = visit;
    for (const auto &row : open.visitors)
        m_visitors[row.day][keyOf(row.site, row.hash)] = {row.site, row.hash, row.lastSeen, row.visit, row.country};
    maintain(now);
}

qint64 VisitCounter::firstKeptDay(qint64 now)
{
    const qint64 today = utcDay(now);
    return now < today * secondsPerDay + saltGrace ? today - 1 : today;
}

bool VisitCounter::maintain(qint64 now)
{
    const qint64 keepFrom = firstKeptDay(now);
    const bool retiring = keepFrom > m_keptFrom;
    if (retiring) {
        m_salts.forgetBefore(keepFrom);
        m_keptFrom = keepFrom;
    }
    m_visitors.erase(m_visitors.begin(), m_visitors.lower_bound(keepFrom));
    std::erase_if(m_visits, [&](const auto &entry) {
        return entry.second.lastSeen < now - visitGap && !m_touchedVisits.contains(entry.first);
    });
    return retiring;
}

QByteArray VisitCounter::visitorHash(const QByteArray &salt, const IncomingEvent &event)
{
    QMessageAuthenticationCode code(QCryptographicHash::Sha256, salt);
    code.addData(event.siteUuid.toUtf8());
    code.addData("\n", 1);
    code.addData(event.client);
    return code.result().left(16);
}

VisitRow *VisitCounter::openVisit(qint64 id, qint64 at)
{
    const auto found = m_visits.find(id);
    if (found == m_visits.end() || at - found->second.lastSeen >= visitGap)
        return nullptr;
    return &found->second;
}

void VisitCounter::add(const IncomingEvent &event, EventBatch &batch)
{
    const qint64 at = event.at;
    const qint64 day = utcDay(at);
    // Only after a backlog of more than half an hour: that day's salt is gone for good.
    if (day < m_keptFrom)
        return;
    const auto salt = m_salts.salt(day);
    if (!salt)
        return;
    const QByteArray hash = visitorHash(*salt, event);
    const std::string key = keyOf(event.site, hash);
    auto &visitors = m_visitors[day];
    auto found = visitors.find(key);
    if (found == visitors.end()) {
        Visitor visitor{event.site, hash, -1, 0, event.country};
        ++batch.days[{event.site, day}].visitors;
        // Just after midnight, someone in the middle of a visit keeps that visit, though under
        // the new salt they are a new visitor of the new day.
        if (at < day * secondsPerDay + saltGrace) {
            if (const auto previousSalt = m_salts.keptSalt(day - 1)) {
                const auto &yesterday = m_visitors[day - 1];
                const auto before = yesterday.find(keyOf(event.site, visitorHash(*previousSalt, event)));
                if (before != yesterday.end() && openVisit(before->second.visit, at)) {
                    visitor.visit = before->second.visit;
                    visitor.country = before->second.country;
                }
            }
        }
        found = visitors.emplace(key, std::move(visitor)).first;
    }
    Visitor &visitor = found->second;

    VisitRow *visit = visitor.visit ? openVisit(visitor.visit, at) : nullptr;
    if (!visit) {
        const qint64 id = ++m_lastVisitId;
        visit = &m_visits[id];
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
    batch.events.push_back({visit->id, visit->nextSeq++, at, event.kind, event.kind == EventKind::ping ? QString() : value});

    m_touchedVisitors[{day, key}] = true;
    m_touchedVisits[visit->id] = true;
    if (batch.trackedSites.empty() || batch.trackedSites.back() != event.site)
        batch.trackedSites.push_back(event.site);
}

void VisitCounter::finish(EventBatch &batch)
{
    for (const auto &[where, unused] : m_touchedVisitors) {
        const auto &[day, key] = where;
        const auto dayVisitors = m_visitors.find(day);
        if (dayVisitors == m_visitors.end())
            continue;
        const auto found = dayVisitors->second.find(key);
        if (found == dayVisitors->second.end())
            continue;
        const Visitor &visitor = found->second;
        batch.visitors.push_back({visitor.site, day, visitor.hash, visitor.lastSeen, visitor.visit, visitor.country});
    }
    for (const auto &[id, unused] : m_touchedVisits) {
        if (const auto found = m_visits.find(id); found != m_visits.end())
            batch.visits[id] = found->second;
    }
    m_touchedVisitors.clear();
    m_touchedVisits.clear();
    std::sort(batch.trackedSites.begin(), batch.trackedSites.end());
    batch.trackedSites.erase(std::unique(batch.trackedSites.begin(), batch.trackedSites.end()), batch.trackedSites.end());
}
