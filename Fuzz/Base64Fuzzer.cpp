// Strict Base64: only a text that encodes its bytes decodes, its last unused bits aside.

#include "Platform/PathsAndText.h"

#include <boost/beast/core/detail/base64.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string bytes, again;
    if (!brindle::platform::decodeBase64(text, bytes) || text.empty())
        return 0;
    std::string encoded(boost::beast::detail::base64::encoded_size(bytes.size()), '\0');
    boost::beast::detail::base64::encode(encoded.data(), bytes.data(), bytes.size());
    if (encoded.size() != text.size() || !brindle::platform::decodeBase64(encoded, again) ||
        again != bytes ||
        std::mismatch(text.begin(), text.end(), encoded.begin()).first < text.end() - 3)
        std::abort();
    return 0;
}
