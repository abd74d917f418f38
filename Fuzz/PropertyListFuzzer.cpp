// Property lists as read from a file's attributes and from a bundle's Info.plist.

#include "Platform/DesktopServices.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    brindle::platform::parsePropertyList(bytes);
    brindle::platform::propertyListDictionaryString(bytes, "CFBundleIdentifier");
    return 0;
}
