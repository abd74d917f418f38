// The texts the user may read in an error reply that no reply in the host's tests shows, where
// they carry the system's reason, and which failures may be retried. Other tests check the case.

#include "MetadataCore/DownloadDestinationMoverError.h"
#include "MetadataCore/ImageOptimizerError.h"
#include "MetadataCore/MediaMaterializerError.h"
#include "MetadataCore/MetadataWriterError.h"
#include "MetadataCore/PropertyListError.h"
#include "ResourceSourceHost/HostActionError.h"
#include "ResourceSourceHost/ProtocolError.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace brindle {
namespace {

TEST(ErrorMessages, AreTheExactUserFacingTexts) {
    using W = MetadataWriterError;
    const std::pair<std::string, std::string> cases[] = {
        {ProtocolError::outputWriteFailed(EISDIR).what(),
         "Native Messaging 输出失败：Is a directory"},
        {W::openFailed(ELOOP).what(), "无法安全打开下载文件：Too many levels of symbolic links"},
        {W::readAttributeFailed(ENODATA).what(), "无法读取现有下载来源：No data available"},
        {W::writeAttributeFailed(ENOSPC).what(),
         "无法写入 Finder 下载来源：No space left on device"},
        {DownloadDestinationMoverError::moveFailed("Permission denied").what(),
         "无法保存到上一次路径：Permission denied"},
        {ImageOptimizerError::replacementFailed(EXDEV).what(),
         "无法安全保存 WebP：Invalid cross-device link"},
        {PropertyListError().what(), "无法生成属性列表：文本不是有效的 UTF-8"}};
    for (const auto& [message, expected] : cases)
        EXPECT_EQ(message, expected);
}

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
