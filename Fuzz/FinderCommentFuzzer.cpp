// The merge of a fresh block into any existing comment, and the page address read back from it.
// The input is the existing comment, then optionally a NUL and the resource and page addresses.

#include "FinderComment.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::optional<std::string> nextPart(std::string_view& rest) {
    if (rest.empty())
        return std::nullopt;
    const std::size_t end = std::min(rest.find('\0'), rest.size());
    std::string part(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return part;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const auto existing = nextPart(rest);
    const auto resource = nextPart(rest);
    const auto page = nextPart(rest);
    brindle::managedPageURL(existing.value_or(""));
    const std::string merged = brindle::mergedFinderComment(existing, resource, page);
    // Merging again keeps the user's text and replaces the block, however often it is done (the
    // addresses reach here checked, and so never hold a marker).
    const auto holdsMarker = [](const std::optional<std::string>& url) {
        return url && url->find("——") != std::string::npos;
    };
    if (holdsMarker(resource) || holdsMarker(page))
        return 0;
    if (brindle::mergedFinderComment(merged, resource, page) != merged)
        std::abort();
    if (brindle::userTextOfFinderComment(merged) != brindle::userTextOfFinderComment(existing))
        std::abort();
    return 0;
}
