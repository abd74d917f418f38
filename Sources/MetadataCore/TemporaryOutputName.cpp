#include "TemporaryOutputName.h"

#include "MetadataCore/RequestPath.h"
#include "Platform/PathsAndText.h"

namespace brindle {

std::string temporaryOutputName(const std::string& path, const std::string& extension) {
    const std::string uuid = platform::randomUUIDString();
    const std::size_t room = maximumFilenameBytes - (1 + 1 + uuid.size() + 1 + extension.size());
    std::string name = platform::lastPathComponent(path);
    if (name.size() > room) {
        std::size_t cut = 0;
        for (const std::size_t end : platform::characterEnds(name))
            cut = end <= room ? end : cut;
        name.resize(cut);
    }
    return "." + name + "." + uuid + "." + extension;
}

bool isTemporaryName(std::string_view name) {
    if (name.starts_with(".brindle-"))
        return true;
    const std::size_t extension = name.rfind('.');
    constexpr std::size_t uuidLength = platform::uuidStringLength;
    if (!name.starts_with('.') || extension == std::string_view::npos ||
        extension < uuidLength + 2 || name[extension - uuidLength - 1] != '.')
        return false;
    return platform::isUUIDString(name.substr(extension - uuidLength, uuidLength));
}

} // namespace brindle
