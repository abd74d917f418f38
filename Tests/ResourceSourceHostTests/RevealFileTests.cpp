// "revealFile" through the built host, on a private session bus whose file manager records what
// it was asked to show.

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
using Replies = std::vector<object>;

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
    Replies exchange(const Replies& requests) const {
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

    /// The URIs of each ShowItems call the file manager received.
    std::vector<boost::json::array> shownURIs() const {
        std::vector<boost::json::array> calls;
        std::istringstream lines(readFile(recordPath()));
        for (std::string line; std::getline(lines, line);) {
            const object call = boost::json::parse(line).as_object();
            EXPECT_EQ(call.at("startupId"), "");
            calls.push_back(call.at("uris").as_array());
        }
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

object reveal(const std::string& path) {
    return {{"action", "revealFile"}, {"path", path}};
}

object revealed(const std::string& path) {
    return {{"ok", true}, {"revealed", true}, {"path", path}};
}

const object missing{{"ok", true}, {"revealed", false}, {"missing", true}};

TEST(RevealFile, FileManagerIsShownTheStandardisedFileAsAPercentEncodedURI) {
    TemporaryDirectory files;
    // The expected URIs spell the temporary folder literally.
    ASSERT_EQ(files.path().find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                             "0123456789/-_."),
              std::string::npos);
    mkdir(files.file("Saved images").c_str(), 0700);
    const std::string odd = files.file("Saved images/图 1 ü%#?;~.png");
    writeFile(odd, "png");
    writeFile(files.file("a.txt"), "a");
    // Existence and folder-ness are judged through links; a link is shown as itself.
    ASSERT_EQ(symlink("a.txt", files.file("file-link").c_str()), 0);
    ASSERT_EQ(symlink("gone", files.file("dangling-link").c_str()), 0);
    ASSERT_EQ(symlink("Saved images", files.file("folder-link").c_str()), 0);
    PrivateSessionBus bus(true);

    const auto replies = bus.exchange({
        reveal(odd),
        reveal(files.path() + "/./a.txt"),
        reveal(files.path() + "/Saved images/../a.txt"),
        reveal(files.file("never-there.png")),
        reveal(files.path()),
        reveal(files.path() + "/"),
        // ".." is lexical: it steps back over "a.txt" even though that is a file.
        reveal(files.file("a.txt/..")),
        reveal(files.file("dangling-link")),
        reveal(files.file("folder-link")),
        reveal(files.file("file-link")),
    });
    EXPECT_EQ(replies, (Replies{revealed(odd), revealed(files.file("a.txt")),
                                revealed(files.file("a.txt")), missing, missing, missing, missing,
                                missing, missing, revealed(files.file("file-link"))}));
    const std::string plain = "file://" + files.file("a.txt");
    EXPECT_EQ(bus.shownURIs(), (std::vector<boost::json::array>{
                                   {"file://" + files.path() +
                                    "/Saved%20images/%E5%9B%BE%201%20%C3%BC%25%23%3F%3B~.png"},
                                   {plain},
                                   {plain},
                                   {"file://" + files.file("file-link")},
                               }));
}

TEST(RevealFile, UnusablePathsAreRefused) {
    const object invalid{{"ok", false}, {"error", "Finder 定位路径无效"}};
    const object missingField{{"ok", false}, {"error", "缺少字段：path"}};
    const auto replies = exchange({
        reveal("relative/file.png"),
        reveal("./file.png"),
        reveal(std::string("/tmp/a\0b", 8)),
        reveal("/" + std::string(8192, 'a')),
        reveal("/" + std::string(8191, 'a')), // the longest path: examined, and not there
        reveal(""),
        {{"action", "revealFile"}, {"path", 7}},
    });
    EXPECT_EQ(replies,
              (Replies{invalid, invalid, invalid, invalid, missing, missingField, missingField}));
}

TEST(RevealFile, StillRevealedWithoutAFileManagerOnTheBus) {
    TemporaryDirectory files;
    writeFile(files.file("a.txt"), "a");
    PrivateSessionBus bus(false);
    EXPECT_EQ(bus.exchange({reveal(files.file("a.txt"))}), Replies{revealed(files.file("a.txt"))});
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

TEST(RevealFile, StillRevealedWithoutASessionBusOrWithOneThatNeverAnswers) {
    TemporaryDirectory files;
    writeFile(files.file("a.txt"), "a");
    SilentBus silentBus(files.file("silent-bus"));
    for (const char* bus : {"no-bus", "silent-bus"}) {
        ProcessOptions options;
        options.environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + files.file(bus)}};
        // A hang guard, far above the host's own limit: left alone, the bus library would wait
        // for minutes before giving up on authentication.
        options.arguments = {"-k", "5", "60", BRINDLE_HOST_PATH};
        const ProcessResult result =
            runProcess("/usr/bin/timeout", frameJSON(reveal(files.file("a.txt"))), options);
        EXPECT_EQ(result.exitStatus, 0) << bus;
        EXPECT_EQ(result.standardError, "") << bus;
        EXPECT_EQ(parseFrames(result.standardOutput), Replies{revealed(files.file("a.txt"))});
    }
}

} // namespace
} // namespace brindle::testing
