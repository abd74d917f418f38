#include "CurlLibrary.h"

#include "DynamicLibrary.h"

#include <optional>

namespace brindle::platform {

namespace {

std::optional<CurlLibrary> load() {
    void* library = loadLibrary("libcurl.so.4");
    if (library == nullptr)
        return std::nullopt;
    CurlLibrary curl{};
    const bool complete = resolveSymbol(library, "curl_url", curl.url) &&
                          resolveSymbol(library, "curl_url_set", curl.urlSet) &&
                          resolveSymbol(library, "curl_url_get", curl.urlGet) &&
                          resolveSymbol(library, "curl_url_cleanup", curl.urlCleanup) &&
                          resolveSymbol(library, "curl_free", curl.free);
    if (!complete)
        return std::nullopt;
    return curl;
}

} // namespace

const CurlLibrary* curlLibrary() {
    static const std::optional<CurlLibrary> library = load();
    return library ? &*library : nullptr;
}

} // namespace brindle::platform
