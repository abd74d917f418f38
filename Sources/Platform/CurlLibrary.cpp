#include "Platform/CurlLibrary.h"

#include <dlfcn.h>
#include <optional>

namespace brindle::platform {

namespace {

template <class Function> bool resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

std::optional<CurlLibrary> load() {
    void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return std::nullopt;
    CurlLibrary curl{};
    const bool complete = resolve(library, "curl_url", curl.url) &&
                          resolve(library, "curl_url_set", curl.urlSet) &&
                          resolve(library, "curl_url_get", curl.urlGet) &&
                          resolve(library, "curl_url_cleanup", curl.urlCleanup) &&
                          resolve(library, "curl_free", curl.free);
    if (!complete)
        return std::nullopt;
    // Stays loaded for the life of the process, like a linked library would.
    return curl;
}

} // namespace

const CurlLibrary* curlLibrary() {
    static const std::optional<CurlLibrary> library = load();
    return library ? &*library : nullptr;
}

} // namespace brindle::platform
