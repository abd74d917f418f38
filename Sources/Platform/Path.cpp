#include "Platform/PathsAndText.h"

#include <climits>
#include <unistd.h>
#include <vector>

namespace brindle::platform {

std::string standardizedPath(std::string_view path) {
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> components;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (!components.empty() && components.back() != "..")
                components.pop_back();
            else if (!absolute)
                components.push_back(component);
            continue;
        }
        components.push_back(component);
    }

    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < components.size(); ++i) {
        if (i > 0)
            result += '/';
        result += components[i];
    }
    if (result.empty())
        return std::string(".");
    return result;
}

std::string appendingPathComponent(std::string_view directory, std::string_view component) {
    std::string result(directory);
    if (result.empty() || result.back() != '/')
        result += '/';
    result += component;
    return result;
}

std::string deletingLastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() == 1)
        return std::string(path);
    return std::string(path.substr(slash + 1));
}

std::string absoluteStandardizedPath(std::string_view path) {
    if (!path.empty() && path.front() == '/')
        return standardizedPath(path);
    char directory[PATH_MAX];
    if (getcwd(directory, sizeof directory) == nullptr)
        return standardizedPath(path);
    return standardizedPath(appendingPathComponent(directory, path));
}

} // namespace brindle::platform
