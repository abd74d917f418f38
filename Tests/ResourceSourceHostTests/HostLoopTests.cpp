// The loop's handling of replies that cannot be sent, with a stand-in dispatcher.

#include "ResourceSourceHost/HostLoop.h"

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle::testing {
namespace {

using boost::json::object;

std::vector<object> runLoop(const std::string& input, const RequestHandler& handler) {
    TemporaryDirectory scratch;
    writeFile(scratch.file("in"), input);
    const int in = open(scratch.file("in").c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(scratch.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(runHost(in, out, handler), 0);
    close(in);
    close(out);
    return parseFrames(readFile(scratch.file("out")));
}

TEST(HostLoop, OversizedReplyIsReplacedAndTheLoopContinues) {
    const auto handler = [](const object& request, DirectSaveUploadStore&) -> object {
        if (request.at("size") == "big")
            return {{"ok", true}, {"blob", std::string(1048576, 'x')}};
        return {{"ok", true}};
    };
    const auto replies = runLoop(
        frame(R"({"size":"big","requestId":"r1"})") + frame(R"({"size":"small"})"), handler);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(
        replies[0],
        (object{{"ok", false}, {"error", "Native Messaging 消息长度无效"}, {"requestId", "r1"}}));
    EXPECT_EQ(replies[1], (object{{"ok", true}}));
}

TEST(HostLoop, ErrorsThatAreNotExceptionsStillGetAnAnswer) {
    const auto handler = [](const object&, DirectSaveUploadStore&) -> object { throw 42; };
    const auto replies = runLoop(frame("{}") + frame("{}"), handler);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].at("ok"), false);
}

} // namespace
} // namespace brindle::testing
