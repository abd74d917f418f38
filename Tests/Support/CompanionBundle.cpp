#include "Support/CompanionBundle.h"

#include <cstdlib>
#include <filesystem>

namespace brindle::testing {

namespace fs = std::filesystem;

// The Info.plist of a bundle with the identifier `identifier`.
static std::string infoPropertyList(const std::string& identifier) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>)" +
           identifier + "</string></dict></plist>\n";
}

void makeCompanionBundle(const std::string& bundle) {
    for (const char* folder : {"/Contents/MacOS", "/Contents/Resources/Tools",
                               "/Contents/Helpers/BrindleSaveUI.app/Contents"})
        fs::create_directories(bundle + folder);
    writeFile(bundle + "/Contents/Info.plist", infoPropertyList("com.vantle.kavo.helper"));
    fs::copy_file(BRINDLE_HOST_PATH, bundle + "/Contents/MacOS/brindle-host");
    writeFile(bundle + "/Contents/Helpers/BrindleSaveUI.app/Contents/Info.plist",
              infoPropertyList("com.vantle.brindle.save-ui"));
    for (const char* tool : {"ffmpeg", "ffprobe", "cwebp"})
        writeFile(bundle + "/Contents/Resources/Tools/" + tool, "#!/bin/sh\n", 0755);
}

CompanionHome::CompanionHome(bool built) {
    if (!built) {
        makeCompanionBundle(unpacked);
        return;
    }
    // Links are copied as links, so that a bundle whose tools are links fails its checks.
    fs::create_directories(home + "/Downloads");
    fs::copy(BRINDLE_BUNDLE_DIR, unpacked,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    // The save panel is a stand-in where this build has none.
    const std::string saveUI = unpacked + "/Contents/Helpers/BrindleSaveUI.app/Contents";
    if (fs::create_directories(saveUI))
        writeFile(saveUI + "/Info.plist", infoPropertyList("com.vantle.brindle.save-ui"));
}

void CompanionHome::install() const {
    fs::create_directories(home + "/Applications");
    fs::copy(unpacked, installed, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

std::vector<std::pair<std::string, std::string>> CompanionHome::names() const {
    return {{"$H", home},
            {"$D", unpacked},
            {"$A", installed},
            {"$M", manifest},
            {"$C", home + "/.config/chromium/NativeMessagingHosts/com.vantle.brindle.json"},
            {"$S", system},
            {"$P", system + "/opt/Kavo Helper.app"}};
}

std::string CompanionHome::expand(std::string text) const {
    for (const auto& [name, value] : names())
        for (auto at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

bool CompanionHome::shell(const std::string& command) const {
    std::string script;
    for (const auto& [name, value] : names())
        script += name.substr(1) + "='" + value + "'\n";
    return std::system((script + "cd \"$H\" || exit 1\n" + command).c_str()) == 0;
}

} // namespace brindle::testing
