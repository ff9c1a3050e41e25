#pragma once

#include "CountedListModel.h"
#include "Website.h"

#include <QList>

// The websites in the store's order, one row each. A change touches only the rows it concerns:
// a website added is a row inserted, one removed a row removed, one edited a row changed.
class WebsiteListModel : public CountedListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The store's websites: Store.websites")

public:
    enum Role {
        WebsiteIDRole = Qt::UserRole + 1,  // upper-case UUID text
        DisplayNameRole,
        DomainRole,
        DashboardURLStringRole,  // as stored; "" for none
        DashboardURLRole,        // the address to open; "" when there is no usable one
        IsExampleRole,
    };
    Q_ENUM(Role)

    using CountedListModel::CountedListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<Website> &websites() const { return m_websites; }
    void setWebsites(const QList<Website> &websites);

private:
    QList<Website> m_websites;
};
