#include "Platform/Files.h"

#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace brindle::platform {
namespace {

std::string temporaryDirectory() {
    const std::optional<std::string> variable = environmentValue("TMPDIR");
    if (variable && !variable->empty() && variable->front() == '/')
        return *variable;
    return "/tmp";
}

Result<std::string> readFrom(int descriptor, off_t offset) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = pread(descriptor, buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return lastErrnoCode();
        if (count == 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(count));
        offset += count;
    }
}

} // namespace

Result<ScratchFile> ScratchFile::create(const std::string& name) {
    std::string path = appendingPathComponent(temporaryDirectory(), name);
    processJournal::noteTemporaryFile(path);
    FileDescriptor descriptor(
        open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!descriptor.isOpen())
        return lastErrnoCode();
    return ScratchFile(std::move(descriptor), std::move(path));
}

ScratchFile::~ScratchFile() {
    if (!path_.empty())
        unlink(path_.c_str());
}

Result<std::string> ScratchFile::contents() const {
    return readFrom(descriptor_.get(), 0);
}

Result<std::string> ScratchFile::lastLines(std::size_t maximumBytes) const {
    const Result<FileStatus> status = fileStatus(descriptor_);
    if (!status)
        return status.error();
    if (static_cast<std::size_t>(status->size) <= maximumBytes)
        return contents();
    Result<std::string> tail =
        readFrom(descriptor_.get(), static_cast<off_t>(status->size - maximumBytes));
    if (tail) {
        const std::size_t lineEnd = tail->find('\n');
        tail->erase(0, lineEnd == std::string::npos ? tail->size() : lineEnd + 1);
    }
    return tail;
}

Result<std::optional<std::string>>
ScratchFile::firstLineContaining(const std::vector<std::string>& texts,
                                 std::size_t lineBytes) const {
    const auto matches = [&](const std::string& line) {
        return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
            return line.find(text) != std::string::npos;
        });
    };
    std::string line;
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t count = pread(descriptor_.get(), buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return lastErrnoCode();
        if (count == 0)
            return matches(line) ? std::optional(line) : std::nullopt;
        offset += count;
        for (const char c : std::string_view(buffer, static_cast<std::size_t>(count))) {
            if (c != '\n') {
                if (line.size() < lineBytes)
                    line += c;
                continue;
            }
            if (matches(line))
                return std::optional(line);
            line.clear();
        }
    }
}

} // namespace brindle::platform
