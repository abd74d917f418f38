#include "CompanionCore/CompanionInstallerError.h"

#include "Platform/PathsAndText.h"

namespace brindle {

namespace {

std::string readable(const std::string& path) {
    std::string text;
    for (std::size_t offset = 0; offset < path.size();) {
        const platform::DecodedScalar scalar = platform::decodeScalar(path, offset);
        text += scalar.isUndecodable() ? "\uFFFD" : path.substr(offset, scalar.length);
        offset += scalar.length;
    }
    return text;
}

} // namespace

CompanionInstallerError CompanionInstallerError::invalidApplication(const std::string& what) {
    return {Case::invalidApplication, what, "Kavo助手安装包不完整：" + what};
}

CompanionInstallerError CompanionInstallerError::unsafePath(const std::string& path) {
    return {Case::unsafePath, path, "为保护您的文件，Kavo助手没有修改异常路径：" + path};
}

CompanionInstallerError CompanionInstallerError::unstableApplicationLocation() {
    return {Case::unstableApplicationLocation, "", "请先把Kavo助手安装到 ~/Applications 文件夹。"};
}

CompanionInstallerError CompanionInstallerError::cannotCreateManifest() {
    return {Case::cannotCreateManifest, "", "无法创建 Chrome 连接文件，请检查当前账户的文件权限。"};
}

CompanionInstallerError CompanionInstallerError::unencodablePath(const std::string& path) {
    const std::string shown = readable(path);
    return {Case::unencodablePath, shown,
            "浏览器的连接文件只能记录 UTF-8 文字的路径，Kavo助手不能使用这个位置：" + shown};
}

CompanionInstallerError CompanionInstallerError::systemWideInstallation() {
    return {Case::systemWideInstallation, "",
            "Kavo助手是以软件包为这台电脑的所有用户安装的，请用软件包管理器卸载："
            "sudo apt remove kavo-helper"};
}

} // namespace brindle
