#include "Support/CompanionBundle.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

namespace brindle::testing {

namespace fs = std::filesystem;

std::string replacing(std::string text, const Names& names) {
    for (const auto& [name, value] : names)
        for (auto at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

std::vector<std::vector<std::string>> tableRows(const std::string& table, std::size_t width) {
    static const std::regex separator(" *‖ *");
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        rows.emplace_back(std::sregex_token_iterator(line.begin(), line.end(), separator, -1),
                          std::sregex_token_iterator());
        rows.back().resize(width);
    }
    return rows;
}

void writeInfoPropertyList(const std::string& contents, const std::string& identifier) {
    fs::create_directories(contents);
    writeFile(contents + "/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>)" +
                                            identifier + "</string></dict></plist>\n");
}

CompanionHome::CompanionHome(bool built) {
    const std::string saveUI = unpacked + "/Contents/Helpers/BrindleSaveUI.app/Contents";
    if (built) {
        // Links are copied as links, so that a bundle whose tools are links fails its checks.
        fs::create_directories(home + "/Downloads");
        fs::copy(BRINDLE_BUNDLE_DIR, unpacked,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        // The save panel is a stand-in where this build has none.
        if (!fs::exists(saveUI))
            writeInfoPropertyList(saveUI, "com.vantle.brindle.save-ui");
        return;
    }
    writeInfoPropertyList(unpacked + "/Contents", "com.vantle.kavo.helper");
    writeInfoPropertyList(saveUI, "com.vantle.brindle.save-ui");
    fs::create_directories(unpacked + "/Contents/MacOS");
    fs::copy_file(BRINDLE_HOST_PATH, unpacked + "/Contents/MacOS/brindle-host");
    fs::create_directories(unpacked + "/Contents/Resources/Tools");
    for (const char* tool : {"ffmpeg", "ffprobe", "cwebp"})
        writeFile(unpacked + "/Contents/Resources/Tools/" + tool, "#!/bin/sh\n", 0755);
}

void CompanionHome::install() const {
    fs::create_directories(home + "/Applications");
    fs::copy(unpacked, installed, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

Names CompanionHome::names() const {
    return {{"$H", home},
            {"$D", unpacked},
            {"$A", installed},
            {"$M", manifest},
            {"$C", home + "/.config/chromium/NativeMessagingHosts/com.vantle.brindle.json"},
            {"$E", home + "/.local/share/applications/com.vantle.kavo.helper.desktop"},
            {"$S", system},
            {"$P", system + "/opt/Kavo Helper.app"}};
}

bool CompanionHome::shell(const std::string& command) const {
    std::string script;
    for (const auto& [name, value] : names())
        script += name.substr(1) + "='" + value + "'\n";
    return std::system((script + "cd \"$H\" || exit 1\n" + command).c_str()) == 0;
}

} // namespace brindle::testing
