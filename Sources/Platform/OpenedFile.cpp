#include "Platform/Files.h"

#include <fcntl.h>

namespace brindle::platform {

namespace {

class FileRefusalCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "file refusal"; }
    std::string message(int value) const override {
        switch (static_cast<FileRefusal>(value)) {
        case FileRefusal::notRegularFile:
            return "not a regular file";
        case FileRefusal::notOwnedByCurrentUser:
            return "not owned by the current user";
        }
        return "refused";
    }
};

} // namespace

std::error_code make_error_code(FileRefusal refusal) {
    static const FileRefusalCategory category;
    return {static_cast<int>(refusal), category};
}

Result<OpenedFile> openRegularFile(const std::string& path, RequiredOwner owner,
                                   LastLink lastLink) {
    const int linkFlag = lastLink == LastLink::refuse ? O_NOFOLLOW : 0;
    FileDescriptor descriptor(open(path.c_str(), O_RDONLY | O_NONBLOCK | linkFlag | O_CLOEXEC));
    if (!descriptor.isOpen())
        return lastErrnoCode();
    Result<FileStatus> status = fileStatus(descriptor);
    if (!status)
        return status.error();
    if (!status->isRegularFile())
        return FileRefusal::notRegularFile;
    if (owner == RequiredOwner::currentUser && !status->isOwnedByCurrentUser())
        return FileRefusal::notOwnedByCurrentUser;
    return OpenedFile{std::move(descriptor), *status};
}

} // namespace brindle::platform
