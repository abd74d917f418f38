#include "CompanionCore/CompanionInstallerError.h"

namespace brindle {

CompanionInstallerError CompanionInstallerError::invalidApplication(const std::string& what) {
    return {Case::invalidApplication, what, "Kavo助手安装包不完整：" + what};
}

CompanionInstallerError CompanionInstallerError::unsafePath(const std::string& path) {
    return {Case::unsafePath, path, "为保护您的文件，Kavo助手没有修改异常路径：" + path};
}

CompanionInstallerError CompanionInstallerError::unstableApplicationLocation() {
    return {Case::unstableApplicationLocation, "", "请先把Kavo助手安装到“应用程序”文件夹。"};
}

CompanionInstallerError CompanionInstallerError::cannotCreateManifest() {
    return {Case::cannotCreateManifest, "", "无法创建 Chrome 连接文件，请检查当前账户的文件权限。"};
}

} // namespace brindle
