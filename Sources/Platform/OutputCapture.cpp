#include "Platform/OutputCapture.h"

#include "Platform/FileContents.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace brindle::platform {

// The file is given its full size at once and sealed against growing: writes fill it from the
// start (the child shares the descriptor's offset) and fail once they would pass its end.
Result<FileDescriptor> createOutputCapture(std::size_t capacity) {
    FileDescriptor file(memfd_create("child-output", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!file.isOpen())
        return lastErrnoCode();
    if (ftruncate(file.get(), static_cast<off_t>(capacity)) != 0 ||
        fcntl(file.get(), F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0)
        return lastErrnoCode();
    return file;
}

Result<std::string> capturedOutput(int descriptor) {
    const off_t written = lseek(descriptor, 0, SEEK_CUR);
    if (written < 0)
        return lastErrnoCode();
    return readHead(descriptor, static_cast<std::size_t>(written));
}

} // namespace brindle::platform
