#include "CountedListModel.h"

CountedListModel::CountedListModel(QObject *parent) : QAbstractListModel(parent)
{
    for (auto changed : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(this, changed, this, &CountedListModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &CountedListModel::countChanged);
}
