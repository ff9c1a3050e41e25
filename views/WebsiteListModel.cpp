#include "WebsiteListModel.h"

#include "ExampleWebsite.h"
#include "QmlValues.h"

#include <QSet>

int WebsiteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_websites.size());
}

QVariant WebsiteListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Website &website = m_websites[index.row()];
    switch (role) {
    case WebsiteIDRole: return QmlValues::idText(website.id);
    case Qt::DisplayRole:
    case DisplayNameRole: return website.displayName;
    case DomainRole: return website.domain;
    case DashboardURLStringRole: return website.dashboardURLString.value_or(QString());
    case DashboardURLRole: {
        const std::optional<QUrl> dashboard = website.dashboardURL();
        return dashboard ? dashboard->toString() : QString();
    }
    case IsExampleRole: return ExampleWebsite::isExampleDomain(website.domain);
    default: return {};
    }
}

QHash<int, QByteArray> WebsiteListModel::roleNames() const
{
    return {{WebsiteIDRole, "websiteID"},
            {DisplayNameRole, "displayName"},
            {DomainRole, "domain"},
            {DashboardURLStringRole, "dashboardURLString"},
            {DashboardURLRole, "dashboardURL"},
            {IsExampleRole, "isExample"}};
}

void WebsiteListModel::setWebsites(const QList<Website> &websites)
{
    if (websites == m_websites)
        return;
    QSet<QUuid> kept;
    for (const Website &website : websites)
        kept.insert(website.id);
    for (int row = int(m_websites.size()) - 1; row >= 0; --row) {
        if (kept.contains(m_websites[row].id))
            continue;
        beginRemoveRows({}, row, row);
        m_websites.removeAt(row);
        endRemoveRows();
    }
    // Those that stay keep their order in the store; a new order is a new list.
    QSet<QUuid> present;
    for (const Website &website : std::as_const(m_websites))
        present.insert(website.id);
    QList<QUuid> stayed;
    for (const Website &website : websites)
        if (present.contains(website.id))
            stayed.append(website.id);
    bool sameOrder = stayed.size() == m_websites.size();
    for (int row = 0; sameOrder && row < stayed.size(); ++row)
        sameOrder = m_websites[row].id == stayed[row];
    if (!sameOrder) {
        beginResetModel();
        m_websites = websites;
        endResetModel();
        return;
    }
    for (int row = 0; row < websites.size(); ++row) {
        if (row < m_websites.size() && m_websites[row].id == websites[row].id) {
            if (m_websites[row] != websites[row]) {
                m_websites[row] = websites[row];
                emit dataChanged(index(row), index(row));
            }
            continue;
        }
        beginInsertRows({}, row, row);
        m_websites.insert(row, websites[row]);
        endInsertRows();
    }
}
