// The request field readers on any JSON object, under each of its keys.

#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <boost/json/parse.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boost::system::error_code error;
    const auto parsed = boost::json::parse({reinterpret_cast<const char*>(data), size}, error);
    for (const auto& [key, value] :
         parsed.is_object() ? parsed.get_object() : boost::json::object()) {
        brindle::flag(key, parsed.get_object());
        try {
            brindle::requiredString(key, parsed.get_object());
        } catch (const brindle::ProtocolError&) {
        }
        try {
            brindle::requiredNonNegativeInteger(key, parsed.get_object());
        } catch (const brindle::ProtocolError&) {
        }
    }
    return 0;
}
