// The request field readers on any JSON object, under its own keys and the usual ones.

#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <boost/json/parse.hpp>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boost::system::error_code error;
    const boost::json::value parsed =
        boost::json::parse({reinterpret_cast<const char*>(data), size}, error);
    if (error || !parsed.is_object())
        return 0;
    const boost::json::object& request = parsed.get_object();
    std::vector<std::string> keys = {"requestId", "chunkIndex", "totalBytes", "overwrite", ""};
    for (const auto& entry : request)
        keys.emplace_back(entry.key());
    for (const std::string& key : keys) {
        const auto optional = brindle::optionalString(key, request);
        try {
            if (brindle::requiredString(key, request) != optional ||
                brindle::requiredStringView(key, request) != optional)
                std::abort();
        } catch (const brindle::ProtocolError&) {
            if (optional)
                std::abort();
        }
        try {
            if (brindle::requiredNonNegativeInteger(key, request) < 0)
                std::abort();
        } catch (const brindle::ProtocolError&) {
        }
        brindle::flag(key, request);
    }
    return 0;
}
