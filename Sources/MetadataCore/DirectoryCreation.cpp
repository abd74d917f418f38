#include "MetadataCore/DirectoryCreation.h"

#include "Platform/Files.h"
#include "Platform/Result.h"

namespace brindle {

DirectoryCreationError::DirectoryCreationError(const std::string& path, int errorNumber)
    : errorNumber_(errorNumber),
      message_("无法创建文件夹“" + path + "”：" + platform::errnoDescription(errorNumber)) {}

namespace {

void createOneDirectory(const std::string& path, unsigned permissions) {
    if (const platform::Result<> created = platform::createDirectory(path, permissions); !created)
        throw DirectoryCreationError(path, created.error().value());
}

} // namespace

void createDirectoryWithIntermediates(const std::string& path, unsigned permissions) {
    if (path.empty())
        throw DirectoryCreationError(path, std::errc::no_such_file_or_directory);
    if (const auto status = platform::fileStatusFollowingLinks(path);
        status && status->isDirectory())
        return;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (path[slash - 1] == '/')
            continue;
        createOneDirectory(path.substr(0, slash), permissions);
    }
    if (path.back() != '/')
        createOneDirectory(path, permissions);
}

} // namespace brindle
