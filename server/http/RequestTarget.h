#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <string_view>

// A request's target as the endpoints read it: the percent-decoded path, and the query's
// parameters in order (a name may come more than once; '+' stands for a space).
class RequestTarget
{
public:
    explicit RequestTarget(std::string_view target);

    const QByteArray &path() const { return m_path; }
    qsizetype count(const QByteArray &name) const;
    QByteArray value(const QByteArray &name) const;  // the first one, or empty

private:
    QByteArray m_path;
    QList<QPair<QByteArray, QByteArray>> m_parameters;
};
