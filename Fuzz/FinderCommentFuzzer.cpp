// Merging a fresh block into any comment changes nothing when done again; and the page address
// read back from any comment.

#include "FinderComment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string existing(reinterpret_cast<const char*>(data), size);
    brindle::managedPageURL(existing);
    const auto merge = [](const std::string& comment) {
        return brindle::mergedFinderComment(comment, "https://cdn.example/a.png",
                                            "https://p.example/");
    };
    if (merge(merge(existing)) != merge(existing))
        std::abort();
    return 0;
}
