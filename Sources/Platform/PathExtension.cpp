#include "Platform/PathsAndText.h"

#include <optional>

namespace brindle::platform {
namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// Offset of the dot that starts the extension. A dot that begins the last component marks a
// hidden file, not an extension, and ".." has none either.
std::optional<std::size_t> extensionDot(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t componentStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < componentStart || dot == componentStart)
        return std::nullopt;
    const bool isDotDot =
        dot == path.size() - 1 && dot == componentStart + 1 && path[componentStart] == '.';
    if (isDotDot)
        return std::nullopt;
    return dot;
}

} // namespace

std::string pathExtension(std::string_view path) {
    path = withoutTrailingSlashes(path);
    if (path.size() <= 1)
        return {};
    const auto dot = extensionDot(path);
    if (!dot)
        return {};
    return std::string(path.substr(*dot + 1));
}

std::string deletingPathExtension(std::string_view path) {
    path = withoutTrailingSlashes(path);
    if (path == "/")
        return std::string(path);
    const auto dot = extensionDot(path);
    if (!dot)
        return std::string(path);
    return std::string(path.substr(0, *dot));
}

} // namespace brindle::platform
