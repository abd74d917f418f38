#include "Platform/Files.h"

#include "Platform/PathsAndText.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::platform {

namespace {

Result<> fillAndFlush(FileDescriptor& file, std::string_view contents, mode_t permissions,
                      Durability durability) {
    if (Result<> written = writeAll(file, contents); !written)
        return written;
    // The umask narrowed the mode mkostemp used; the file gets exactly what was asked for.
    if (Result<> changed = setPermissions(file, permissions); !changed)
        return changed;
    if (durability == Durability::flushedToStorage) {
        if (Result<> flushed = synchronize(file); !flushed)
            return flushed;
    }
    if (const int error = file.close())
        return errnoCode(error);
    return success();
}

} // namespace

Result<std::string> readHead(DescriptorRef file, std::size_t length) {
    std::string bytes(length, '\0');
    std::size_t filled = 0;
    while (filled < length) {
        const ssize_t count =
            pread(file.get(), bytes.data() + filled, length - filled, static_cast<off_t>(filled));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return lastErrnoCode();
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

Result<> writeFileAtomically(const std::string& path, std::string_view contents, mode_t permissions,
                             Durability durability) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "." + name + "...".
    std::string temporaryName = ".";
    temporaryName += lastPathComponent(path);
    temporaryName += ".XXXXXX";
    std::string temporaryPath =
        appendingPathComponent(deletingLastPathComponent(path), temporaryName);
    FileDescriptor file(mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (!file.isOpen())
        return lastErrnoCode();
    Result<> result = fillAndFlush(file, contents, permissions, durability);
    if (result && rename(temporaryPath.c_str(), path.c_str()) != 0)
        result = lastErrnoCode();
    if (!result)
        unlink(temporaryPath.c_str());
    return result;
}

} // namespace brindle::platform
