#include "MetadataCore/DownloadDestinationMoverError.h"

namespace brindle {

DownloadDestinationMoverError DownloadDestinationMoverError::moveFailed(const std::string& reason) {
    return {Case::moveFailed, "无法保存到上一次路径：" + reason};
}

DownloadDestinationMoverError DownloadDestinationMoverError::invalidSource() {
    return {Case::invalidSource, "待移动的下载文件无效"};
}

DownloadDestinationMoverError DownloadDestinationMoverError::invalidDestinationDirectory() {
    return {Case::invalidDestinationDirectory, "上一次保存目录已不存在或不可写"};
}

} // namespace brindle
