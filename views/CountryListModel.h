#pragma once

#include "AnalyticsSnapshot.h"
#include "CountedListModel.h"

#include <QList>

// The countries the recent-activity section shows of the selected website's figures, with
// their labels and counts as the page writes them. New figures replace the whole list.
class CountryListModel : public CountedListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The selected website's countries: Store.selectedCountries")

public:
    enum Role {
        CodeRole = Qt::UserRole + 1,
        LabelRole,     // flag and name
        VisitorsRole,  // the count as text
    };
    Q_ENUM(Role)

    using CountedListModel::CountedListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Shows those of the countries that the page lists (shownCountries).
    void setCountries(const QList<CountryVisitors> &countries);

private:
    struct Row {
        QString code;
        QString label;
        QString visitors;
        bool operator==(const Row &) const = default;
    };
    QList<Row> m_rows;
};
