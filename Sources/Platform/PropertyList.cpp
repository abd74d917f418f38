#include "Platform/DesktopServices.h"

#include "Platform/PathsAndText.h"

#include "PlistLibrary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace brindle::platform {

namespace {

// Every public entry checks that the library is there before anything here calls into it.
const PlistLibrary& plist() {
    return *plistLibrary();
}

std::error_code libraryMissing() {
    return std::make_error_code(std::errc::function_not_supported);
}

// Property-list dates count from 2001-01-01 UTC.
constexpr double referenceDateSince1970 = 978307200.0;

struct NodeRelease {
    void operator()(plist_t node) const { plist().free(node); }
};
using Node = std::unique_ptr<void, NodeRelease>;

// Property-list strings are Unicode: text that is not UTF-8 cannot be written as one.
bool allValidUTF8(const std::vector<std::string>& strings) {
    return std::all_of(strings.begin(), strings.end(),
                       [](const std::string& string) { return isValidUTF8(string); });
}

std::error_code notUTF8() {
    return std::make_error_code(std::errc::illegal_byte_sequence);
}

void appendBigEndian(std::string& bytes, uint64_t value, unsigned size) {
    for (unsigned byte = size; byte-- > 0;)
        bytes += static_cast<char>((value >> (8 * byte)) & 0xFF);
}

// A UTF-16 string object's marker byte: its kind and a count below 15, or 15 and then the count
// as an integer object of 1, 2, 4 or 8 bytes.
void appendUTF16StringMarker(std::string& bytes, uint64_t count) {
    if (count < 15) {
        bytes += static_cast<char>(0x60 | count);
        return;
    }
    bytes += static_cast<char>(0x6F);
    unsigned sizeExponent = 0;
    while (sizeExponent < 3 && count >> (8 << sizeExponent) != 0)
        ++sizeExponent;
    bytes += static_cast<char>(0x10 | sizeExponent);
    appendBigEndian(bytes, count, 1u << sizeExponent);
}

// libplist keeps a string node as a C string (it copies with strdup), so a string that holds
// U+0000 would be cut there; that one object is encoded here instead. It is always UTF-16, as the
// library writes every string that is not ASCII: libplist reads an ASCII object only up to its
// first NUL byte.
std::string binaryPropertyListOfStringWithNUL(std::string_view string) {
    std::u16string units;
    for (size_t offset = 0; offset < string.size();) {
        const DecodedScalar scalar = decodeScalar(string, offset);
        offset += scalar.length;
        if (scalar.value < 0x10000) {
            units += static_cast<char16_t>(scalar.value);
            continue;
        }
        units += static_cast<char16_t>(0xD800 + ((scalar.value - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((scalar.value - 0x10000) & 0x3FF));
    }
    std::string bytes = "bplist00";
    appendUTF16StringMarker(bytes, units.size());
    for (char16_t unit : units)
        appendBigEndian(bytes, unit, 2);
    const uint64_t offsetTable = bytes.size();
    unsigned offsetSize = 1;
    while (offsetSize < 8 && offsetTable >> (8 * offsetSize) != 0)
        ++offsetSize;
    appendBigEndian(bytes, 8, offsetSize); // the object follows the header
    // Trailer: six unused bytes, the offset and reference sizes, the object count, the top
    // object and where the offset table starts.
    bytes.append(6, '\0');
    bytes += static_cast<char>(offsetSize);
    bytes += static_cast<char>(1);
    appendBigEndian(bytes, 1, 8);
    appendBigEndian(bytes, 0, 8);
    appendBigEndian(bytes, offsetTable, 8);
    return bytes;
}

plist_t dateNode(double secondsSince1970) {
    const double sinceReference = secondsSince1970 - referenceDateSince1970;
    double seconds = std::floor(sinceReference);
    double microseconds = std::round((sinceReference - seconds) * 1e6);
    if (microseconds >= 1e6) {
        seconds += 1;
        microseconds -= 1e6;
    }
    return plist().newDate(static_cast<int32_t>(seconds), static_cast<int32_t>(microseconds));
}

Result<std::string> binary(const Node& root) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist().toBinary(root.get(), &bytes, &length);
    if (bytes == nullptr)
        return errnoCode(ENOMEM);
    std::string result(bytes, length);
    plist().freeBinary(bytes);
    return result;
}

uint64_t bigEndian(std::string_view bytes) {
    uint64_t value = 0;
    for (char byte : bytes)
        value = value << 8 | static_cast<unsigned char>(byte);
    return value;
}

// libplist reads an ASCII string object of a binary list only up to its first NUL byte, without
// saying so. Such a list is refused rather than read short. `bytes` has been parsed already, so
// its trailer and offset table are sound; the objects are still read within bounds.
bool holdsASCIIStringWithNUL(std::string_view bytes) {
    if (!bytes.starts_with("bplist00") || bytes.size() < 40)
        return false;
    const std::string_view trailer = bytes.substr(bytes.size() - 32);
    const unsigned offsetSize = static_cast<unsigned char>(trailer[6]);
    const uint64_t objectCount = bigEndian(trailer.substr(8, 8));
    const uint64_t offsetTable = bigEndian(trailer.substr(24, 8));
    if (offsetSize == 0 || offsetSize > 8 || offsetTable > bytes.size())
        return false;
    for (uint64_t index = 0; index < objectCount; ++index) {
        if ((bytes.size() - offsetTable) / offsetSize <= index)
            break;
        const uint64_t offset =
            bigEndian(bytes.substr(offsetTable + index * offsetSize, offsetSize));
        if (offset >= bytes.size() || (bytes[offset] & 0xF0) != 0x50)
            continue;
        uint64_t start = offset + 1;
        uint64_t length = bytes[offset] & 0x0F;
        if (length == 0x0F) {
            if (start >= bytes.size() || (bytes[start] & 0xF0) != 0x10)
                continue;
            const unsigned size = 1u << (bytes[start] & 0x03);
            if (bytes.size() - start - 1 < size)
                continue;
            length = bigEndian(bytes.substr(start + 1, size));
            start += 1 + size;
        }
        if (length <= bytes.size() - start &&
            bytes.substr(start, length).find('\0') != std::string_view::npos)
            return true;
    }
    return false;
}

// A binary string may hold U+0000, so it is read with its length. Property-list strings are
// Unicode: one that is not valid UTF-8 makes the list unreadable.
std::optional<std::string> stringValue(plist_t node) {
    uint64_t length = 0;
    const char* value = plist().stringPointer(node, &length);
    if (value == nullptr)
        return std::nullopt;
    std::string result(value, length);
    if (!isValidUTF8(result))
        return std::nullopt;
    return result;
}

// The root of a binary or XML property list; none when the bytes are not one.
Node parsedNode(std::string_view bytes) {
    if (!plistLibrary() || bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return nullptr;
    // XML cannot hold U+0000, and libplist's XML reader would keep a garbled string for it.
    if (!bytes.starts_with("bplist00") && bytes.find('\0') != std::string_view::npos)
        return nullptr;
    plist_t parsed = nullptr;
    plist().fromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
    Node root(parsed);
    if (holdsASCIIStringWithNUL(bytes))
        return nullptr;
    return root;
}

} // namespace

Result<std::string> binaryPropertyList(const std::string& string) {
    if (!isValidUTF8(string))
        return notUTF8();
    if (!plistLibrary())
        return libraryMissing();
    if (string.find('\0') == std::string::npos)
        return binary(Node(plist().newString(string.c_str())));
    return binaryPropertyListOfStringWithNUL(string);
}

Result<std::string> binaryPropertyList(const std::vector<std::string>& strings) {
    if (!allValidUTF8(strings))
        return notUTF8();
    if (!plistLibrary())
        return libraryMissing();
    Node array(plist().newArray());
    for (const std::string& string : strings)
        plist().arrayAppend(array.get(), plist().newString(string.c_str()));
    return binary(array);
}

Result<std::string> binaryPropertyListOfDates(const std::vector<double>& secondsSince1970) {
    if (!plistLibrary())
        return libraryMissing();
    Node array(plist().newArray());
    for (double seconds : secondsSince1970)
        plist().arrayAppend(array.get(), dateNode(seconds));
    return binary(array);
}

std::optional<PropertyListValue> parsePropertyList(std::string_view bytes) {
    const Node root = parsedNode(bytes);
    if (!root)
        return std::nullopt;
    plist_t parsed = root.get();

    PropertyListValue value;
    const plist_type type = plist().nodeType(parsed);
    if (type == PLIST_STRING) {
        std::optional<std::string> string = stringValue(parsed);
        if (!string)
            return std::nullopt;
        value.kind = PropertyListValue::Kind::string;
        value.string = std::move(*string);
        return value;
    }
    if (type != PLIST_ARRAY)
        return value;
    std::vector<std::string> strings;
    const uint32_t count = plist().arraySize(parsed);
    for (uint32_t index = 0; index < count; ++index) {
        plist_t item = plist().arrayItem(parsed, index);
        if (plist().nodeType(item) != PLIST_STRING)
            return value;
        std::optional<std::string> string = stringValue(item);
        if (!string)
            return std::nullopt;
        strings.push_back(std::move(*string));
    }
    value.kind = PropertyListValue::Kind::arrayOfStrings;
    value.strings = std::move(strings);
    return value;
}

std::optional<std::string> propertyListDictionaryString(std::string_view bytes,
                                                        const std::string& key) {
    const Node root = parsedNode(bytes);
    if (!root || plist().nodeType(root.get()) != PLIST_DICT)
        return std::nullopt;
    plist_t item = plist().dictionaryItem(root.get(), key.c_str());
    if (item == nullptr || plist().nodeType(item) != PLIST_STRING)
        return std::nullopt;
    return stringValue(item);
}

} // namespace brindle::platform
