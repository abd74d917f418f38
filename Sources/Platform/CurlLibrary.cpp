#include "CurlLibrary.h"

#include "DynamicLibrary.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace brindle::platform {

namespace {

std::optional<CurlLibrary> load() {
    void* library = loadLibrary("libcurl.so.4");
    if (library == nullptr)
        return std::nullopt;
    CurlLibrary curl{};
    const bool complete =
        resolveSymbol(library, "curl_url", curl.url) &&
        resolveSymbol(library, "curl_url_set", curl.urlSet) &&
        resolveSymbol(library, "curl_url_get", curl.urlGet) &&
        resolveSymbol(library, "curl_url_cleanup", curl.urlCleanup) &&
        resolveSymbol(library, "curl_url_dup", curl.urlDuplicate) &&
        resolveSymbol(library, "curl_free", curl.free) &&
        resolveSymbol(library, "curl_easy_init", curl.easyInit) &&
        resolveSymbol(library, "curl_easy_setopt", curl.easySetOption) &&
        resolveSymbol(library, "curl_easy_getinfo", curl.easyGetInfo) &&
        resolveSymbol(library, "curl_easy_cleanup", curl.easyCleanup) &&
        resolveSymbol(library, "curl_multi_init", curl.multiInit) &&
        resolveSymbol(library, "curl_multi_add_handle", curl.multiAddHandle) &&
        resolveSymbol(library, "curl_multi_remove_handle", curl.multiRemoveHandle) &&
        resolveSymbol(library, "curl_multi_perform", curl.multiPerform) &&
        resolveSymbol(library, "curl_multi_poll", curl.multiPoll) &&
        resolveSymbol(library, "curl_multi_info_read", curl.multiInfoRead) &&
        resolveSymbol(library, "curl_multi_cleanup", curl.multiCleanup) &&
        resolveSymbol(library, "curl_slist_append", curl.listAppend) &&
        resolveSymbol(library, "curl_slist_free_all", curl.listFree);
    if (!complete)
        return std::nullopt;
    return curl;
}

std::mutex loading;
std::optional<CurlLibrary> loaded;                  // once loaded, for the rest of the process
std::atomic<const CurlLibrary*> published{nullptr}; // `loaded`, once it is there

} // namespace

// A load can fail for a passing reason (no descriptor free, no memory): it is tried again at the
// next use instead of leaving the process without URLs for the rest of its life.
std::optional<std::string> curlLoadFailure() {
    if (published.load(std::memory_order_acquire) != nullptr)
        return std::nullopt;
    const std::lock_guard lock(loading);
    if (!loaded) {
        loaded = load();
        if (!loaded)
            return loadFailure();
    }
    published.store(&*loaded, std::memory_order_release);
    return std::nullopt;
}

const CurlLibrary* curlLibrary() {
    return curlLoadFailure() ? nullptr : published.load(std::memory_order_acquire);
}

} // namespace brindle::platform
