#pragma once

#include <string>
#include <string_view>

namespace brindle::platform {

/// Resolves "." and ".." components and repeated slashes without touching the disk, the way a
/// file URL is standardised. A trailing slash is dropped (except for the root itself).
std::string standardizedPath(std::string_view path);

/// `standardizedPath` of the path, a relative one first taken from the current directory (as a
/// file URL is made from a path). Without a current directory, a relative path stays relative.
std::string absoluteStandardizedPath(std::string_view path);

/// `directory` + "/" + `component`, with exactly one slash between them.
std::string appendingPathComponent(std::string_view directory, std::string_view component);

/// The path without its last component ("/a/b/c" -> "/a/b", "/a" -> "/").
std::string deletingLastPathComponent(std::string_view path);

/// The last component ("/a/b/c" -> "c").
std::string lastPathComponent(std::string_view path);

} // namespace brindle::platform
