// The probe against the built host and against stand-ins written as small shell scripts.

#include "CompanionCore/NativeHostProbe.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

// What the probe ends with: the version, or the error's message.
std::string outcome(const std::string& executable) {
    try {
        return "version " + NativeHostProbe::version(executable);
    } catch (const std::exception& error) {
        return error.what();
    }
}

TEST(NativeHostProbe, ReportsTheVersionOrWhyNot) {
    struct Row {
        std::string name;
        std::string reply; // what the stand-in writes after reading the request
        std::string expected;
    };
    const std::string invalid = "本机组件返回了无效信息";
    const std::vector<Row> rows = {
        {"version", frame(R"({"ok":true,"version":"9.1"})"), "version 9.1"},
        {"no version", frame(R"({"ok":true})"), "version 0.8.13"},
        {"rejected", frame(R"({"ok":false,"error":"坏了"})"), "坏了"},
        {"rejected without reason", frame(R"({"ok":"yes"})"), "本机组件自检失败"},
        {"not an object", frame("[true]"), invalid},
        {"garbage", "hello, this is no frame", invalid},
        {"garbage in a frame", frame("{nope"), "syntax error"},
        {"short frame", frameLength(100) + std::string(20, 'x'), invalid},
        {"zero length", frameLength(0), invalid},
        {"nothing", "", invalid},
    };
    TemporaryDirectory folder;
    for (size_t index = 0; index < rows.size(); ++index) {
        const std::string reply = folder.file("reply" + std::to_string(index));
        const std::string host = folder.file("host" + std::to_string(index));
        writeFile(reply, rows[index].reply);
        writeFile(host, "#!/bin/sh\nhead -c 21 > /dev/null\ncat '" + reply + "'\n", 0755);
        EXPECT_EQ(outcome(host), rows[index].expected) << rows[index].name;
    }
    EXPECT_EQ(outcome(BRINDLE_HOST_PATH), "version 0.8.13");
    // Gone before the request is written, or after: the same answer either way.
    writeFile(folder.file("gone"), "#!/bin/sh\n", 0755);
    EXPECT_EQ(outcome(folder.file("gone")), invalid);
    writeFile(folder.file("not-executable"), "#!/bin/sh\n", 0644);
    EXPECT_EQ(outcome(folder.file("not-executable")), "本机组件无法启动：Permission denied");
    EXPECT_EQ(outcome(folder.file("missing")), "本机组件无法启动：No such file or directory");
}

TEST(NativeHostProbe, TerminatesAndReapsAHostThatNeverAnswers) {
    TemporaryDirectory folder;
    const std::string host = folder.file("host");
    writeFile(host, "#!/bin/sh\necho $$ > '" + folder.file("pid") + "'\nexec sleep 60\n", 0755);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome(host), "本机组件没有及时响应");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(3900));
    EXPECT_LT(elapsed, std::chrono::milliseconds(5500));
    const pid_t pid = std::stoi(readFile(folder.file("pid")));
    EXPECT_NE(kill(pid, 0), 0) << "the stand-in still exists (running or a zombie)";
}

} // namespace
} // namespace brindle::testing
