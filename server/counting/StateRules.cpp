#include "StateRules.h"

#include "Choices.h"
#include "Json.h"

#include <QSet>

namespace StateRules {

std::optional<QString> problem(const WireState &state)
{
    if (!RefreshIntervals::fromRawValue(state.refreshInterval))
        return QStringLiteral("\"refreshInterval\" must be 30, 60 or 120");
    if (state.websites.size() > websiteLimit) {
        return QStringLiteral("a state may list at most %1 websites; this one lists %2")
            .arg(websiteLimit)
            .arg(state.websites.size());
    }
    QSet<QUuid> seen;
    for (const auto &website : state.websites) {
        if (website.id.isNull())
            return QStringLiteral("a website's \"id\" must not be the nil UUID");
        if (seen.contains(website.id))
            return QStringLiteral("the website id %1 is listed more than once").arg(Json::uuidText(website.id));
        seen.insert(website.id);
    }
    return std::nullopt;
}

QList<ListedSite> listedSites(const WireState &state)
{
    QList<ListedSite> sites;
    for (const auto &website : state.websites)
        sites.append({Json::uuidText(website.id), website.domain});
    return sites;
}

}  // namespace StateRules
