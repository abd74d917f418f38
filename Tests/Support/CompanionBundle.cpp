#include "Support/CompanionBundle.h"

#include "Support/TemporaryDirectory.h"

#include <filesystem>

namespace brindle::testing {

std::string infoPropertyList(const std::string& identifier) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>)" +
           identifier + "</string></dict></plist>\n";
}

void makeCompanionBundle(const std::string& bundle) {
    namespace fs = std::filesystem;
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

} // namespace brindle::testing
