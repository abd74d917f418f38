// Which failures may be retried, in which stage. Other tests check the case.

#include "MetadataCore/ImageOptimizerError.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace brindle {
namespace {

// Image and media errors carry their own flag in their own stage, and are not retried elsewhere;
// the refusals an image reply shows are the optimize action's test.
TEST(StageRetry, ImageAndMediaErrorsInTheirOwnStage) {
    EXPECT_TRUE(isRetryable(ImageOptimizerError::targetChanged(), FailureStage::optimize));
    EXPECT_TRUE(isRetryable(ImageOptimizerError::targetUnavailable(EBUSY), FailureStage::optimize));
    EXPECT_FALSE(isRetryable(ProtocolError::missingField("path"), FailureStage::optimize));
    // Outside the image stage an image error is not retried.
    EXPECT_FALSE(isRetryable(ImageOptimizerError::targetChanged(), FailureStage::metadata));
    using Error = MediaMaterializerError;
    for (const int passing : {ENOENT, EBUSY, EAGAIN, ESTALE})
        EXPECT_TRUE(isRetryable(Error::replacementFailed(passing), FailureStage::materialize));
    // 35 is EAGAIN on macOS but EDEADLK here.
    EXPECT_FALSE(isRetryable(Error::replacementFailed(EDEADLK), FailureStage::materialize));
    EXPECT_TRUE(isRetryable(Error::conversionFailed(), FailureStage::materialize));
    EXPECT_FALSE(isRetryable(Error::noMediaStream(), FailureStage::materialize));
    EXPECT_FALSE(isRetryable(Error::targetChanged(), FailureStage::metadata));
}

} // namespace
} // namespace brindle
