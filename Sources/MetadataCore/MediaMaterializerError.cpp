#include "MetadataCore/MediaMaterializerError.h"

#include "Platform/Result.h"

#include <system_error>

namespace brindle {
namespace {

std::string withDetail(std::string message, const std::optional<std::string>& detail) {
    if (detail && !detail->empty())
        message += "：" + *detail;
    return message;
}

} // namespace

MediaMaterializerError
MediaMaterializerError::probeFailed(const std::optional<std::string>& detail) {
    return {Case::probeFailed, withDetail("无法读取流媒体的画质信息", detail)};
}

MediaMaterializerError
MediaMaterializerError::conversionFailed(const std::optional<std::string>& detail) {
    return {Case::conversionFailed, withDetail("FFmpeg 下载或合并流媒体失败", detail)};
}

MediaMaterializerError MediaMaterializerError::replacementFailed(int errorNumber) {
    return {Case::replacementFailed,
            "无法安全替换下载文件：" + platform::errnoDescription(errorNumber), errorNumber};
}

MediaMaterializerError MediaMaterializerError::invalidManifestURL() {
    return {Case::invalidManifestURL, "HLS/DASH 播放清单地址无效"};
}

MediaMaterializerError MediaMaterializerError::invalidMediaTrackURL() {
    return {Case::invalidMediaTrackURL, "独立音视频轨道地址无效"};
}

MediaMaterializerError MediaMaterializerError::invalidMediaKind() {
    return {Case::invalidMediaKind, "流媒体类型无效"};
}

MediaMaterializerError MediaMaterializerError::invalidPath() {
    return {Case::invalidPath, "下载占位文件无效"};
}

MediaMaterializerError MediaMaterializerError::targetChanged() {
    return {Case::targetChanged, "保存目标在合并期间发生变化，已停止替换"};
}

MediaMaterializerError MediaMaterializerError::ffmpegMissing() {
    return {Case::ffmpegMissing, "未找到 FFmpeg，无法把分片视频合并为完整文件"};
}

MediaMaterializerError MediaMaterializerError::noMediaStream() {
    return {Case::noMediaStream, "播放清单中没有可合并的媒体轨道"};
}

MediaMaterializerError MediaMaterializerError::urlParserUnavailable(const std::string& reason) {
    return {Case::urlParserUnavailable, "无法载入 URL 解析库：" + reason};
}

bool MediaMaterializerError::isRetryable() const noexcept {
    switch (case_) {
    case Case::probeFailed:
    case Case::urlParserUnavailable:
    case Case::conversionFailed:
    case Case::invalidPath:
    case Case::targetChanged:
        return true;
    case Case::replacementFailed:
        return errorNumber_ == static_cast<int>(std::errc::no_such_file_or_directory) ||
               errorNumber_ == static_cast<int>(std::errc::device_or_resource_busy) ||
               errorNumber_ == static_cast<int>(std::errc::resource_unavailable_try_again) ||
               platform::isStaleFileHandle(errorNumber_);
    case Case::invalidManifestURL:
    case Case::invalidMediaTrackURL:
    case Case::invalidMediaKind:
    case Case::ffmpegMissing:
    case Case::noMediaStream:
        return false;
    }
    return false;
}

} // namespace brindle
