#include "Platform/PathsAndText.h"

#include "CurlLibrary.h"

#include <algorithm>
#include <cctype>

namespace brindle::platform {

void URLComponents::HandleRelease::operator()(Curl_URL* handle) const {
    curlLibrary()->urlCleanup(handle);
}

namespace {

std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    const CurlLibrary& curl = *curlLibrary();
    char* value = nullptr;
    if (curl.urlGet(url, which, &value, flags) != CURLUE_OK || value == nullptr)
        return std::nullopt;
    std::string result(value);
    curl.free(value);
    return result;
}

// The URL parser reads "http:/x" and "http:///x" as naming the host "x"; by RFC 3986 they have
// no authority or an empty one, so the host must follow "scheme://" directly.
bool authorityFollowsScheme(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view rest = text.substr(colon + 1);
    return rest.size() > 2 && rest.substr(0, 2) == "//" && rest[2] != '/';
}

// RFC 3986: a reference that starts with a scheme and ":" is absolute.
bool startsWithScheme(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos || !std::isalpha(text[0]))
        return false;
    return std::all_of(text.begin(), text.begin() + colon, [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '-' || c == '.';
    });
}

bool isUsableText(std::string_view text) {
    return isValidUTF8(text) && text.find('\0') == std::string_view::npos;
}

} // namespace

std::optional<std::string> URLComponents::parserLoadFailure() {
    return curlLoadFailure();
}

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
    if (!isUsableText(text))
        return std::nullopt;
    const CurlLibrary* curl = curlLibrary();
    if (curl == nullptr)
        return std::nullopt;
    Handle handle(curl->url());
    if (!handle)
        return std::nullopt;
    CURLU* url = handle.get();
    // Paths are kept as the page wrote them: a URL is recorded, not resolved.
    const std::string terminated(text);
    if (curl->urlSet(url, CURLUPART_URL, terminated.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) != CURLUE_OK)
        return std::nullopt;
    const std::optional<std::string> host = part(url, CURLUPART_HOST);
    const bool hasHost = host && !host->empty() && authorityFollowsScheme(text);
    return URLComponents(std::move(handle), hasHost);
}

std::optional<URLComponents> URLComponents::resolving(std::string_view reference) const {
    if (!isUsableText(reference))
        return std::nullopt;
    const CurlLibrary& curl = *curlLibrary();
    Handle handle(curl.urlDuplicate(handle_.get()));
    if (!handle)
        return std::nullopt;
    const std::string terminated(reference);
    if (curl.urlSet(handle.get(), CURLUPART_URL, terminated.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK)
        return std::nullopt;
    const std::optional<std::string> host = part(handle.get(), CURLUPART_HOST);
    const bool ownAuthority = startsWithScheme(reference) ? authorityFollowsScheme(reference)
                                                          : hasHost_ || reference.starts_with("//");
    return URLComponents(std::move(handle), host && !host->empty() && ownAuthority);
}

std::string URLComponents::host() const {
    return part(handle_.get(), CURLUPART_HOST).value_or("");
}

std::string URLComponents::path() const {
    return part(handle_.get(), CURLUPART_PATH, CURLU_URLDECODE).value_or("");
}

std::string URLComponents::scheme() const {
    std::string scheme = part(handle_.get(), CURLUPART_SCHEME).value_or("");
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

void URLComponents::removeUserAndPassword() {
    CURLU* url = handle_.get();
    const CurlLibrary& curl = *curlLibrary();
    curl.urlSet(url, CURLUPART_USER, nullptr, 0);
    curl.urlSet(url, CURLUPART_PASSWORD, nullptr, 0);
}

void URLComponents::removeFragment() {
    curlLibrary()->urlSet(handle_.get(), CURLUPART_FRAGMENT, nullptr, 0);
}

std::optional<std::string> URLComponents::string() const {
    return part(handle_.get(), CURLUPART_URL);
}

} // namespace brindle::platform
