#pragma once

#include <QAbstractListModel>
#include <QQmlEngine>

// A list model that tells QML how many rows it has, as `count`, for the pages' "nothing yet"
// states.
class CountedListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    explicit CountedListModel(QObject *parent = nullptr);

    int count() const { return rowCount(); }

signals:
    void countChanged();
};
