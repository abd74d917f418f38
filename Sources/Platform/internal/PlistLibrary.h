#pragma once

#include <plist/plist.h>

namespace brindle::platform {

/// The libplist entry points the program uses, resolved when first needed.
///
/// Chrome starts a fresh host for every message and most messages never read or write a property
/// list, so the library is loaded on first use, as libcurl is: linked, its loading was about a
/// tenth of the host's whole start-up.
struct PlistLibrary {
    decltype(&::plist_free) free;
    decltype(&::plist_from_memory) fromMemory;
    decltype(&::plist_to_bin) toBinary;
    decltype(&::plist_to_bin_free) freeBinary;
    decltype(&::plist_new_string) newString;
    decltype(&::plist_new_array) newArray;
    decltype(&::plist_new_date) newDate;
    decltype(&::plist_array_append_item) arrayAppend;
    decltype(&::plist_array_get_size) arraySize;
    decltype(&::plist_array_get_item) arrayItem;
    decltype(&::plist_get_node_type) nodeType;
    decltype(&::plist_get_string_ptr) stringPointer;
    decltype(&::plist_dict_get_item) dictionaryItem;
};

/// The loaded library, or nothing when libplist is not installed.
const PlistLibrary* plistLibrary();

} // namespace brindle::platform
