#include "Replies.h"

#include "Json.h"

namespace http = boost::beast::http;

namespace Replies {

void json(HttpResponse &response, int status, const QByteArray &body)
{
    response.result(unsigned(status));
    response.set(http::field::content_type, "application/json; charset=utf-8");
    response.body().assign(body.constData(), size_t(body.size()));
}

void error(HttpResponse &response, int status, const QString &message)
{
    json(response, status, Json::compact(QJsonObject{{QStringLiteral("error"), message}}));
}

void closeAfter(HttpResponse &response)
{
    response.keep_alive(false);
}

}  // namespace Replies
