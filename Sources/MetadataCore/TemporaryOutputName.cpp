#include "TemporaryOutputName.h"

#include "MetadataCore/RequestPath.h"
#include "Platform/Path.h"
#include "Platform/ProcessJournal.h"
#include "Platform/RandomUUID.h"
#include "Platform/Text.h"

#include <vector>

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

std::string temporaryOutputPath(const std::string& path, const std::string& extension) {
    std::string temporary = platform::appendingPathComponent(
        platform::deletingLastPathComponent(path), temporaryOutputName(path, extension));
    platform::processJournal::noteTemporaryFile(temporary);
    return temporary;
}

} // namespace brindle
