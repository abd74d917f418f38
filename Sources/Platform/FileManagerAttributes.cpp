#include "Platform/Attributes.h"

namespace brindle::platform {

namespace {

constexpr const char* originURLAttribute = "user.xdg.origin.url";
constexpr const char* commentAttribute = "user.xdg.comment";
constexpr const char* tagsAttribute = "user.xdg.tags";

// "%" is escaped as well, so that a name holding "%2C" itself reads back as it was.
std::string escapedTagName(std::string_view name) {
    std::string escaped;
    for (char character : name) {
        if (character == '%')
            escaped += "%25";
        else if (character == ',')
            escaped += "%2C";
        else
            escaped += character;
    }
    return escaped;
}

// One pass from left to right, so "%252C" reads as "%2C".
std::string unescapedTagName(std::string_view name) {
    std::string unescaped;
    for (size_t index = 0; index < name.size(); ++index) {
        const std::string_view rest = name.substr(index);
        if (rest.starts_with("%25") || rest.starts_with("%2C")) {
            unescaped += rest[2] == '5' ? '%' : ',';
            index += 2;
        } else {
            unescaped += name[index];
        }
    }
    return unescaped;
}

} // namespace

Result<> setFileManagerOriginURL(DescriptorRef file, std::string_view url) {
    return setStoredAttribute(file, originURLAttribute, url);
}

Result<AttributeValue> fileManagerComment(DescriptorRef file) {
    return readStoredAttribute(file, commentAttribute);
}

Result<> setFileManagerComment(DescriptorRef file, std::string_view comment) {
    return setStoredAttribute(file, commentAttribute, comment);
}

Result<> removeFileManagerComment(DescriptorRef file) {
    return removeStoredAttribute(file, commentAttribute);
}

Result<std::vector<std::string>> fileManagerTags(DescriptorRef file) {
    const Result<AttributeValue> stored = readStoredAttribute(file, tagsAttribute);
    if (!stored)
        return stored.error();
    std::vector<std::string> names;
    const std::string storedList = stored->value_or("");
    std::string_view list = storedList;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        if (!name.empty())
            names.push_back(unescapedTagName(name));
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return names;
}

Result<> setFileManagerTags(DescriptorRef file, const std::vector<std::string>& names) {
    if (names.empty())
        return removeStoredAttribute(file, tagsAttribute);
    std::string list;
    for (const std::string& name : names) {
        if (!list.empty())
            list += ',';
        list += escapedTagName(name);
    }
    return setStoredAttribute(file, tagsAttribute, list);
}

} // namespace brindle::platform
