// The host's channel, driven through real pipes and files against the built binary.

#include "Support/HostProcess.h"

#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using boost::json::object;

// Runs the host on raw input and returns its single reply, checking the exit and silence rules.
object onlyReply(const std::string& input) {
    const ProcessResult result = runHost(input);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    const auto replies = parseFrames(result.standardOutput);
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? object{} : replies.front();
}

object failure(const std::string& message) {
    return {{"ok", false}, {"error", message}};
}

TEST(Framing, EmptyInputEndsSilently) {
    const ProcessResult result = runHost("");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
}

TEST(Framing, ShortHeaderIsReported) {
    EXPECT_EQ(onlyReply(std::string("\x02\x00", 2)), failure("Native Messaging 消息头不完整"));
}

TEST(Framing, LengthZeroIsRefused) {
    EXPECT_EQ(onlyReply(frameLength(0) + "{}"), failure("Native Messaging 消息长度无效"));
}

TEST(Framing, LengthOfOneIsAcceptedAndParsed) {
    // "7" is valid JSON but not an object.
    EXPECT_EQ(onlyReply(frame("7")), failure("Native Messaging JSON 无效"));
}

TEST(Framing, LargestMessageIsAccepted) {
    const std::string prefix = R"({"action":"ping","padding":")";
    const std::string body = prefix + std::string(1048576 - prefix.size() - 2, 'x') + "\"}";
    ASSERT_EQ(body.size(), 1048576u);
    const ProcessResult result = runHost(frame(body) + frame(R"({"action":"ping"})"));
    const auto pings = parseFrames(result.standardOutput);
    ASSERT_EQ(pings.size(), 2u);
    EXPECT_EQ(pings[0], pings[1]);
    EXPECT_EQ(pings[0].at("ok"), true);
}

TEST(Framing, OversizedLengthIsRefusedBeforeTheBody) {
    // The body that follows would be a valid ping; it must not be read as one.
    EXPECT_EQ(onlyReply(frameLength(1048577) + frame(R"({"action":"ping"})")),
              failure("Native Messaging 消息长度无效"));
    EXPECT_EQ(onlyReply(frameLength(0xffffffff)), failure("Native Messaging 消息长度无效"));
}

TEST(Framing, ShortBodyIsReported) {
    EXPECT_EQ(onlyReply(frameLength(10) + "{\"a\""), failure("Native Messaging 消息内容不完整"));
    EXPECT_EQ(onlyReply(frameLength(10)), failure("Native Messaging 消息内容不完整"));
}

TEST(Framing, NonObjectJSONIsRefused) {
    EXPECT_EQ(onlyReply(frame(R"([{"action":"ping"}])")), failure("Native Messaging JSON 无效"));
    EXPECT_EQ(onlyReply(frame(R"("ping")")), failure("Native Messaging JSON 无效"));
}

TEST(Framing, MalformedJSONCarriesTheParserMessageAndEndsTheHost) {
    for (const std::string body : {R"({"action":)", R"({"action":"ping"} x)", "{'a':1}"}) {
        // A ping after the broken message is never answered.
        const ProcessResult result = runHost(frame(body) + frame(R"({"action":"ping"})"));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardError, "");
        const auto replies = parseFrames(result.standardOutput);
        ASSERT_EQ(replies.size(), 1u) << body;
        EXPECT_EQ(replies[0].size(), 2u);
        EXPECT_EQ(replies[0].at("ok"), false);
        EXPECT_FALSE(replies[0].at("error").as_string().empty());
    }
}

TEST(Framing, HostileJSONGetsAClearErrorNotACrash) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string deepObject =
        "{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
    const std::string invalidUTF8 = "{\"action\":\"p\xff\xfeng\"}";
    for (const std::string& body : {deep, deepObject, invalidUTF8}) {
        const ProcessResult result = runHost(frame(body));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.terminatingSignal, 0);
        EXPECT_EQ(result.standardError, "");
        const auto replies = parseFrames(result.standardOutput);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].at("ok"), false) << body.substr(0, 40);
        EXPECT_FALSE(replies[0].at("error").as_string().empty());
    }
}

TEST(Framing, HugeNumbersDoNotDisturbTheHost) {
    const ProcessResult result = runHost(frame(R"({"action":"ping","n":1e999999})") +
                                         frame(R"({"action":"ping","n":-123456789012345678901})"));
    EXPECT_EQ(result.exitStatus, 0);
    const auto replies = parseFrames(result.standardOutput);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].at("ok"), true);
    EXPECT_EQ(replies[1].at("ok"), true);
}

TEST(Framing, OversizedErrorReplyEndsTheHostWithAShortOne) {
    // An unknown action's error reply echoes the request id; one just under the input limit
    // pushes that reply over the output limit, and there is no smaller way to answer it.
    const std::string requestId(1048576 - 64, 'r');
    const auto replies =
        exchange({{{"action", "nothing"}, {"requestId", requestId}}, {{"action", "ping"}}});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], failure("Native Messaging 消息长度无效"));
}

TEST(Framing, ClosedStandardOutputEndsQuietly) {
    ProcessOptions options;
    options.closeStandardOutput = true;
    const ProcessResult result =
        runHost(frame(R"({"action":"ping"})") + frame(R"({"action":"ping"})"), options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.terminatingSignal, 0);
    EXPECT_EQ(result.standardError, "");
}

TEST(Framing, SeveralRequestsAreAnsweredInOrder) {
    const auto replies = exchange({
        {{"action", "ping"}},
        {{"action", "unknown"}, {"requestId", "second"}},
        {{"requestId", "third"}},
        {{"action", "ping"}, {"requestId", "fourth"}},
    });
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].at("ok"), true);
    EXPECT_EQ(replies[1].at("requestId"), "second");
    EXPECT_EQ(replies[2].at("requestId"), "third");
    EXPECT_EQ(replies[2].at("error"), "缺少字段：action");
    EXPECT_EQ(replies[3].at("version"), "0.8.13");
}

} // namespace
} // namespace brindle::testing
