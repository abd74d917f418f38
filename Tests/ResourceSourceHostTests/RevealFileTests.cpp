// "revealFile" through the built host, on a private session bus whose file manager records what
// it was asked to show.

#include "ResourceSourceHost/FinderRevealer.h"
#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;

constexpr const char* fileManagerName = "org.freedesktop.FileManager1";

/// A session bus of its own for each host run (dbus-run-session). With a file manager, the bus
/// starts the recording stand-in on the first call to it; it goes away with the bus.
class PrivateSessionBus {
public:
    explicit PrivateSessionBus(bool withFileManager) {
        mkdir(directory_.file("services").c_str(), 0700);
        writeFile(directory_.file("bus.conf"), configuration());
        if (!withFileManager)
            return;
        writeFile(directory_.file("services/") + fileManagerName + ".service",
                  std::string("[D-BUS Service]\nName=") + fileManagerName +
                      "\nExec=/usr/bin/python3 " BRINDLE_FILE_MANAGER_RECORDER " " + recordPath() +
                      "\n");
    }

    /// Runs the host on this bus; it must exit 0 and write nothing to standard error.
    std::vector<object> exchange(const std::vector<object>& requests) const {
        std::string input;
        for (const auto& request : requests)
            input += frameJSON(request);
        const std::string hostErrors = directory_.file("host-stderr");
        ProcessOptions options;
        // The daemon has its own standard error; only the host's is checked.
        options.arguments = {"--config-file=" + directory_.file("bus.conf"),
                             "--",
                             "/bin/sh",
                             "-c",
                             R"(exec "$0" 2>"$1")",
                             BRINDLE_HOST_PATH,
                             hostErrors};
        const ProcessResult result = runProcess("/usr/bin/dbus-run-session", input, options);
        EXPECT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(readFile(hostErrors), "");
        return parseFrames(result.standardOutput);
    }

    /// Each ShowItems call the file manager received: {"uris": [...], "startupId": "..."}.
    std::vector<object> recordedCalls() const {
        std::vector<object> calls;
        std::istringstream lines(readFile(recordPath()));
        for (std::string line; std::getline(lines, line);)
            calls.push_back(boost::json::parse(line).as_object());
        return calls;
    }

private:
    std::string recordPath() const { return directory_.file("show-items.jsonl"); }

    std::string configuration() const {
        return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=)" +
               directory_.path() + R"(</listen>
  <auth>EXTERNAL</auth>
  <servicedir>)" +
               directory_.file("services") + R"(</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    }

    TemporaryDirectory directory_;
};

object revealReply(const std::string& path) {
    return {{"ok", true}, {"revealed", true}, {"path", path}};
}

const object missingReply{{"ok", true}, {"revealed", false}, {"missing", true}};

// The expected URIs below spell the temporary folder literally.
bool isPlainPath(const std::string& path) {
    return path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                  "0123456789/-_.") == std::string::npos;
}

TEST(RevealFile, FileManagerIsAskedToShowThePercentEncodedFileURI) {
    TemporaryDirectory files;
    ASSERT_TRUE(isPlainPath(files.path())) << files.path();
    mkdir(files.file("Saved images").c_str(), 0700);
    const std::string path = files.file("Saved images/图 1 ü%#?;~.png");
    writeFile(path, "png");
    PrivateSessionBus bus(true);

    EXPECT_EQ(bus.exchange({{{"action", "revealFile"}, {"path", path}}}),
              std::vector<object>{revealReply(path)});
    const object expected{
        {"uris",
         {"file://" + files.path() + "/Saved%20images/%E5%9B%BE%201%20%C3%BC%25%23%3F%3B~.png"}},
        {"startupId", ""},
    };
    EXPECT_EQ(bus.recordedCalls(), std::vector<object>{expected});
}

TEST(RevealFile, DotComponentsAreStandardisedBeforeShowingAndReporting) {
    TemporaryDirectory files;
    ASSERT_TRUE(isPlainPath(files.path())) << files.path();
    mkdir(files.file("sub").c_str(), 0700);
    writeFile(files.file("a.txt"), "a");
    PrivateSessionBus bus(true);

    const auto replies = bus.exchange({
        {{"action", "revealFile"}, {"path", files.path() + "/./a.txt"}},
        {{"action", "revealFile"}, {"path", files.path() + "/sub/../a.txt"}},
    });
    EXPECT_EQ(replies, (std::vector<object>{revealReply(files.file("a.txt")),
                                            revealReply(files.file("a.txt"))}));
    const auto calls = bus.recordedCalls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls)
        EXPECT_EQ(call.at("uris"), boost::json::array{"file://" + files.file("a.txt")});
}

