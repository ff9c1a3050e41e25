#include "RequestTarget.h"

#include <algorithm>

namespace {

QByteArray decoded(QByteArray text, bool plusIsSpace)
{
    if (plusIsSpace)
        text.replace('+', ' ');
    return QByteArray::fromPercentEncoding(text);
}

}  // namespace

RequestTarget::RequestTarget(std::string_view target)
{
    const QByteArray text(target.data(), qsizetype(target.size()));
    const qsizetype mark = text.indexOf('?');
    m_path = decoded(mark < 0 ? text : text.left(mark), false);
    if (mark < 0)
        return;
    for (const QByteArray &pair : text.mid(mark + 1).split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        if (equals < 0)
            m_parameters.append({decoded(pair, true), QByteArray()});
        else
            m_parameters.append({decoded(pair.left(equals), true), decoded(pair.mid(equals + 1), true)});
    }
}

qsizetype RequestTarget::count(const QByteArray &name) const
{
    return std::count_if(m_parameters.cbegin(), m_parameters.cend(),
                         [&](const auto &pair) { return pair.first == name; });
}

QByteArray RequestTarget::value(const QByteArray &name) const
{
    for (const auto &[key, value] : m_parameters) {
        if (key == name)
            return value;
    }
    return {};
}
