#include "Platform/PropertyList.h"

#include "Platform/Text.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

namespace brindle::platform {

namespace {

// Property-list dates count from 2001-01-01 UTC.
constexpr double referenceDateSince1970 = 978307200.0;

struct NodeRelease {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeRelease>;

plist_t stringNode(const std::string& string) {
    if (!isValidUTF8(string))
        throw PropertyListError();
    return plist_new_string(string.c_str());
}

plist_t dateNode(double secondsSince1970) {
    const double sinceReference = secondsSince1970 - referenceDateSince1970;
    double seconds = std::floor(sinceReference);
    double microseconds = std::round((sinceReference - seconds) * 1e6);
    if (microseconds >= 1e6) {
        seconds += 1;
        microseconds -= 1e6;
    }
    return plist_new_date(static_cast<int32_t>(seconds), static_cast<int32_t>(microseconds));
}

std::string binary(const Node& root) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    if (bytes == nullptr)
        throw PropertyListError();
    std::string result(bytes, length);
    plist_to_bin_free(bytes);
    return result;
}

std::string stringValue(plist_t node) {
    char* value = nullptr;
    plist_get_string_val(node, &value);
    std::string result = value != nullptr ? value : "";
    std::free(value);
    return result;
}

} // namespace

std::string binaryPropertyList(const std::string& string) {
    return binary(Node(stringNode(string)));
}

std::string binaryPropertyList(const std::vector<std::string>& strings) {
    Node array(plist_new_array());
    for (const std::string& string : strings)
        plist_array_append_item(array.get(), stringNode(string));
    return binary(array);
}

std::string binaryPropertyListOfDates(const std::vector<double>& secondsSince1970) {
    Node array(plist_new_array());
    for (double seconds : secondsSince1970)
        plist_array_append_item(array.get(), dateNode(seconds));
    return binary(array);
}

std::optional<PropertyListValue> parsePropertyList(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
    if (parsed == nullptr)
        return std::nullopt;
    const Node root(parsed);

    PropertyListValue value;
    const plist_type type = plist_get_node_type(parsed);
    if (type == PLIST_STRING) {
        value.kind = PropertyListValue::Kind::string;
        value.string = stringValue(parsed);
        return value;
    }
    if (type != PLIST_ARRAY)
        return value;
    std::vector<std::string> strings;
    const uint32_t count = plist_array_get_size(parsed);
    for (uint32_t index = 0; index < count; ++index) {
        plist_t item = plist_array_get_item(parsed, index);
        if (plist_get_node_type(item) != PLIST_STRING)
            return value;
        strings.push_back(stringValue(item));
    }
    value.kind = PropertyListValue::Kind::arrayOfStrings;
    value.strings = std::move(strings);
    return value;
}

} // namespace brindle::platform
