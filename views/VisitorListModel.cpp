#include "VisitorListModel.h"

#include "CountryNames.h"
#include "VisitText.h"

int VisitorListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant VisitorListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[index.row()];
    switch (role) {
    case VisitorIDRole: return row.id;
    case Qt::DisplayRole:
    case NameRole: return row.name;
    case DurationRole: return row.duration;
    case SummaryRole: return row.summary;
    case ClickedRole: return row.clicked;
    default: return {};
    }
}

QHash<int, QByteArray> VisitorListModel::roleNames() const
{
    return {{VisitorIDRole, "visitorID"},
            {NameRole, "name"},
            {DurationRole, "duration"},
            {SummaryRole, "summary"},
            {ClickedRole, "clicked"}};
}

void VisitorListModel::setVisitors(const QList<RecentVisitor> &visitors)
{
    QList<Row> rows;
    for (const RecentVisitor &visitor : shownVisitors(visitors))
        rows.append({visitor.id, countryName(visitor.country), visitDuration(visitor.seconds),
                     visitSummary(visitor.referrer, visitor.pages), clickedText(visitor.clicks)});
    if (rows == m_rows)
        return;
    beginResetModel();
    m_rows = rows;
    endResetModel();
}
