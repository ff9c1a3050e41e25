#include "CountryListModel.h"

#include "CountryNames.h"
#include "NumberText.h"
#include "VisitText.h"

int CountryListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant CountryListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[index.row()];
    switch (role) {
    case CodeRole: return row.code;
    case Qt::DisplayRole:
    case LabelRole: return row.label;
    case VisitorsRole: return row.visitors;
    default: return {};
    }
}

QHash<int, QByteArray> CountryListModel::roleNames() const
{
    return {{CodeRole, "code"}, {LabelRole, "label"}, {VisitorsRole, "visitors"}};
}

void CountryListModel::setCountries(const QList<CountryVisitors> &countries)
{
    QList<Row> rows;
    for (const CountryVisitors &country : shownCountries(countries))
        rows.append({country.code, countryLabel(country.code), countText(country.visitors)});
    if (rows == m_rows)
        return;
    beginResetModel();
    m_rows = rows;
    endResetModel();
}
