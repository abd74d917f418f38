#include "Platform/Processes.h"

#include "Platform/Files.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <set>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace brindle::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

std::optional<std::string> readSmallFile(const std::string& path) {
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen())
        return std::nullopt;
    char buffer[4096];
    const ssize_t count = read(file.get(), buffer, sizeof buffer);
    if (count < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(count));
}

std::uint64_t field(std::string_view text, std::string_view name) {
    const std::size_t start = text.find(name);
    std::uint64_t value = 0;
    if (start != std::string_view::npos)
        std::from_chars(text.data() + start + name.size(), text.data() + text.size(), value);
    return value;
}

// The inode numbers of the sockets the process holds, from "socket:[N]" in /proc/PID/fd.
std::set<ino_t> socketInodes(pid_t pid) {
    std::set<ino_t> inodes;
    const Result<Directory> folder = openDirectory("/proc/" + std::to_string(pid) + "/fd");
    if (!folder)
        return inodes;
    const Result<std::vector<DirectoryEntry>> entries = directoryEntries(*folder);
    if (!entries)
        return inodes;
    constexpr std::string_view prefix = "socket:[";
    for (const DirectoryEntry& entry : *entries) {
        char target[64];
        const ssize_t length = readlinkat(folder->get(), entry.name.c_str(), target, sizeof target);
        const std::string_view link(target, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
        ino_t inode = 0;
        if (link.starts_with(prefix) &&
            std::from_chars(link.data() + prefix.size(), link.data() + link.size(), inode).ec ==
                std::errc())
            inodes.insert(inode);
    }
    return inodes;
}

std::uint64_t bytesReceived(const inet_diag_msg& socket, std::size_t length) {
    std::size_t left = length - NLMSG_ALIGN(sizeof socket);
    for (const rtattr* attribute = reinterpret_cast<const rtattr*>(&socket + 1);
         RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        constexpr std::size_t needed =
            offsetof(tcp_info, tcpi_bytes_received) + sizeof(tcp_info::tcpi_bytes_received);
        if (attribute->rta_type != INET_DIAG_INFO || RTA_PAYLOAD(attribute) < needed)
            continue;
        std::uint64_t value = 0;
        std::memcpy(&value,
                    static_cast<const char*>(RTA_DATA(attribute)) +
                        offsetof(tcp_info, tcpi_bytes_received),
                    sizeof value);
        return value;
    }
    return 0;
}

// What has arrived on the TCP sockets among `inodes` of one address family, from the kernel's
// socket diagnostics, which any user may ask about the connections of the network namespace.
std::uint64_t bytesReceived(const std::set<ino_t>& inodes, int family) {
    const FileDescriptor diagnostics(
        socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } question{};
    question.header.nlmsg_len = sizeof question;
    question.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    question.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    question.request.sdiag_family = static_cast<__u8>(family);
    question.request.sdiag_protocol = IPPROTO_TCP;
    question.request.idiag_states = ~0U;
    question.request.idiag_ext = 1 << (INET_DIAG_INFO - 1);
    if (!diagnostics.isOpen() ||
        send(diagnostics.get(), &question, sizeof question, 0) != sizeof question)
        return 0;

    std::uint64_t total = 0;
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        const ssize_t count = recv(diagnostics.get(), buffer, sizeof buffer, 0);
        if (count <= 0)
            return total;
        std::size_t left = static_cast<std::size_t>(count);
        for (const nlmsghdr* message = reinterpret_cast<const nlmsghdr*>(buffer);
             NLMSG_OK(message, left); message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR)
                return total;
            const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
            if (message->nlmsg_len >= NLMSG_LENGTH(sizeof *socket) &&
                inodes.contains(socket->idiag_inode))
                total += bytesReceived(*socket, message->nlmsg_len - NLMSG_LENGTH(0));
        }
    }
}

} // namespace

// /proc/PID/io counts what read() and write() carry, which covers a tool's files, but not what
// recv() takes from a socket, which is how FFmpeg reads the network: that is counted on the
// sockets themselves instead.
std::optional<std::uint64_t> processActivity(pid_t pid) {
    const auto io = readSmallFile("/proc/" + std::to_string(pid) + "/io");
    if (!io)
        return std::nullopt;
    std::uint64_t activity = field(*io, "rchar: ") + field(*io, "wchar: ");
    if (const std::set<ino_t> inodes = socketInodes(pid); !inodes.empty())
        activity += bytesReceived(inodes, AF_INET) + bytesReceived(inodes, AF_INET6);
    return activity;
}

WatchedExit waitWhileActive(ChildProcess& child, Milliseconds stallLimit) {
    // Often enough to end a stalled child within a few percent of the limit; at most once a
    // second, as each look lists the machine's TCP connections.
    const Milliseconds interval = std::clamp(stallLimit / 16, Milliseconds(5), Milliseconds(1000));
    std::optional<std::uint64_t> activity = processActivity(child.processIdentifier());
    Clock::time_point lastMoved = Clock::now();
    for (;;) {
        if (const auto exit = child.waitForExit(interval))
            return {*exit, false};
        const std::optional<std::uint64_t> now = processActivity(child.processIdentifier());
        if (!now || now != activity) {
            activity = now;
            lastMoved = Clock::now();
        } else if (Clock::now() - lastMoved >= stallLimit) {
            return {child.kill(), true};
        }
    }
}

} // namespace brindle::platform
