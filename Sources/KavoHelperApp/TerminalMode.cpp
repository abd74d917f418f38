#include "KavoHelperApp/TerminalMode.h"

#include "CompanionCore/NativeHostProbe.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/FileStatus.h"

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
        for (const std::string& manifest :
             {installed.paths().manifestURL(), installed.paths().chromiumManifestURL()}) {
            if (platform::fileStatusAtPath(manifest))
                out << "Chrome 连接文件：" << manifest << "\n";
        }
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
