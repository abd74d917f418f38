#include "ResourceSourceHost/FieldReaders.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

namespace brindle {
namespace {

boost::json::object parse(const char* text) {
    return boost::json::parse(text).as_object();
}

void expectMissing(const char* json) {
    try {
        requiredNonNegativeInteger("n", parse(json));
        ADD_FAILURE() << json << " was accepted";
    } catch (const ProtocolError& error) {
        EXPECT_STREQ(error.what(), "缺少字段：n") << json;
    }
}

TEST(FieldReaders, NonNegativeIntegersAreIntegralFiniteAndFitInt64) {
    EXPECT_EQ(requiredNonNegativeInteger("n", parse(R"({"n":0})")), 0);
    EXPECT_EQ(requiredNonNegativeInteger("n", parse(R"({"n":2.0})")), 2);
    EXPECT_EQ(requiredNonNegativeInteger("n", parse(R"({"n":9223372036854775807})")), INT64_MAX);
    EXPECT_EQ(requiredNonNegativeInteger("n", parse(R"({"n":1e18})")), 1000000000000000000);
    for (const char* json :
         {R"({"n":-1})", R"({"n":1.5})", R"({"n":"12"})", R"({})", R"({"n":null})", R"({"n":true})",
          R"({"n":9223372036854775808})", R"({"n":18446744073709551615})", R"({"n":1e19})",
          R"({"n":-0.5})", R"({"n":1e999999})"}) {
        expectMissing(json);
    }
}

} // namespace
} // namespace brindle
