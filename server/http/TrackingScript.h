#pragma once

#include <string_view>

// The tracking script as /script.js serves it: minified and gzip-compressed at build time from
// server/script/orvela.js.
namespace TrackingScript {

std::string_view minified();
std::string_view gzipped();
std::string_view etag();  // quoted, for the ETag header; the same for both forms' content

}  // namespace TrackingScript
