// Dispatch and the error reply, through the built host.

#include "Support/HostProcess.h"

#include <boost/json/array.hpp>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using boost::json::object;

TEST(Dispatch, PingReportsVersionComponentAndCapabilities) {
    const object expected{
        {"ok", true},
        {"version", "0.8.13"},
        {"component", "base"},
        {"baseCapabilities",
         {"metadata", "finder", "webp", "hls", "dash", "separate-tracks", "last-directory",
          "direct-save-upload", "save-panel"}},
    };
    EXPECT_EQ(singleReply({{"action", "ping"}}), expected);
    // Nothing else in the request changes the reply, not even a request id.
    EXPECT_EQ(singleReply({{"action", "ping"}, {"requestId", "r1"}, {"path", "/x"}}), expected);
}

TEST(Dispatch, UnknownAndWronglyCasedActionsAreRefused) {
    for (const char* action : {"Ping", "PING", "ping ", "tagdownload", "nothing"}) {
        EXPECT_EQ(singleReply({{"action", action}}),
                  (object{{"ok", false}, {"error", "不支持的 Native Messaging 操作"}}))
            << action;
    }
}

TEST(Dispatch, MissingOrNonStringActionIsAMissingField) {
    const object missing{{"ok", false}, {"error", "缺少字段：action"}};
    EXPECT_EQ(singleReply({}), missing);
    EXPECT_EQ(singleReply({{"action", ""}}), missing);
    EXPECT_EQ(singleReply({{"action", 7}}), missing);
    EXPECT_EQ(singleReply({{"action", nullptr}}), missing);
    EXPECT_EQ(singleReply({{"action", {"ping"}}}), missing);
}

TEST(Dispatch, RequestIdIsEchoedOnlyWhenANonEmptyString) {
    EXPECT_EQ(singleReply({{"requestId", "abc"}}),
              (object{{"ok", false}, {"error", "缺少字段：action"}, {"requestId", "abc"}}));
    for (const boost::json::value& id : {boost::json::value(""), boost::json::value(12),
                                         boost::json::value(true), boost::json::value(nullptr)}) {
        EXPECT_FALSE(singleReply({{"action", "x"}, {"requestId", id}}).contains("requestId"));
    }
}

} // namespace
} // namespace brindle::testing
