// Strict Base64: whatever decodes must be the text that encodes those bytes.

#include "Base64.h"

#include <boost/beast/core/detail/base64.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string bytes;
    if (!brindle::decodeBase64(text, bytes))
        return 0;
    namespace base64 = boost::beast::detail::base64;
    if (bytes.size() != brindle::base64DecodedLength(text))
        std::abort();
    std::string encoded(base64::encoded_size(bytes.size()), '\0');
    encoded.resize(base64::encode(encoded.data(), bytes.data(), bytes.size()));
    // Only the bits that the last character before the padding leaves unused may differ.
    const std::size_t last = std::min(text.find('='), text.size()) - 1;
    if (encoded.size() != text.size() || encoded.compare(0, last, text, 0, last) != 0 ||
        encoded.compare(last + 1, std::string::npos, text, last + 1) != 0)
        std::abort();
    return 0;
}
