#include "KavoHelperApp/TerminalMode.h"

#include "CompanionCore/NativeHostProbe.h"
#include "MetadataCore/ProductInfo.h"

namespace brindle {

int runInTerminal(const CompanionInstaller& running, std::ostream& out) {
    out << KavoProduct::companionDisplayName << " " << KavoProduct::version << "\n";
    std::string bundle = running.bundleURL();
    try {
        if (!running.isInStableApplicationsDirectory()) {
            out << "正在安装助手\n" << std::flush;
            bundle = running.installOrUpdateApplication();
            out << "已安装：" << bundle << "\n";
        }
        const CompanionInstaller installed(bundle, running.paths().homeDirectory);
        out << "正在连接 Chrome\n" << std::flush;
        installed.connect();
        out << "Chrome 连接文件：" << installed.paths().manifestURL() << "\n";
        out << "正在检查连接\n" << std::flush;
        const std::string version = NativeHostProbe::version(installed.hostURL());
        out << "本机助手已连接 · 助手版本 " << version << "\n";
        return 0;
    } catch (const std::exception& error) {
        out << "没有完成：" << error.what() << "\n";
        return 1;
    }
}

} // namespace brindle
