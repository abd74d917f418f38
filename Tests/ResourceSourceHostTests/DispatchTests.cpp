// Dispatch and the error reply, through the built host.

#include "Support/HostProcess.h"

#include <boost/json/array.hpp>
#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using boost::json::object;

object reply(const object& request) {
    const auto replies = exchange({request});
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? object{} : replies.front();
}

TEST(Dispatch, PingReportsVersionComponentAndCapabilities) {
    const object expected{
        {"ok", true},
        {"version", "0.8.13"},
        {"component", "base"},
        {"baseCapabilities",
         {"metadata", "finder", "webp", "hls", "dash", "separate-tracks", "last-directory",
          "direct-save-upload", "save-panel"}},
    };
    EXPECT_EQ(reply({{"action", "ping"}}), expected);
    // Nothing else in the request changes the reply, not even a request id.
    EXPECT_EQ(reply({{"action", "ping"}, {"requestId", "r1"}, {"path", "/x"}}), expected);
}

TEST(Dispatch, UnknownAndWronglyCasedActionsAreRefused) {
    for (const char* action : {"Ping", "PING", "ping ", "tagdownload", "nothing"}) {
        EXPECT_EQ(reply({{"action", action}}),
                  (object{{"ok", false}, {"error", "不支持的 Native Messaging 操作"}}))
            << action;
    }
}

TEST(Dispatch, MissingOrNonStringActionIsAMissingField) {
    const object missing{{"ok", false}, {"error", "缺少字段：action"}};
    EXPECT_EQ(reply({}), missing);
    EXPECT_EQ(reply({{"action", ""}}), missing);
    EXPECT_EQ(reply({{"action", 7}}), missing);
    EXPECT_EQ(reply({{"action", nullptr}}), missing);
    EXPECT_EQ(reply({{"action", {"ping"}}}), missing);
}

TEST(Dispatch, RequestIdIsEchoedOnlyWhenANonEmptyString) {
    EXPECT_EQ(reply({{"requestId", "abc"}}),
              (object{{"ok", false}, {"error", "缺少字段：action"}, {"requestId", "abc"}}));
    for (const boost::json::value& id : {boost::json::value(""), boost::json::value(12),
                                         boost::json::value(true), boost::json::value(nullptr)}) {
        EXPECT_FALSE(reply({{"action", "x"}, {"requestId", id}}).contains("requestId"));
    }
}

} // namespace
} // namespace brindle::testing
