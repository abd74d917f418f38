// Copies between real file systems: tmpfs to ext4 refuses the kernel's own copy (EXDEV) and a
// destination opened for appending refuses sendfile (EINVAL); each must give way to the next.

#include "Platform/FileDataCopy.h"
#include "Platform/FileDescriptor.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>

namespace brindle::testing {
namespace {

using platform::FileDataTransfer;

TEST(FileDataCopy, EveryWayCopiesTheWholeSourceAndGivesWayWhenRefused) {
    TemporaryDirectory shm("/dev/shm"), disk;
    // Over one piece of 8 MiB, and not a whole number of buffers.
    std::string bytes((9 << 20) + 3, '\0');
    std::mt19937 random(7);
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    writeFile(shm.file("source"), bytes);
    struct Case {
        FileDataTransfer first;
        int extraFlags;
        std::int64_t expectedSize;
    };
    // An expected size beyond the end is a source that shrank after it was opened.
    for (const auto& [first, extraFlags, expectedSize] :
         {Case{FileDataTransfer::kernelCopy, 0, std::int64_t(bytes.size())},
          Case{FileDataTransfer::kernelSend, O_APPEND, std::int64_t(bytes.size()) + (1 << 20)},
          Case{FileDataTransfer::readWrite, 0, 0}}) {
        const platform::FileDescriptor from(open(shm.file("source").c_str(), O_RDONLY | O_CLOEXEC));
        const std::string copy = disk.file("copy");
        const platform::FileDescriptor to(
            open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | extraFlags, 0600));
        EXPECT_TRUE(platform::copyFileData(from.get(), to.get(), expectedSize, first))
            << int(first);
        EXPECT_TRUE(readFile(copy) == bytes) << int(first);
        unlink(copy.c_str());
    }
}

} // namespace
} // namespace brindle::testing
