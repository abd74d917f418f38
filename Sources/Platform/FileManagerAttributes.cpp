#include "Platform/FileManagerAttributes.h"

namespace brindle::platform {

namespace {

constexpr const char* originURLAttribute = "user.xdg.origin.url";
constexpr const char* commentAttribute = "user.xdg.comment";
constexpr const char* tagsAttribute = "user.xdg.tags";
constexpr std::string_view escapedComma = "%2C";

std::string escapedTagName(std::string_view name) {
    std::string escaped;
    for (char character : name) {
        if (character == ',')
            escaped += escapedComma;
        else
            escaped += character;
    }
    return escaped;
}

std::string unescapedTagName(std::string_view name) {
    std::string unescaped;
    size_t start = 0;
    while (true) {
        const size_t escape = name.find(escapedComma, start);
        unescaped += name.substr(start, escape - start);
        if (escape == std::string_view::npos)
            return unescaped;
        unescaped += ',';
        start = escape + escapedComma.size();
    }
}

} // namespace

int setFileManagerOriginURL(int descriptor, std::string_view url) {
    return setStoredAttribute(descriptor, originURLAttribute, url);
}

AttributeRead<std::string> fileManagerComment(int descriptor) {
    return readStoredAttribute(descriptor, commentAttribute);
}

int setFileManagerComment(int descriptor, std::string_view comment) {
    return setStoredAttribute(descriptor, commentAttribute, comment);
}

AttributeRead<std::vector<std::string>> fileManagerTags(int descriptor) {
    const AttributeRead<std::string> stored = readStoredAttribute(descriptor, tagsAttribute);
    if (stored.error != 0 || !stored.value)
        return {stored.error, std::nullopt};
    std::vector<std::string> names;
    std::string_view list = *stored.value;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        if (!name.empty())
            names.push_back(unescapedTagName(name));
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return {0, names};
}

int setFileManagerTags(int descriptor, const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        if (!list.empty())
            list += ',';
        list += escapedTagName(name);
    }
    return setStoredAttribute(descriptor, tagsAttribute, list);
}

} // namespace brindle::platform
