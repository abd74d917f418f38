#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::platform {

/// A value that cannot be written as a property list (text that is not UTF-8).
class PropertyListError : public std::exception {
public:
    const char* what() const noexcept override { return "无法生成属性列表：文本不是有效的 UTF-8"; }
};

// Binary property lists (format "bplist00", version 1.0), as macOS writes them. These throw
// `PropertyListError` for a string that is not valid UTF-8.

std::string binaryPropertyList(const std::string& string);
std::string binaryPropertyList(const std::vector<std::string>& strings);
/// An array of dates, each given in seconds since 1970-01-01 UTC.
std::string binaryPropertyListOfDates(const std::vector<double>& secondsSince1970);

/// A parsed property list, as far as its readers look into one.
struct PropertyListValue {
    enum class Kind { string, arrayOfStrings, other };
    Kind kind = Kind::other;
    std::string string;               // for `Kind::string`
    std::vector<std::string> strings; // for `Kind::arrayOfStrings`
};

/// Parses a binary or XML property list; nothing when the bytes are not one.
std::optional<PropertyListValue> parsePropertyList(std::string_view bytes);

} // namespace brindle::platform
