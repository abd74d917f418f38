#include "MetadataCore/DirectSaveUploadError.h"

namespace brindle {

const char* DirectSaveUploadError::what() const noexcept {
    switch (case_) {
    case Case::invalidRequest:
        return "直接保存请求无效";
    case Case::invalidChunk:
        return "直接保存文件分块无效";
    case Case::invalidUpload:
        return "直接保存暂存文件无效";
    case Case::writeFailed:
        return "无法写入直接保存私有暂存文件";
    }
    return "直接保存暂存文件无效";
}

} // namespace brindle
