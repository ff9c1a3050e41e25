#pragma once

#include "Replies.h"

// GET /script.js: the tracking script, gzip-compressed when the client takes it, with a tag per
// form so that caches revalidate it.
void sendScript(const HttpRequest &request, HttpResponse &response);
