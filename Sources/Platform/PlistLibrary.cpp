#include "PlistLibrary.h"

#include "DynamicLibrary.h"

#include <optional>

namespace brindle::platform {

namespace {

std::optional<PlistLibrary> load() {
    void* library = loadLibrary("libplist-2.0.so.3");
    if (library == nullptr)
        return std::nullopt;
    PlistLibrary plist{};
    const bool complete = resolveSymbol(library, "plist_free", plist.free) &&
                          resolveSymbol(library, "plist_from_memory", plist.fromMemory) &&
                          resolveSymbol(library, "plist_to_bin", plist.toBinary) &&
                          resolveSymbol(library, "plist_to_bin_free", plist.freeBinary) &&
                          resolveSymbol(library, "plist_new_string", plist.newString) &&
                          resolveSymbol(library, "plist_new_array", plist.newArray) &&
                          resolveSymbol(library, "plist_new_date", plist.newDate) &&
                          resolveSymbol(library, "plist_array_append_item", plist.arrayAppend) &&
                          resolveSymbol(library, "plist_array_get_size", plist.arraySize) &&
                          resolveSymbol(library, "plist_array_get_item", plist.arrayItem) &&
                          resolveSymbol(library, "plist_get_node_type", plist.nodeType) &&
                          resolveSymbol(library, "plist_get_string_ptr", plist.stringPointer) &&
                          resolveSymbol(library, "plist_dict_get_item", plist.dictionaryItem);
    if (!complete)
        return std::nullopt;
    return plist;
}

} // namespace

const PlistLibrary* plistLibrary() {
    static const std::optional<PlistLibrary> library = load();
    return library ? &*library : nullptr;
}

} // namespace brindle::platform
