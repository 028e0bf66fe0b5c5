#include "updater/adapters/transfer.h"
#include "support/owned_by.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace updater {

namespace {

constexpr long kConnectTimeoutSeconds = 30;
// A server that sends less than one byte a second for a minute is gone.
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kLowSpeedSeconds = 60;
constexpr long kWholeTransferTimeoutSeconds = 3600;
constexpr long kMaxRedirects = 5;

struct Receiver {
    const std::function<bool(std::string_view)>& sink;
    std::uint64_t maxBytes;
    std::uint64_t received { 0 };
    bool tooLong { false };
    bool refusedBySink { false };
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

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void configure(CURL* handle, const std::string& url, Receiver& receiver)
{
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https,file");
    // A feed on the web must not send us to a local file.
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, kWholeTransferTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(receiver.maxBytes));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Ferrowind Helper updater");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiver);
}

} // namespace

support::Outcome<std::string> transfer(const std::string& url, std::uint64_t maxBytes,
    const std::function<bool(std::string_view)>& sink)
{
    initialiseCurlOnce();
    support::OwnedBy<CURL, curl_easy_cleanup> handle(curl_easy_init());
    if (!handle)
        return support::failure("cannot set up a transfer");
    Receiver receiver { sink, maxBytes };
    configure(handle.get(), url, receiver);
    const CURLcode code = curl_easy_perform(handle.get());
    if (receiver.tooLong || code == CURLE_FILESIZE_EXCEEDED)
        return support::failure("more than " + std::to_string(maxBytes) + " bytes from " + url);
    if (receiver.refusedBySink)
        return support::failure("cannot store what arrived from " + url);
    if (code != CURLE_OK)
        return support::failure(std::string(curl_easy_strerror(code)) + ": " + url);
    char* finalURL = nullptr;
    curl_easy_getinfo(handle.get(), CURLINFO_EFFECTIVE_URL, &finalURL);
    return std::string(finalURL ? finalURL : url);
}

} // namespace updater
