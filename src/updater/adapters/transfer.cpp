#include "updater/adapters/transfer.h"
#include "support/owned_by.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace updater {

namespace {

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kMaxRedirects = 5;

struct Receiver {
    const std::function<bool(std::string_view)>& sink;
    std::uint64_t maxBytes;
    std::uint64_t received { 0 };
    bool tooLong { false };
    bool refusedBySink { false };
};

// The hop that answered last: where a refused redirect pointed from.
struct Hops {
    CURL* handle;
    std::string lastAnswered;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context)
{
    auto* receiver = static_cast<Receiver*>(context);
    const std::size_t bytes = size * count;
    if (bytes > receiver->maxBytes - receiver->received) {
        receiver->tooLong = true;
        return 0;
    }
    receiver->received += bytes;
    if (!receiver->sink(std::string_view(data, bytes))) {
        receiver->refusedBySink = true;
        return 0;
    }
    return bytes;
}

std::string effectiveURL(CURL* handle, const std::string& otherwise)
{
    char* url = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url);
    return url ? url : otherwise;
}

// Every response, a redirect's included, opens with its status line, and
// while it arrives the effective URL is the one that answered.
std::size_t noteHop(char* data, std::size_t size, std::size_t count, void* context)
{
    auto* hops = static_cast<Hops*>(context);
    if (std::string_view(data, size * count).starts_with("HTTP/"))
        hops->lastAnswered = effectiveURL(hops->handle, hops->lastAnswered);
    return size * count;
}

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void configureBounds(CURL* handle, const TransferBounds& bounds)
{
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, bounds.slowestBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(bounds.slowFor.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(bounds.whole.count()));
}

void configure(CURL* handle, const TransferRequest& request, Receiver& receiver, Hops& hops, char* detail)
{
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, request.httpsOnly ? "https" : "http,https,file");
    // A feed on the web must not send us to a local file.
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, request.httpsOnly ? "https" : "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    configureBounds(handle, request.bounds);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(receiver.maxBytes));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Ferrowind Helper updater");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiver);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &noteHop);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &hops);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);
}

// "HTTP status 404" rather than libcurl's words, which read the same for
// every status.
std::string whyItFailed(CURL* handle, CURLcode code, const char* detail)
{
    if (code == CURLE_HTTP_RETURNED_ERROR) {
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        return "HTTP status " + std::to_string(status);
    }
    return *detail ? detail : curl_easy_strerror(code);
}

bool followedARedirect(CURL* handle)
{
    long redirects = 0;
    curl_easy_getinfo(handle, CURLINFO_REDIRECT_COUNT, &redirects);
    return redirects > 0;
}

} // namespace

support::Outcome<std::string> transfer(const TransferRequest& request, const std::function<bool(std::string_view)>& sink)
{
    initialiseCurlOnce();
    support::OwnedBy<CURL, curl_easy_cleanup> handle(curl_easy_init());
    if (!handle)
        return support::failure("cannot set up a transfer");
    Receiver receiver { sink, request.maxBytes };
    Hops hops { handle.get(), request.url };
    char detail[CURL_ERROR_SIZE] = "";
    configure(handle.get(), request, receiver, hops, detail);
    const CURLcode code = curl_easy_perform(handle.get());
    // After redirects, the hop the transfer had reached, not the URL asked for.
    const std::string at = effectiveURL(handle.get(), request.url);
    if (receiver.tooLong || code == CURLE_FILESIZE_EXCEEDED)
        return support::failure("more than " + std::to_string(request.maxBytes) + " bytes from " + at);
    if (receiver.refusedBySink)
        return support::failure("cannot store what arrived from " + at);
    if (code == CURLE_UNSUPPORTED_PROTOCOL && followedARedirect(handle.get()))
        return support::failure("refused the redirect from " + hops.lastAnswered + " to " + at
            + (request.httpsOnly ? ": what is published over https is fetched over https only" : ": redirects lead to http or https only"));
    if (code != CURLE_OK)
        return support::failure("failed at " + at + ": " + whyItFailed(handle.get(), code, detail));
    return at;
}

} // namespace updater
