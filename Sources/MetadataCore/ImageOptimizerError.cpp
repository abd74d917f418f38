#include "MetadataCore/ImageOptimizerError.h"

#include "Platform/Result.h"

#include <algorithm>
#include <system_error>

namespace brindle {

ImageOptimizerError ImageOptimizerError::targetUnavailable(int errorNumber) {
    return {Case::targetUnavailable,
            "下载图片文件尚未就绪：" + platform::errnoDescription(errorNumber), errorNumber};
}

ImageOptimizerError ImageOptimizerError::replacementFailed(int errorNumber) {
    return {Case::replacementFailed,
            "无法安全保存 WebP：" + platform::errnoDescription(errorNumber), errorNumber};
}

ImageOptimizerError ImageOptimizerError::invalidPath() {
    return {Case::invalidPath, "下载图片文件无效"};
}

ImageOptimizerError ImageOptimizerError::cancelled() {
    return {Case::cancelled, "已取消无损 WebP 转换"};
}

ImageOptimizerError ImageOptimizerError::targetChanged() {
    return {Case::targetChanged, "图片在转换期间发生变化，已停止替换"};
}

bool ImageOptimizerError::isRetryable() const noexcept {
    switch (case_) {
    case Case::targetChanged:
        return true;
    case Case::targetUnavailable:
    case Case::replacementFailed:
        return isTransientErrorNumber(errorNumber_);
    case Case::invalidPath:
    case Case::cancelled:
        return false;
    }
    return false;
}

bool isTransientErrorNumber(int errorNumber) {
    constexpr std::errc passing[] = {std::errc::operation_not_permitted,
                                     std::errc::no_such_file_or_directory,
                                     std::errc::interrupted,
                                     std::errc::permission_denied,
                                     std::errc::device_or_resource_busy,
                                     std::errc::text_file_busy,
                                     std::errc::resource_unavailable_try_again,
                                     std::errc::timed_out};
    return platform::isStaleFileHandle(errorNumber) ||
           std::ranges::any_of(passing, [errorNumber](std::errc reason) {
               return static_cast<int>(reason) == errorNumber;
           });
}

} // namespace brindle
