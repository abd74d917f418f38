// tmpfs to ext4 refuses the kernel's own copy (EXDEV), a destination opened for appending refuses
// sendfile (EINVAL): each must give way to the next way, and the copy end where the source does.

#include "Platform/Files.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>

namespace brindle::testing {

TEST(FileDataCopy, EveryWayCopiesTheWholeSourceAndGivesWayWhenRefused) {
    TemporaryDirectory shm("/dev/shm"), disk;
    std::string bytes((9 << 20) + 3, '\0'); // over one piece, not a whole number of buffers
    for (size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<char>(index * 7919 >> 5);
    writeFile(shm.file("source"), bytes);
    using enum platform::FileDataTransfer;
    for (const auto& [first, flags] : {std::pair{kernelCopy, 0}, {kernelSend, O_APPEND}}) {
        const platform::FileDescriptor from(open(shm.file("source").c_str(), O_RDONLY)),
            to(open(disk.file("copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC | flags, 0600));
        // A larger size expected is a source that shrank after it was opened.
        EXPECT_TRUE(platform::copyFileData(from, to, bytes.size() + 4096, first));
        EXPECT_TRUE(readFile(disk.file("copy")) == bytes) << int(first);
    }
}

} // namespace brindle::testing
