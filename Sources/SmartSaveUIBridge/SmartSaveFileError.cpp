#include "SmartSaveUIBridge/SmartSaveFileError.h"

#include "Platform/Result.h"

namespace brindle {

SmartSaveFileError::SmartSaveFileError(const std::string& prefix, const std::string& path,
                                       int errorNumber)
    : errorNumber_(errorNumber),
      message_(prefix + "“" + path + "”：" + platform::errnoDescription(errorNumber)) {}

SmartSaveFileError SmartSaveFileError::readFailed(const std::string& path, int errorNumber) {
    return {"无法读取文件", path, errorNumber};
}

SmartSaveFileError SmartSaveFileError::writeFailed(const std::string& path, int errorNumber) {
    return {"无法写入文件", path, errorNumber};
}

SmartSaveFileError SmartSaveFileError::directoryCreationFailed(const std::string& path,
                                                               int errorNumber) {
    return {"无法创建文件夹", path, errorNumber};
}

SmartSaveFileError SmartSaveFileError::permissionChangeFailed(const std::string& path,
                                                              int errorNumber) {
    return {"无法设置权限", path, errorNumber};
}

SmartSaveFileError SmartSaveFileError::listingFailed(const std::string& path, int errorNumber) {
    return {"无法读取文件夹", path, errorNumber};
}

} // namespace brindle
