// Property lists as they are read from a file's attributes and from a bundle's Info.plist.

#include "Platform/PropertyList.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using brindle::platform::PropertyListValue;
    if (const auto value = brindle::platform::parsePropertyList(bytes)) {
        // What was read as a list of strings or a string must survive being written again.
        if (value->kind == PropertyListValue::Kind::arrayOfStrings &&
            !brindle::platform::binaryPropertyList(value->strings))
            std::abort();
    }
    brindle::platform::propertyListDictionaryString(bytes, "CFBundleIdentifier");
    return 0;
}
