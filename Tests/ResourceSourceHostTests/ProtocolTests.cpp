// The channel through the built host (framing on real files and pipes, exit status, a silent
// standard error), then the loop, dispatch, request fields, which failures may be retried and the
// cancellation markers in-process.

#include "MetadataCore/ImageOptimizerError.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/ImageOptimizationCancellation.h"
#include "ResourceSourceHost/NativeMessaging.h"
#include "ResourceSourceHost/ProtocolError.h"
#include "Support/HostProcess.h"

#include <cerrno>
#include <filesystem>

namespace brindle::testing {
namespace {

const std::string ping = frame(R"({"action":"ping"})");

object failure(const std::string& message) {
    return {{"ok", false}, {"error", message}};
}

TEST(HostBinary, AnswersEveryRequestInOrderUntilTheInputEnds) {
    EXPECT_EQ(hostReplies(""), Messages{});
    // A standard output whose reader is gone ends the host quietly as well.
    EXPECT_EQ(hostReplies(ping + ping, {{}, {}, true}), Messages{});
    const object pong = json(R"({"ok":true,"version":"0.8.13","component":"base","baseCapabilities":
        ["metadata","finder","webp","hls","dash","separate-tracks","last-directory",
         "direct-save-upload","save-panel"]})");
    // The largest body, and numbers beyond any integer or double, are still requests.
    const std::string prefix = R"({"action":"ping","padding":")";
    const std::string largest = prefix + std::string(1048576 - prefix.size() - 2, 'x') + "\"}";
    // The marker folder's path is not UTF-8, and the last reply carries it.
    TemporaryDirectory root;
    writeFile(root.file("file\xff"), "");
    ProcessOptions options;
    options.environment = {{"BRINDLE_IMAGE_CANCEL_DIR", root.file("file\xff/markers")}};
    object mended = failure("无法创建文件夹“" + root.file("file\uFFFD") + "”：Not a directory");
    mended["requestId"] = "r3";
    EXPECT_EQ(
        hostReplies(frame(largest) +
                        frame(R"({"action":"ping","n":1e999999,"m":-123456789012345678901})") +
                        frame(R"({"action":"ping","requestId":"r1"})") +
                        frame(R"({"action":"unknown","requestId":"r2"})") +
                        frame(R"({"action":"cancelImageOptimization","requestId":"r3"})"),
                    options),
        (Messages{pong, pong, pong,
                  json(R"({"ok":false,"error":"不支持的 Native Messaging 操作","requestId":"r2"})"),
                  mended}));
}

TEST(HostBinary, BrokenInputGetsOneErrorAndEndsTheHost) {
    // Each error, with the inputs that get it; a ping after the broken message is never answered.
    // An empty error stands for the JSON parser's own reason (malformed, not UTF-8).
    // The body after an oversized length would be a valid ping; it must not be read as one.
    // Length 1: "7" is valid JSON but not an object. An error reply echoes the request id; the
    // long one would be too long to send, and there is no smaller way to answer it.
    const std::pair<std::string, std::vector<std::string>> groups[] = {
        {"Native Messaging 消息头不完整", {std::string("\x02\x00", 2)}},
        {"Native Messaging 消息长度无效",
         {frameLength(1048577) + ping,
          frameJSON({{"action", "nothing"}, {"requestId", std::string(1048576 - 64, 'r')}}) +
              ping}},
        {"Native Messaging 消息内容不完整", {frameLength(10) + "{\"a\"", frameLength(10)}},
        {"Native Messaging JSON 无效",
         {frame("7") + ping, frame(R"([{"action":"ping"}])") + ping, frame(R"("ping")")}},
        {"too deep",
         {frame(std::string(100000, '[') + std::string(100000, ']')),
          frame("{\"a\":" + std::string(65, '[') + std::string(65, ']') + "}")}},
        {"",
         {frame(R"({"action":)") + ping, frame(R"({"action":"ping"} x)") + ping,
          frame("{'a':1}") + ping, frame("{\"action\":\"p\xff\xfeng\"}") + ping}}};
    for (const auto& [error, inputs] : groups) {
        for (const std::string& input : inputs) {
            const Messages answered = hostReplies(input);
            ASSERT_EQ(answered.size(), 1u) << ::testing::PrintToString(input.substr(0, 16));
            const std::string said(answered[0].at("error").as_string());
            EXPECT_NE(said, "");
            EXPECT_EQ(answered[0], failure(error.empty() ? said : error)) << said;
        }
    }
}

