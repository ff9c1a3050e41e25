#include "ScriptResponse.h"

#include "TrackingScript.h"

#include <QList>

namespace http = boost::beast::http;

namespace {

QByteArray headerOf(const HttpRequest &request, http::field name)
{
    const auto value = request[name];
    return QByteArray(value.data(), qsizetype(value.size()));
}

// Whether the client takes gzip: named in Accept-Encoding (or "*") without q=0.
bool acceptsGzip(const HttpRequest &request)
{
    const QByteArray accepted = headerOf(request, http::field::accept_encoding).toLower();
    for (const QByteArray &item : accepted.split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts.first().trimmed();
        if (coding != "gzip" && coding != "*")
            continue;
        bool refused = false;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed();
            if (parameter.startsWith("q=") && parameter.mid(2).toDouble() <= 0)
                refused = true;
        }
        return !refused;
    }
    return false;
}

bool matchesETag(const HttpRequest &request, std::string_view etag)
{
    const QByteArray wanted = headerOf(request, http::field::if_none_match);
    if (wanted.trimmed() == "*")
        return true;
    for (QByteArray candidate : wanted.split(',')) {
        candidate = candidate.trimmed();
        if (candidate.startsWith("W/"))
            candidate = candidate.mid(2);
        if (candidate == QByteArray(etag.data(), qsizetype(etag.size())))
            return true;
    }
    return false;
}

}  // namespace

// The script is compressed once at build time; a Range header is not honoured, so every 200
// carries the whole form that its tag names.
void sendScript(const HttpRequest &request, HttpResponse &response)
{
    const bool gzip = acceptsGzip(request);
    // Each form has its own tag, so that a cache never answers one with the other.
    const std::string etag =
        gzip ? std::string(TrackingScript::etag()).insert(1, "gz-") : std::string(TrackingScript::etag());
    response.set(http::field::etag, etag);
    response.set(http::field::cache_control, "public, max-age=3600");
    response.set(http::field::vary, "Accept-Encoding");
    // Pages of any origin load it, including those that require resources to opt in.
    response.set("Cross-Origin-Resource-Policy", "cross-origin");
    response.set("X-Content-Type-Options", "nosniff");
    if (matchesETag(request, etag)) {
        response.result(http::status::not_modified);
        return;
    }
    const std::string_view body = gzip ? TrackingScript::gzipped() : TrackingScript::minified();
    if (gzip)
        response.set(http::field::content_encoding, "gzip");
    response.result(http::status::ok);
    response.set(http::field::content_type, "application/javascript; charset=utf-8");
    response.body().assign(body.data(), body.size());
}
