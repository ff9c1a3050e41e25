#pragma once

#include "AnalyticsSnapshot.h"
#include "CountedListModel.h"

#include <QList>

// The recent visitors the recent-activity section shows of the selected website's figures,
// each summed up in the page's words. New figures replace the whole list.
class VisitorListModel : public CountedListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The selected website's recent visitors: Store.selectedVisitors")

public:
    enum Role {
        VisitorIDRole = Qt::UserRole + 1,
        NameRole,      // the country's name
        DurationRole,  // "1h 1m"
        SummaryRole,   // "google.com → /pricing +2"
        ClickedRole,   // "Clicked …", or "" without clicks
    };
    Q_ENUM(Role)

    using CountedListModel::CountedListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Shows those of the visitors that the page lists (shownVisitors).
    void setVisitors(const QList<RecentVisitor> &visitors);

private:
    struct Row {
        QString id;
        QString name;
        QString duration;
        QString summary;
        QString clicked;
        bool operator==(const Row &) const = default;
    };
    QList<Row> m_rows;
};
