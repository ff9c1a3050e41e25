#pragma once

#include <QByteArray>
#include <QString>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

// The service's answers: JSON documents, and failures as {"error": "..."}.
namespace Replies {

void json(HttpResponse &response, int status, const QByteArray &body);
void error(HttpResponse &response, int status, const QString &message);
// Leave the rest of a refused request unread: the client is asked to close the connection.
void closeAfter(HttpResponse &response);

}  // namespace Replies
