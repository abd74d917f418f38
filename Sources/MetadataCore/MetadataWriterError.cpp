#include "MetadataCore/MetadataWriterError.h"

#include "Platform/Result.h"

namespace brindle {

MetadataWriterError MetadataWriterError::openFailed(int errorNumber) {
    return {Case::openFailed, "无法安全打开下载文件：" + platform::errnoDescription(errorNumber),
            errorNumber};
}

MetadataWriterError MetadataWriterError::readAttributeFailed(int errorNumber) {
    return {Case::readAttributeFailed,
            "无法读取现有下载来源：" + platform::errnoDescription(errorNumber), errorNumber};
}

MetadataWriterError MetadataWriterError::writeAttributeFailed(int errorNumber) {
    return {Case::writeAttributeFailed,
            "无法写入 Finder 下载来源：" + platform::errnoDescription(errorNumber), errorNumber};
}

MetadataWriterError MetadataWriterError::invalidPath() {
    return {Case::invalidPath, "下载路径无效"};
}

MetadataWriterError MetadataWriterError::notRegularFile() {
    return {Case::notRegularFile, "拒绝修改非普通文件"};
}

MetadataWriterError MetadataWriterError::ownerMismatch() {
    return {Case::ownerMismatch, "下载文件不属于当前用户"};
}

MetadataWriterError MetadataWriterError::noUsableURLs() {
    return {Case::noUsableURLs, "没有可写入的 HTTP/HTTPS 来源 URL"};
}

MetadataWriterError MetadataWriterError::invalidExistingAttribute() {
    return {Case::invalidExistingAttribute, "现有下载来源 metadata 格式无效"};
}

MetadataWriterError MetadataWriterError::visibleSourceTagFailed() {
    return {Case::visibleSourceTagFailed, "无法写入 Finder 可见来源标签"};
}

MetadataWriterError MetadataWriterError::urlParserUnavailable(const std::string& reason) {
    return {Case::urlParserUnavailable, "无法载入 URL 解析库：" + reason};
}

} // namespace brindle