TEST(RevealFile, MissingFilesAndFoldersAreReportedMissingAndNotShown) {
    TemporaryDirectory files;
    writeFile(files.file("gone-soon"), "");
    PrivateSessionBus bus(true);

    const auto replies = bus.exchange({
        {{"action", "revealFile"}, {"path", files.file("never-there.png")}},
        {{"action", "revealFile"}, {"path", files.path()}},
        {{"action", "revealFile"}, {"path", files.path() + "/"}},
        // ".." is lexical: it steps back over "gone-soon" even though that is a file.
        {{"action", "revealFile"}, {"path", files.file("gone-soon/..")}},
    });
    EXPECT_EQ(replies, std::vector<object>(4, missingReply));
    EXPECT_TRUE(bus.recordedCalls().empty());
}

TEST(RevealFile, UnusablePathsAreRefused) {
    const object invalid{{"ok", false}, {"error", "Finder 定位路径无效"}};
    const auto replies = exchange({
        {{"action", "revealFile"}, {"path", "relative/file.png"}},
        {{"action", "revealFile"}, {"path", "./file.png"}},
        {{"action", "revealFile"}, {"path", std::string("/tmp/a\0b", 8)}},
        {{"action", "revealFile"}, {"path", "/" + std::string(8192, 'a')}},
        {{"action", "revealFile"}, {"path", ""}},
        {{"action", "revealFile"}, {"path", 7}},
    });
    const object missingField{{"ok", false}, {"error", "缺少字段：path"}};
    EXPECT_EQ(replies, (std::vector<object>{invalid, invalid, invalid, invalid, missingField,
                                            missingField}));
    // The reader turns an empty path into a missing field before the revealer sees it; the
    // revealer refuses it on its own as well.
    try {
        FinderRevealer{}.revealFile("");
        ADD_FAILURE() << "an empty path was accepted";
    } catch (const FinderRevealError& error) {
        EXPECT_STREQ(error.what(), "Finder 定位路径无效");
    }
}

TEST(RevealFile, LongestUsablePathIsExamined) {
    // 8192 bytes in all: accepted as a path, and simply not there.
    const std::string path = "/" + std::string(8191, 'a');
    EXPECT_EQ(exchange({{{"action", "revealFile"}, {"path", path}}}),
              std::vector<object>{missingReply});
}

TEST(RevealFile, StillRevealedWithoutAFileManagerOnTheBus) {
    TemporaryDirectory files;
    writeFile(files.file("a.txt"), "a");
    PrivateSessionBus bus(false);
    EXPECT_EQ(bus.exchange({{{"action", "revealFile"}, {"path", files.file("a.txt")}}}),
              std::vector<object>{revealReply(files.file("a.txt"))});
}

TEST(RevealFile, StillRevealedWithoutASessionBus) {
    TemporaryDirectory files;
    writeFile(files.file("a.txt"), "a");
    ProcessOptions options;
    options.environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + files.file("no-bus")}};
    // exchange() also checks that the host said nothing on standard error.
    EXPECT_EQ(exchange({{{"action", "revealFile"}, {"path", files.file("a.txt")}}}, options),
              std::vector<object>{revealReply(files.file("a.txt"))});
}

/// A socket that accepts connections and never says a word.
class SilentBus {
public:
    explicit SilentBus(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd_, 8), 0);
    }
    ~SilentBus() { close(fd_); }
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

private:
    int fd_;
};

TEST(RevealFile, ABusThatNeverAnswersDoesNotHoldTheHost) {
    TemporaryDirectory files;
    writeFile(files.file("a.txt"), "a");
    SilentBus silentBus(files.file("bus"));
    ProcessOptions options;
    options.environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + files.file("bus")}};
    // A hang guard, far above the host's own limit: left alone, the bus library would wait
    // for minutes before giving up on authentication.
    options.arguments = {"-k", "5", "60", BRINDLE_HOST_PATH};
    const ProcessResult result =
        runProcess("/usr/bin/timeout",
                   frameJSON({{"action", "revealFile"}, {"path", files.file("a.txt")}}), options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(parseFrames(result.standardOutput),
              std::vector<object>{revealReply(files.file("a.txt"))});
}

} // namespace
} // namespace brindle::testing
