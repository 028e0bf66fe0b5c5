#pragma once

#include <string_view>

// A web page in the user's own browser can make it send an HTTP request to
// our loopback port. Such a request must never run as commands; the real
// client never sends a line that looks like HTTP, so refusing these costs it
// nothing.
//
// True when the command line opens like an HTTP request line
// ("METHOD target HTTP/...") or its command word is a header name such as
// "Host:" or "Origin:".
bool looksLikeHttp(std::string_view commandLine);
