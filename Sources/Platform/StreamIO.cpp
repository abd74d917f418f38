#include "Platform/Processes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace brindle::platform {

namespace {

Result<> await(DescriptorRef pipe, short events) {
    const int termination = terminationDescriptor().get();
    if (termination < 0)
        return success();
    pollfd watch[2] = {{pipe.get(), events, 0}, {termination, POLLIN, 0}};
    int ready = 0;
    while ((ready = poll(watch, 2, -1)) < 0 && errno == EINTR) {
    }
    if (ready < 0)
        return lastErrnoCode();
    if (watch[1].revents != 0)
        throw TerminationRequested{};
    return success();
}

// A pipe that polls writable has room for this much at once: a larger write could block again.
std::size_t writableBytes(std::size_t remaining) {
    if (!terminationDescriptor().isOpen())
        return remaining;
    return std::min<std::size_t>(remaining, PIPE_BUF);
}

} // namespace

Result<> waitUntilReadable(DescriptorRef pipe) {
    return await(pipe, POLLIN);
}

Result<> waitUntilWritable(DescriptorRef pipe) {
    return await(pipe, POLLOUT);
}

Result<std::size_t> readSome(DescriptorRef input, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t count = read(input.get(), buffer, capacity);
        if (count >= 0)
            return static_cast<std::size_t>(count);
        if (errno != EINTR)
            return lastErrnoCode();
    }
}

Result<> writeAllWaiting(DescriptorRef pipe, std::string_view bytes) {
    while (!bytes.empty()) {
        if (Result<> room = waitUntilWritable(pipe); !room)
            return room.error();
        const ssize_t written = write(pipe.get(), bytes.data(), writableBytes(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return lastErrnoCode();
        if (written == 0)
            return errnoCode(EPIPE);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return success();
}

void ignoreBrokenPipeSignals() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace brindle::platform
