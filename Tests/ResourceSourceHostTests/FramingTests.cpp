// The host's channel, driven through real pipes and files against the built binary.

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace brindle::testing {
namespace {

using boost::json::object;

const std::string ping = frame(R"({"action":"ping"})");

// Runs the host on raw input and returns its replies, checking the exit and silence rules.
std::vector<object> replies(const std::string& input) {
    const ProcessResult result = runHost(input);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.terminatingSignal, 0);
    EXPECT_EQ(result.standardError, "");
    return parseFrames(result.standardOutput);
}

object failure(const std::string& message) {
    return {{"ok", false}, {"error", message}};
}

TEST(Framing, EmptyInputEndsSilently) {
    EXPECT_EQ(replies(""), std::vector<object>{});
}

TEST(Framing, BrokenFramesGetOneErrorAndEndTheHost) {
    const object badLength = failure("Native Messaging 消息长度无效");
    const object badJSON = failure("Native Messaging JSON 无效");
    const object shortBody = failure("Native Messaging 消息内容不完整");
    const std::pair<std::string, object> cases[] = {
        {std::string("\x02\x00", 2), failure("Native Messaging 消息头不完整")},
        {frameLength(0) + "{}", badLength},
        // The body after an oversized length would be a valid ping; it must not be read as one.
        {frameLength(1048577) + ping, badLength},
        {frameLength(0xffffffff), badLength},
        {frameLength(10) + "{\"a\"", shortBody},
        {frameLength(10), shortBody},
        // Length 1: "7" is valid JSON but not an object.
        {frame("7"), badJSON},
        {frame(R"([{"action":"ping"}])"), badJSON},
        {frame(R"("ping")"), badJSON},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(replies(input), std::vector<object>{expected})
            << ::testing::PrintToString(input.substr(0, 16));
}

TEST(Framing, MalformedOrHostileJSONGetsAClearErrorAndEndsTheHost) {
    for (const std::string& body :
         {std::string(R"({"action":)"), std::string(R"({"action":"ping"} x)"),
          std::string("{'a':1}"), std::string(100000, '[') + std::string(100000, ']'),
          "{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}",
          std::string("{\"action\":\"p\xff\xfeng\"}")}) {
        // A ping after the broken message is never answered.
        const auto answered = replies(frame(body) + ping);
        ASSERT_EQ(answered.size(), 1u) << body.substr(0, 40);
        EXPECT_EQ(answered[0].size(), 2u);
        EXPECT_EQ(answered[0].at("ok"), false);
        EXPECT_FALSE(answered[0].at("error").as_string().empty());
    }
}

TEST(Framing, LargestMessageAndHugeNumbersAreAccepted) {
    const std::string prefix = R"({"action":"ping","padding":")";
    const std::string body = prefix + std::string(1048576 - prefix.size() - 2, 'x') + "\"}";
    ASSERT_EQ(body.size(), 1048576u);
    const auto pings = replies(frame(body) + frame(R"({"action":"ping","n":1e999999})") +
                               frame(R"({"action":"ping","n":-123456789012345678901})") + ping);
    ASSERT_EQ(pings.size(), 4u);
    EXPECT_EQ(pings[0].at("ok"), true);
    for (const auto& reply : pings)
        EXPECT_EQ(reply, pings[0]);
}

TEST(Framing, OversizedErrorReplyEndsTheHostWithAShortOne) {
    // An unknown action's error reply echoes the request id; one just under the input limit
    // pushes that reply over the output limit, and there is no smaller way to answer it.
    const std::string requestId(1048576 - 64, 'r');
    EXPECT_EQ(exchange({{{"action", "nothing"}, {"requestId", requestId}}, {{"action", "ping"}}}),
              std::vector<object>{failure("Native Messaging 消息长度无效")});
}

TEST(Framing, ClosedStandardOutputEndsQuietly) {
    ProcessOptions options;
    options.closeStandardOutput = true;
    const ProcessResult result = runHost(ping + ping, options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.terminatingSignal, 0);
    EXPECT_EQ(result.standardError, "");
}

TEST(Framing, SeveralRequestsAreAnsweredInOrder) {
    // The marker folder's path is not UTF-8, and the last request's error text carries it.
    TemporaryDirectory root;
    writeFile(root.file("file\xff"), "");
    setenv("BRINDLE_IMAGE_CANCEL_DIR", root.file("file\xff/markers").c_str(), 1);
    const auto answered = exchange({
        {{"action", "ping"}},
        {{"action", "unknown"}, {"requestId", "second"}},
        {{"requestId", "third"}},
        {{"action", "ping"}, {"requestId", "fourth"}},
        {{"action", "cancelImageOptimization"}, {"requestId", "fifth"}},
    });
    unsetenv("BRINDLE_IMAGE_CANCEL_DIR");
    ASSERT_EQ(answered.size(), 5u);
    EXPECT_EQ(answered[0].at("ok"), true);
    EXPECT_EQ(answered[1].at("requestId"), "second");
    EXPECT_EQ(answered[2].at("requestId"), "third");
    EXPECT_EQ(answered[2].at("error"), "缺少字段：action");
    EXPECT_EQ(answered[3].at("version"), "0.8.13");
    EXPECT_NE(answered[4].at("error").as_string().find(root.file("file\uFFFD”")),
              std::string::npos);
}

} // namespace
} // namespace brindle::testing
