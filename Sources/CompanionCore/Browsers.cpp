#include "CompanionCore/Browsers.h"

#include <array>

namespace brindle {

namespace {

// The system-wide folders are those each browser's maker documents for hosts installed for every
// user; Brave and Vivaldi document none.
constexpr const char* chromeSystemFolder = "/etc/opt/chrome/native-messaging-hosts";
constexpr const char* edgeSystemFolder = "/etc/opt/edge/native-messaging-hosts";

constexpr std::array<ChromiumBrowser, 11> browsers = {{
    {"Google Chrome", "google-chrome", chromeSystemFolder},
    {"Google Chrome Beta", "google-chrome-beta", chromeSystemFolder},
    {"Google Chrome Dev", "google-chrome-unstable", chromeSystemFolder},
    {"Chromium", "chromium", "/etc/chromium/native-messaging-hosts"},
    {"Brave", "BraveSoftware/Brave-Browser", {}},
    {"Brave Beta", "BraveSoftware/Brave-Browser-Beta", {}},
    {"Brave Nightly", "BraveSoftware/Brave-Browser-Nightly", {}},
    {"Microsoft Edge", "microsoft-edge", edgeSystemFolder},
    {"Microsoft Edge Beta", "microsoft-edge-beta", edgeSystemFolder},
    {"Microsoft Edge Dev", "microsoft-edge-dev", edgeSystemFolder},
    {"Vivaldi", "vivaldi", {}},
}};

constexpr const char* debianChromium = "Debian 的 chromium 软件包（sudo apt install chromium）";

constexpr std::array<SandboxedBrowser, 6> sandboxed = {{
    {"Google Chrome（Flatpak）", ".var/app/com.google.Chrome",
     "Google 提供的 .deb 版 Google Chrome"},
    {"Chromium（Flatpak）", ".var/app/org.chromium.Chromium", debianChromium},
    {"Brave（Flatpak）", ".var/app/com.brave.Browser", "Brave 提供的 .deb 版 Brave"},
    {"Microsoft Edge（Flatpak）", ".var/app/com.microsoft.Edge",
     "Microsoft 提供的 .deb 版 Microsoft Edge"},
    {"Vivaldi（Flatpak）", ".var/app/com.vivaldi.Vivaldi", "Vivaldi 提供的 .deb 版 Vivaldi"},
    {"Chromium（Snap）", "snap/chromium", debianChromium},
}};

} // namespace

std::span<const ChromiumBrowser> chromiumBrowsers() {
    return browsers;
}

std::span<const SandboxedBrowser> sandboxedBrowsers() {
    return sandboxed;
}

std::string sandboxNotice(const SandboxedBrowser& browser) {
    return std::string(browser.name) +
           "：在沙盒中运行，不能启动本机助手，Kavo助手没有为它写入连接文件。请改用 " +
           std::string(browser.remedy) + "。";
}

} // namespace brindle
