#pragma once

#include "Platform/Result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::platform {

// Binary property lists (format "bplist00", version 1.0), as macOS writes them. A string that is
// not valid UTF-8 cannot be written: EILSEQ.

Result<std::string> binaryPropertyList(const std::string& string);
Result<std::string> binaryPropertyList(const std::vector<std::string>& strings);
/// An array of dates, each given in seconds since 1970-01-01 UTC.
Result<std::string> binaryPropertyListOfDates(const std::vector<double>& secondsSince1970);

/// A parsed property list, as far as its readers look into one.
struct PropertyListValue {
    enum class Kind { string, arrayOfStrings, other };
    Kind kind = Kind::other;
    std::string string;               // for `Kind::string`
    std::vector<std::string> strings; // for `Kind::arrayOfStrings`
};

/// Parses a binary or XML property list; nothing when the bytes are not one.
std::optional<PropertyListValue> parsePropertyList(std::string_view bytes);

/// The string that the dictionary at the top of a binary or XML property list holds under `key`
/// (how an application bundle's Info.plist is read); nothing when the bytes are no such list or
/// the value is not a string.
std::optional<std::string> propertyListDictionaryString(std::string_view bytes,
                                                        const std::string& key);

} // namespace brindle::platform
