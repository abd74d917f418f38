#pragma once

#include <boost/json/object.hpp>

#include <optional>
#include <string>

namespace brindle::testing {

/// A file's download attributes as an independent reader sees them (Python's os.getxattr and
/// plistlib): "whereFroms" (array of strings), "downloadedDate" (array of seconds since 1970),
/// "comment" (string), each present only when the attribute is, plus "binary" (false when one
/// of them is not a binary property list); and the file manager's "origin", "xdgComment" and
/// "tags" as raw text.
boost::json::object readAttributesIndependently(const std::string& path);

/// A binary property list of one UTF-16 string, "a", U+0000, "b", as any program may store one.
inline const std::string utf16StringWithNUL =
    std::string("bplist00\x63\0a\0\0\0b\x08", 16) +
    std::string("\0\0\0\0\0\0\1\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x0f", 32);

/// Sets a raw extended attribute (full Linux name) on a path, without following a link.
void setRawAttribute(const std::string& path, const std::string& name, const std::string& value);

/// A raw extended attribute of a path (not following a link), or nothing when it has none.
std::optional<std::string> rawAttribute(const std::string& path, const std::string& name);

} // namespace brindle::testing