TEST(HostLoop, RepliesThatCannotBeSentAreReplacedAndTheLoopGoesOn) {
    const auto handler = [](const object& request, DirectSaveUploadStore&) -> object {
        if (request.contains("big"))
            return {{"blob", std::string(maximumMessageSize, 'x')}};
        if (request.contains("odd"))
            throw 42;
        return {{"ok", true}};
    };
    EXPECT_EQ(
        runHostLoop(frame(R"({"big":1,"requestId":"r1"})") + frame(R"({"odd":1})") + frame("{}"),
                    handler),
        (Messages{json(R"({"ok":false,"error":"Native Messaging 消息长度无效","requestId":"r1"})"),
                  failure("未知错误"), json(R"({"ok":true})")}));
}

TEST(Dispatch, ActionsMatchExactlyAndMissingFieldsCarryTheirStage) {
    // Replies, each with the requests that get it.
    const std::pair<const char*, std::vector<const char*>> groups[] = {
        {R"({"ok":false,"error":"不支持的 Native Messaging 操作"})",
         {R"({"action":"Ping"})", R"({"action":"ping "})", R"({"action":"tagdownload"})",
          R"({"action":"x","requestId":""})", R"({"action":"x","requestId":12})"}},
        {R"({"ok":false,"error":"缺少字段：action"})",
         {"{}", R"({"action":""})", R"({"action":7})", R"({"action":["ping"]})"}},
        {R"({"ok":false,"error":"缺少字段：action","requestId":"abc"})",
         {R"({"requestId":"abc"})"}},
        {R"({"ok":false,"error":"缺少字段：path","stage":"metadata","retryable":false})",
         {R"({"action":"tagDownload","pageUrl":"https://a.example/"})"}},
        {R"({"ok":false,"error":"缺少字段：path","stage":"destination","retryable":false})",
         {R"({"action":"moveDownload","destinationDirectory":"/tmp"})",
          R"({"action":"discardDownload"})"}},
        {R"({"ok":false,"error":"缺少字段：path","requestId":"r"})",
         {R"({"action":"optimizeImage","requestId":"r"})"}},
        {R"({"ok":false,"error":"缺少字段：requestId"})",
         {R"({"action":"cancelImageOptimization"})"}}};
    std::string input;
    Messages expected;
    for (const auto& [reply, requests] : groups)
        for (const char* request : requests) {
            input += frame(request);
            expected.push_back(json(reply));
        }
    EXPECT_EQ(runHostLoop(input), expected);
}

TEST(FieldReaders, NonNegativeIntegersAreIntegralFiniteAndFitInt64) {
    const auto read = [](const std::string& number) {
        return requiredNonNegativeInteger("n", json(R"({"n":)" + number + "}"));
    };
    EXPECT_EQ(read("0"),
              0); // an integral double (0.0) is the upload's chunk index through the host
    EXPECT_EQ(read("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(read("1e18"), 1000000000000000000);
    for (const char* number : {"-1", "1.5", "\"12\"", "null", "true", "9223372036854775808",
                               "18446744073709551615", "1e19", "-0.5", "1e999999"})
        EXPECT_EQ(caseOf<ProtocolError>([&] { read(number); }), ProtocolError::Case::missingField)
            << number;
    EXPECT_EQ(caseOf<ProtocolError>([] { requiredNonNegativeInteger("n", {}); }),
              ProtocolError::Case::missingField);
}

// Image and media errors carry their own flag in their own stage, and are not retried elsewhere;
// the host's replies show an unusable placeholder and a missing URL library retried, a refused
// link and a cancellation not.
TEST(StageRetry, ImageAndMediaErrorsInTheirOwnStage) {
    using Media = MediaMaterializerError;
    const auto optimize = FailureStage::optimize, materialize = FailureStage::materialize;
    EXPECT_TRUE(isRetryable(ImageOptimizerError::targetChanged(), optimize));
    EXPECT_TRUE(isRetryable(ImageOptimizerError::targetUnavailable(EBUSY), optimize));
    EXPECT_FALSE(isRetryable(ProtocolError::missingField("path"), optimize));
    EXPECT_FALSE(isRetryable(ImageOptimizerError::targetChanged(), FailureStage::metadata));
    for (const int passing : {ENOENT, EBUSY, EAGAIN, ESTALE})
        EXPECT_TRUE(isRetryable(Media::replacementFailed(passing), materialize));
    // 35 is EAGAIN on macOS but EDEADLK here.
    EXPECT_FALSE(isRetryable(Media::replacementFailed(EDEADLK), materialize));
    EXPECT_FALSE(isRetryable(Media::noMediaStream(), materialize));
}

using Names = std::vector<std::string>;

unsigned permissions(const std::string& path) {
    return statusOf(path).st_mode & 07777;
}

/// A marker folder inside a temporary folder, handed to the host and to this process.
class CancellationMarkers : public ::testing::Test {
protected:
    void SetUp() override { setenv("BRINDLE_IMAGE_CANCEL_DIR", markers.c_str(), 1); }
    void TearDown() override { unsetenv("BRINDLE_IMAGE_CANCEL_DIR"); }

    TemporaryDirectory root;
    std::string markers = root.file("state/Markers");
};

// The host's own "cancelImageOptimization" reply, and a marker seen by another process, are the
// optimize action's test; the folder of a marker that cannot be made is the channel's.
TEST_F(CancellationMarkers, MarkersArePrivateLeaveAFolderInTheirPlaceAndHaveADefaultFolder) {
    const auto isCancelled = imageOptimizationCancellationCheck("job-7");
    EXPECT_FALSE(isCancelled());
    markImageOptimizationCancelled("job-7");
    EXPECT_TRUE(isCancelled());
    EXPECT_EQ(readFile(markers + "/job-7"), "");
    EXPECT_EQ(permissions(markers + "/job-7"), 0600u);
    EXPECT_EQ(permissions(markers), 0700u);
    EXPECT_EQ(permissions(root.file("state")), 0700u);

    // A folder in the marker's place stays (a link is replaced as every file written whole is).
    std::filesystem::create_directories(markers + "/taken/inside");
    EXPECT_EQ(caseOf<ProtocolError>([] { markImageOptimizationCancelled("taken"); }),
              ProtocolError::Case::outputWriteFailed);
    // No temporary file is left behind.
    EXPECT_EQ(entries(markers), (Names{"job-7", "taken"}));

    // Without a folder given, the application's data folder holds them.
    setenv("BRINDLE_IMAGE_CANCEL_DIR", "", 1);
    setenv("XDG_DATA_HOME", root.file("data").c_str(), 1);
    markImageOptimizationCancelled("r1");
    unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(exists(root.file("data/Brindle/ImageOptimizationCancellations/r1")));
    EXPECT_EQ(permissions(root.file("data/Brindle")), 0700u);
}

TEST_F(CancellationMarkers, IdsOfUpTo128BytesOfLettersMarksAndDigitsAreMarkedOthersTouchNothing) {
    // 126 bytes of "图"; "e" + combining acute, "é" and separators; Arabic-Indic digits; "½", a
    // number that is not a decimal digit; "..." is a name like any other, unlike the marker
    // folder itself or its parent.
    std::string han;
    for (int i = 0; i < 42; ++i)
        han += "图";
    const std::vector<std::string> markable({"img-1", std::string(128, 'a'), han,
                                             "e\xCC\x81t\xC3\xA9-_.v2", "\xD9\xA3\xD9\xA4",
                                             "\xC2\xBD", "..."});
    const std::vector<std::string> unmarkable(
        {std::string(129, 'a'), han + "图", "a/b", "../escape", "with space", "tab\t",
         "emoji\xF0\x9F\x98\x80", "semi;colon", ".", "..", "bad\xFF", "\xE5\x9B", ""});
    for (const bool valid : {true, false})
        for (const std::string& id : valid ? markable : unmarkable) {
            const auto isCancelled = imageOptimizationCancellationCheck(id);
            if (valid) {
                EXPECT_FALSE(isCancelled()) << id;
                markImageOptimizationCancelled(id);
                markImageOptimizationCancelled(id); // cancelling twice is fine
                EXPECT_EQ(entries(markers), Names{id});
            } else {
                EXPECT_EQ(caseOf<ProtocolError>([&] { markImageOptimizationCancelled(id); }),
                          ProtocolError::Case::missingField)
                    << id;
            }
            // An id that cannot be marked counts as cancelled.
            EXPECT_TRUE(isCancelled()) << id;
            removeImageOptimizationCancellationMarker(id);
            removeImageOptimizationCancellationMarker(id); // removing what is not there is fine
            EXPECT_EQ(isCancelled(), !valid) << id;
            EXPECT_EQ(entries(markers), Names{}) << id;
        }
    EXPECT_EQ(entries(root.file("state")), Names{"Markers"});
}

} // namespace
} // namespace brindle::testing
