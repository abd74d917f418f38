#include "ResourceSourceHost/FinderRevealer.h"

#include "MetadataCore/RequestPath.h"
#include "Platform/DesktopServices.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"

namespace brindle {

FinderRevealResult FinderRevealer::revealFile(const std::string& path) const {
    if (!isUsableRequestPath(path))
        throw FinderRevealError::invalidPath();

    // Lexical only: ".." steps back over the name as written, links are not resolved. Whether
    // there is a file to show is judged through a link, though: a dangling one shows nothing,
    // and one to a folder would open the folder instead of selecting a file.
    const std::string standardized = platform::standardizedPath(path);
    const auto status = platform::fileStatusFollowingLinks(standardized);
    if (!status || status->isDirectory())
        return FinderRevealResult::missing();

    platform::showItemsInFileManager(standardized);
    return FinderRevealResult::revealed(standardized);
}

} // namespace brindle
