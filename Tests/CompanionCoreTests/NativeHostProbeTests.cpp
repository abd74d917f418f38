// The probe against the built host and against one stand-in that reads the request and answers
// with its reply file, leaves at once without one, and never answers when it is a pipe (having
// started a program of its own).

#include "CompanionCore/NativeHostProbe.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace brindle::testing {
namespace {

// What the probe ends with: the version, or the error's message.
std::string outcome(const std::string& executable,
                    std::chrono::milliseconds timeout = std::chrono::seconds(4)) {
    try {
        return "version " + NativeHostProbe::version(executable, timeout);
    } catch (const std::exception& error) {
        return error.what();
    }
}

TEST(NativeHostProbe, ReportsTheVersionOrWhyNot) {
    const std::string invalid = "本机组件返回了无效信息";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {frame(R"({"ok":true,"version":"9.1"})"), "version 9.1"},
        {frame(R"({"ok":true})"), "version 0.8.13"},
        {frame(R"({"ok":false,"error":"坏了"})"), "坏了"},
        {frame(R"({"ok":"yes"})"), "本机组件自检失败"},
        {"hello, this is no frame", invalid},
        {frame("{nope"), "syntax error"},
    };
    TemporaryDirectory folder;
    const std::string host = folder.file("host");
    writeFile(host,
              "#!/bin/sh\necho $$ > \"$0.pid\"\ntest -e \"$0.reply\" || exit\n"
              "test -p \"$0.reply\" && { sleep 60 & echo $! > \"$0.child\"; }\n"
              "head -c 21 > /dev/null\nexec cat \"$0.reply\"\n",
              0755);
    for (const auto& [reply, expected] : rows) {
        writeFile(host + ".reply", reply);
        EXPECT_EQ(outcome(host), expected) << reply;
    }
    EXPECT_EQ(outcome(BRINDLE_HOST_PATH), "version 0.8.13");
    // Gone before the request is written, or after: the same answer either way.
    std::filesystem::remove(host + ".reply");
    EXPECT_EQ(outcome(host), invalid);

    // One that never answers is ended and reaped, and what it started ends with it.
    mkfifo((host + ".reply").c_str(), 0600);
    const auto timeout = std::chrono::milliseconds(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(host, timeout), "本机组件没有及时响应");
    EXPECT_GE(std::chrono::steady_clock::now() - start, timeout);
    EXPECT_NE(kill(std::stoi(readFile(host + ".pid")), 0), 0) << "still there, running or a zombie";
    // The orphan is reaped by whoever adopted it, in its own time: gone or a zombie will do.
    const std::string child = "/proc/" + std::to_string(std::stoi(readFile(host + ".child")));
    const auto running = [&] {
        const std::string status = readFile(child + "/stat");
        return !status.empty() && status.find(") Z") == std::string::npos;
    };
    for (int tries = 0; tries < 200 && running(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(running()) << "the host's own child is still running";

    EXPECT_EQ(outcome(folder.file("missing")), "本机组件无法启动：No such file or directory");
}

} // namespace
} // namespace brindle::testing
